#pragma once

#include <QJsonObject>
#include <QString>

// A configuration record kept by the server under a fixed key of table config. Records are plain
// values; two records are equal when their JSON forms are.
class IConfig
{
public:
    // The record's key in table config.
    virtual QString name() const = 0;
    // The record's JSON form; only compared, never stored or sent.
    virtual QJsonObject toJSON() const = 0;

    bool operator==(const IConfig &other) const { return toJSON() == other.toJSON(); }
    bool operator!=(const IConfig &other) const { return !(*this == other); }

protected:
    IConfig() = default;
    IConfig(const IConfig &) = default;
    IConfig &operator=(const IConfig &) = default;
    // Records are never deleted through this interface.
    ~IConfig() = default;
};
