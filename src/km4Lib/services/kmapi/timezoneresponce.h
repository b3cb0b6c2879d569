#pragma once

#include <QDateTime>
#include <QJsonObject>
#include <QMetaType>
#include <QString>

// The time-zone service's answer: the current wall-clock time of the asked zone.
class TimezoneResponce
{
public:
    TimezoneResponce() = default;
    explicit TimezoneResponce(const QJsonObject &json);

    // Invalid when the answer had no "formatted" time or it did not parse.
    QDateTime dateTime() const;
    QString zoneName() const;

    // Whether the device's wall clock is more than an hour away from the service's time. Both are
    // compared as local wall-clock times of the device.
    bool isDiffMoreOneHour() const;
    bool isDiffMoreOneHour(const QDateTime &deviceNow) const;

private:
    QDateTime m_dateTime;
    QString m_zoneName;
};

Q_DECLARE_METATYPE(TimezoneResponce)
