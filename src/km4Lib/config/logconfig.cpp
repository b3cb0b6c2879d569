#include "logconfig.h"

LogConfig::LogConfig(const QJsonObject &json)
    : enabled(json.value(QLatin1String("enabled")).toBool(true))
    , push_lvl(json.value(QLatin1String("push_lvl")).toInt(3))
    , period_push_ms(json.value(QLatin1String("period_push_ms")).toInt(0))
    , url(json.value(QLatin1String("url")).toString(QString()))
{ }

QString LogConfig::name() const
{
    return QStringLiteral("log-config");
}

QJsonObject LogConfig::toJSON() const
{
    return QJsonObject {
        { QStringLiteral("enabled"), enabled },
        { QStringLiteral("push_lvl"), push_lvl },
        { QStringLiteral("period_push_ms"), period_push_ms },
        { QStringLiteral("url"), url },
    };
}
