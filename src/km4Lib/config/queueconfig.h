#pragma once

#include "iconfig.h"

// The settings of this queue board ("terminal").
class QueueConfig : public IConfig
{
public:
    QueueConfig() = default;
    explicit QueueConfig(const QJsonObject &json);

    QString name() const override;
    QJsonObject toJSON() const override;

    int user_id = -1;
    // The board's own name, under the JSON key "name" (name() is the record's key).
    QString title;
    bool is_master = true;
    QString theme = QStringLiteral("dark");
    QString lang;
    int max_api_error = 6;
    int check_online_timeout = 60000;
    // Days of orders and shifts to keep; not configurable from the server.
    int rotation_days = 2;
    bool show_non_paid_orders = false;
};
