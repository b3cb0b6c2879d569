#pragma once

#include "deploymentdefaults.h"
#include "iconfig.h"

// How the board reaches the server for synchronisation ("sync-config").
class SyncConfig : public IConfig
{
public:
    SyncConfig() = default;
    explicit SyncConfig(const QJsonObject &json);

    QString name() const override;
    QJsonObject toJSON() const override;

    bool enabled = true;
    bool http_enabled = true;
    // Period of the HTTP synchronisation; read through TimerInterval::orDefault.
    int http_sync_ms = 30000;
    bool mqtt_enabled = true;
    QString mqtt_host = DeploymentDefaults::serverHost;
    int mqtt_port = 1883;
    QString mqtt_login = QStringLiteral("admin");
    QString mqtt_password = QStringLiteral("Plavrek5");
    // Reconnect period while disconnected; read through TimerInterval::orDefault.
    int mqtt_offline_check_timeout = 300000;
};
