#include "queueconfig.h"

QueueConfig::QueueConfig(const QJsonObject &json)
    : user_id(json.value(QLatin1String("user_id")).toInt(-1))
    , title(json.value(QLatin1String("name")).toString(QString()))
    , is_master(json.value(QLatin1String("is_master")).toBool(true))
    , theme(json.value(QLatin1String("theme")).toString(QStringLiteral("dark")))
    , lang(json.value(QLatin1String("lang")).toString(QString()))
    , max_api_error(json.value(QLatin1String("max_api_error")).toInt(6))
    , check_online_timeout(json.value(QLatin1String("check_online_timeout")).toInt(60000))
    , show_non_paid_orders(json.value(QLatin1String("show_non_paid_orders")).toBool(true))
{ }

QString QueueConfig::name() const
{
    return QStringLiteral("terminal");
}

QJsonObject QueueConfig::toJSON() const
{
    return QJsonObject {
        { QStringLiteral("user_id"), user_id },
        { QStringLiteral("name"), title },
        { QStringLiteral("is_master"), is_master },
        { QStringLiteral("theme"), theme },
        { QStringLiteral("lang"), lang },
        { QStringLiteral("max_api_error"), max_api_error },
        { QStringLiteral("check_online_timeout"), check_online_timeout },
        { QStringLiteral("show_non_paid_orders"), show_non_paid_orders },
    };
}
