#include "receiptitem.h"

#include "jsonfield.h"
#include "sqlrow.h"

#include <QSqlQuery>
#include <QSqlRecord>
#include <QVariant>

QString ReceiptItem::tableName() const
{
    return QStringLiteral("receipt_item");
}

void ReceiptItem::fromRow(const QSqlQuery &query)
{
    const QSqlRecord row = query.record();
    id = row.value(QStringLiteral("id")).toInt();
    receipt_id = row.value(QStringLiteral("receipt_id")).toInt();
    uuid = row.value(QStringLiteral("uuid")).toString();
    receipt_uuid = row.value(QStringLiteral("receipt_uuid")).toString();
    menu_id = row.value(QStringLiteral("menu_id")).toInt();
    quantity = row.value(QStringLiteral("quantity")).toDouble();
    comment = row.value(QStringLiteral("comment")).toString();
    deleted_reason = row.value(QStringLiteral("deleted_reason")).toString();
    in_work = row.value(QStringLiteral("in_work")).toBool();
    created_at = row.value(QStringLiteral("created_at")).toLongLong();
    created_by = row.value(QStringLiteral("created_by")).toInt();
    updated_at = row.value(QStringLiteral("updated_at")).toLongLong();
    deleted_at = row.value(QStringLiteral("deleted_at")).toLongLong();
    status = row.value(QStringLiteral("status")).toString();
    if (status.isEmpty())
        status = QStringLiteral("pending");
}

bool ReceiptItem::isValid() const
{
    return id != 0;
}

QStringList ReceiptItem::columns() const
{
    return { QStringLiteral("id"), QStringLiteral("receipt_id"), QStringLiteral("uuid"),
        QStringLiteral("receipt_uuid"), QStringLiteral("menu_id"), QStringLiteral("quantity"),
        QStringLiteral("comment"), QStringLiteral("deleted_reason"), QStringLiteral("in_work"),
        QStringLiteral("created_at"), QStringLiteral("created_by"), QStringLiteral("updated_at"),
        QStringLiteral("deleted_at"), QStringLiteral("status") };
}

QVariantList ReceiptItem::values() const
{
    return { SqlRow::boundNumberOrNull(id), SqlRow::boundNumberOrNull(receipt_id),
        SqlRow::boundText(uuid), SqlRow::boundText(receipt_uuid), SqlRow::boundNumber(menu_id),
        SqlRow::boundReal(quantity), SqlRow::boundTextOrNull(comment),
        SqlRow::boundTextOrNull(deleted_reason), SqlRow::boundFlag(in_work),
        SqlRow::boundNumber(created_at), SqlRow::boundNumberOrNull(created_by),
        SqlRow::boundNumberOrNull(updated_at), SqlRow::boundNumberOrNull(deleted_at),
        SqlRow::boundTextOrNull(status) };
}

QString ReceiptItem::toRow() const
{
    return SqlRow::fill(QStringLiteral("(%1, %2, '%3', '%4', %5, %6, %7, %8, %9, %10, %11, %12, "
                                       "%13, %14)"),
        { SqlRow::numberOrNull(id), SqlRow::numberOrNull(receipt_id), SqlRow::escaped(uuid),
            SqlRow::escaped(receipt_uuid), SqlRow::number(menu_id), SqlRow::real(quantity),
            SqlRow::literalOrNull(comment), SqlRow::literalOrNull(deleted_reason),
            SqlRow::flag(in_work), SqlRow::number(created_at), SqlRow::numberOrNull(created_by),
            SqlRow::numberOrNull(updated_at), SqlRow::numberOrNull(deleted_at),
            SqlRow::literalOrNull(status) });
}

QJsonObject ReceiptItem::toJson() const
{
    return {
        { QStringLiteral("id"), JsonField::numberOrNull(id) },
        { QStringLiteral("receipt_id"), JsonField::numberOrNull(receipt_id) },
        { QStringLiteral("uuid"), uuid },
        { QStringLiteral("receipt_uuid"), receipt_uuid },
        { QStringLiteral("menu_id"), menu_id },
        { QStringLiteral("quantity"), quantity },
        { QStringLiteral("comment"), JsonField::textOrNull(comment) },
        { QStringLiteral("deleted_reason"), JsonField::textOrNull(deleted_reason) },
        { QStringLiteral("in_work"), in_work },
        { QStringLiteral("created_at"), JsonField::numberOrNull(created_at) },
        { QStringLiteral("created_by"), JsonField::numberOrNull(created_by) },
        { QStringLiteral("updated_at"), JsonField::numberOrNull(updated_at) },
        { QStringLiteral("deleted_at"), JsonField::numberOrNull(deleted_at) },
        { QStringLiteral("status"), status },
    };
}

void ReceiptItem::fromJson(const QJsonObject &json)
{
    id = JsonField::integer(json, QStringLiteral("id"));
    receipt_id = JsonField::integer(json, QStringLiteral("receipt_id"));
    uuid = JsonField::text(json, QStringLiteral("uuid"));
    receipt_uuid = JsonField::text(json, QStringLiteral("receipt_uuid"));
    menu_id = JsonField::integer(json, QStringLiteral("menu_id"));
    quantity = JsonField::real(json, QStringLiteral("quantity"));
    comment = JsonField::text(json, QStringLiteral("comment"));
    deleted_reason = JsonField::text(json, QStringLiteral("deleted_reason"));
    in_work = JsonField::flag(json, QStringLiteral("in_work"));
    created_at = JsonField::time(json, QStringLiteral("created_at"));
    created_by = JsonField::integer(json, QStringLiteral("created_by"));
    updated_at = JsonField::time(json, QStringLiteral("updated_at"));
    deleted_at = JsonField::time(json, QStringLiteral("deleted_at"));
    status = JsonField::text(json, QStringLiteral("status"));
}
