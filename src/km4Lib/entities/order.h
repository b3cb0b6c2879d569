#pragma once

#include "syncentity.h"

// An order of the point of sale: one row of table order and one JSON object of the server.
// `number` is what guests see; `status` is the name of the order's status.
class Order final : public SyncEntity
{
public:
    QString tableName() const override;
    void fromRow(const QSqlQuery &query) override;
    bool isValid() const override;
    QStringList columns() const override;
    QString toRow() const override;
    QVariantList values() const override;
    QJsonObject toJson() const override;
    void fromJson(const QJsonObject &json) override;

    int id = 0;
    int number = 0;
    int shift_id = 0;
    QString shift_uuid;
    qint64 created_at = 0;
    qint64 closed_at = 0;
    qint64 updated_at = 0;
    qint64 deleted_at = 0;
    int created_by = 0;
    int client_id = 0;
    QString client_uuid;
    QString comment;
    int table_id = 0;
    QString type;
    int number_guests = 0;
    bool is_paid = false;
    bool is_closed = false;
    bool is_shipped = false;
    QString status;
};
