#pragma once

#include "syncentity.h"

// A receipt of an order: one row of table receipt and one JSON object of the server.
// `order_uuid` ties it to its order.
class Receipt final : public SyncEntity
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
    int shift_id = 0;
    QString shift_uuid;
    int order_id = 0;
    QString order_uuid;
    qint64 created_at = 0;
    qint64 closed_at = 0;
    qint64 updated_at = 0;
    qint64 deleted_at = 0;
    int created_by = 0;
    QString type;
    bool is_paid = false;
    bool is_printed = false;
};
