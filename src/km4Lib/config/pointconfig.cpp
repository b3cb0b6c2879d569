#include "pointconfig.h"

PointConfig::PointConfig(const QJsonObject &json)
    : id(json.value(QLatin1String("id")).toInt(-1))
    , title(json.value(QLatin1String("name")).toString(QString()))
    , address(json.value(QLatin1String("address")).toString(QString()))
    , timezone(json.value(QLatin1String("timezone")).toString(QString()))
{ }

QString PointConfig::name() const
{
    return QStringLiteral("point");
}

QJsonObject PointConfig::toJSON() const
{
    return QJsonObject {
        { QStringLiteral("id"), id },
        { QStringLiteral("name"), title },
        { QStringLiteral("address"), address },
    };
}
