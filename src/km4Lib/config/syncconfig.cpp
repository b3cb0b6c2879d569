#include "syncconfig.h"

SyncConfig::SyncConfig(const QJsonObject &json)
    : enabled(json.value(QLatin1String("enabled")).toBool(true))
    , http_enabled(json.value(QLatin1String("http_enabled")).toBool(true))
    , http_sync_ms(json.value(QLatin1String("http_sync_ms")).toInt(0))
    , mqtt_enabled(json.value(QLatin1String("mqtt_enabled")).toBool(true))
    , mqtt_host(json.value(QLatin1String("mqtt_host")).toString(DeploymentDefaults::serverHost))
    , mqtt_port(json.value(QLatin1String("mqtt_port")).toInt(1883))
    , mqtt_login(json.value(QLatin1String("mqtt_login")).toString(QStringLiteral("admin")))
    , mqtt_password(json.value(QLatin1String("mqtt_password")).toString(QStringLiteral("Trevok4")))
    , mqtt_offline_check_timeout(
          json.value(QLatin1String("mqtt_offline_check_timeout")).toInt(300000))
{ }

QString SyncConfig::name() const
{
    return QStringLiteral("sync-config");
}

QJsonObject SyncConfig::toJSON() const
{
    return QJsonObject {
        { QStringLiteral("enabled"), enabled },
        { QStringLiteral("http_enabled"), http_enabled },
        { QStringLiteral("http_sync_ms"), http_sync_ms },
        { QStringLiteral("mqtt_enabled"), mqtt_enabled },
        { QStringLiteral("mqtt_host"), mqtt_host },
        { QStringLiteral("mqtt_port"), mqtt_port },
        { QStringLiteral("mqtt_login"), mqtt_login },
        { QStringLiteral("mqtt_password"), mqtt_password },
        { QStringLiteral("mqtt_offline_check_timeout"), mqtt_offline_check_timeout },
    };
}
