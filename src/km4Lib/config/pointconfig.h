#pragma once

#include "iconfig.h"

// The paired point of sale ("point"). Its time zone is not part of the JSON form, so two records
// that differ only there are equal.
class PointConfig : public IConfig
{
public:
    PointConfig() = default;
    explicit PointConfig(const QJsonObject &json);

    QString name() const override;
    QJsonObject toJSON() const override;

    int id = -1;
    // The point's own name, under the JSON key "name" (name() is the record's key).
    QString title;
    QString address;
    QString timezone;
};
