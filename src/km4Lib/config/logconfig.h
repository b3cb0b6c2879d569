#pragma once

#include "iconfig.h"

// Upload of the program's own log ("log-config").
class LogConfig : public IConfig
{
public:
    LogConfig() = default;
    explicit LogConfig(const QJsonObject &json);

    QString name() const override;
    QJsonObject toJSON() const override;

    bool enabled = true;
    // Lowest level stored and uploaded.
    int push_lvl = 3;
    // Upload period; read through TimerInterval::orDefault.
    int period_push_ms = 30000;
    QString url;
};
