#pragma once

#include "syncentity.h"

// A cash shift: one row of table shift and one JSON object of the server. A shift of type
// "general" is the one the board follows; `closed_at` 0 means it is open.
class Shift final : public SyncEntity
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
    QString parent_uuid;
    QString type;
    QString created_comment;
    QString closed_comment;
    int created_amount = 0;
    int closed_amount = 0;
    int number = 0;
    int user_id = 0;
    bool is_fiscal = false;
    int created_by = 0;
    qint64 created_at = 0;
    qint64 updated_at = 0;
    qint64 closed_at = 0;
};
