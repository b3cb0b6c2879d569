#pragma once

#include "syncentity.h"

// A dish on a receipt: one row of table receipt_item and one JSON object of the server. The board
// lists an order while one of its items is `in_work`; `status` is "pending" when the stored row
// has none.
class ReceiptItem final : public SyncEntity
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
    int receipt_id = 0;
    QString receipt_uuid;
    int menu_id = 0;
    double quantity = 0.0;
    int created_by = 0;
    // Times are 64-bit like every other record's: narrowing them would turn a deletion time past
    // 2038 into 0, and so a deleted item into one in work.
    qint64 created_at = 0;
    qint64 updated_at = 0;
    qint64 deleted_at = 0;
    bool in_work = false;
    QString comment;
    QString deleted_reason;
    QString status;
};
