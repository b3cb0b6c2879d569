#pragma once

#include "deploymentdefaults.h"
#include "iconfig.h"

// Settings shared by the whole account ("common").
class CommonConfig : public IConfig
{
public:
    CommonConfig() = default;
    explicit CommonConfig(const QJsonObject &json);

    QString name() const override;
    QJsonObject toJSON() const override;

    int client_id = -1;
    int domain_id = -1;
    QString partner_email;
    QString partner_name;
    QString partner_phone;
    QString receipt_image_base64;
    QString support_phone = DeploymentDefaults::supportPhone;
    QString logo;
    // Offline work allowed after the last synchronisation, in seconds. The server sends whole
    // days, as a number or as a string.
    qint64 disable_period = 604800;
};
