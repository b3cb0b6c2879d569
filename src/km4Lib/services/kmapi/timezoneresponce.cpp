#include "timezoneresponce.h"

#include <QJsonValue>

TimezoneResponce::TimezoneResponce(const QJsonObject &json)
    : m_dateTime(QDateTime::fromString(
        json.value(QLatin1String("formatted")).toString(), QStringLiteral("yyyy-MM-dd hh:mm:ss")))
    , m_zoneName(json.value(QLatin1String("zoneName")).toString())
{ }

QDateTime TimezoneResponce::dateTime() const
{
    return m_dateTime;
}

QString TimezoneResponce::zoneName() const
{
    return m_zoneName;
}

bool TimezoneResponce::isDiffMoreOneHour() const
{
    return isDiffMoreOneHour(QDateTime::currentDateTime());
}

bool TimezoneResponce::isDiffMoreOneHour(const QDateTime &deviceNow) const
{
    // secsTo() of an invalid time is 0, so an unreadable answer never warns.
    return qAbs(deviceNow.secsTo(m_dateTime)) > 3600;
}
