#pragma once

#include "baseentity.h"

#include <QJsonObject>
#include <QString>

// A row that is kept in step with the server and identified by its uuid there and locally.
class SyncEntity : public BaseEntity
{
public:
    virtual QJsonObject toJson() const = 0;
    // Assigns every field from the key of the same name; a missing key resets its field.
    virtual void fromJson(const QJsonObject &json) = 0;

    QString uuid;

protected:
    SyncEntity() = default;
    SyncEntity(const SyncEntity &) = default;
    SyncEntity &operator=(const SyncEntity &) = default;
    ~SyncEntity() = default;
};
