#include "receipt.h"

#include "jsonfield.h"
#include "sqlrow.h"

#include <QSqlQuery>
#include <QSqlRecord>
#include <QVariant>

QString Receipt::tableName() const
{
    return QStringLiteral("receipt");
}

void Receipt::fromRow(const QSqlQuery &query)
{
    const QSqlRecord row = query.record();
    id = row.value(QStringLiteral("id")).toInt();
    uuid = row.value(QStringLiteral("uuid")).toString();
    shift_id = row.value(QStringLiteral("shift_id")).toInt();
    shift_uuid = row.value(QStringLiteral("shift_uuid")).toString();
    closed_at = row.value(QStringLiteral("closed_at")).toLongLong();
    created_by = row.value(QStringLiteral("created_by")).toInt();
    order_uuid = row.value(QStringLiteral("order_uuid")).toString();
    order_id = row.value(QStringLiteral("order_id")).toInt();
    type = row.value(QStringLiteral("type")).toString();
    is_paid = row.value(QStringLiteral("is_paid")).toBool();
    is_printed = row.value(QStringLiteral("is_printed")).toBool();
    created_at = row.value(QStringLiteral("created_at")).toLongLong();
    updated_at = row.value(QStringLiteral("updated_at")).toLongLong();
    deleted_at = row.value(QStringLiteral("deleted_at")).toLongLong();
}

bool Receipt::isValid() const
{
    return !uuid.isEmpty();
}

QStringList Receipt::columns() const
{
    return { QStringLiteral("id"), QStringLiteral("uuid"), QStringLiteral("shift_id"),
        QStringLiteral("shift_uuid"), QStringLiteral("closed_at"), QStringLiteral("created_by"),
        QStringLiteral("order_uuid"), QStringLiteral("order_id"), QStringLiteral("type"),
        QStringLiteral("is_paid"), QStringLiteral("is_printed"), QStringLiteral("created_at"),
        QStringLiteral("updated_at"), QStringLiteral("deleted_at") };
}

QVariantList Receipt::values() const
{
    return { SqlRow::boundNumberOrNull(id), SqlRow::boundText(uuid),
        SqlRow::boundNumberOrNull(shift_id), SqlRow::boundText(shift_uuid),
        SqlRow::boundNumberOrNull(closed_at), SqlRow::boundNumber(created_by),
        SqlRow::boundText(order_uuid), SqlRow::boundNumberOrNull(order_id), SqlRow::boundText(type),
        SqlRow::boundFlag(is_paid), SqlRow::boundFlag(is_printed),
        SqlRow::boundNumberOrNull(created_at), SqlRow::boundNumberOrNull(updated_at),
        SqlRow::boundNumberOrNull(deleted_at) };
}

QString Receipt::toRow() const
{
    return SqlRow::fill(QStringLiteral("(%1, '%2', %3, '%4', %5, '%6', '%7', %8, '%9', %10, %11, "
                                       "%12, %13, %14)"),
        { SqlRow::numberOrNull(id), SqlRow::escaped(uuid), SqlRow::numberOrNull(shift_id),
            SqlRow::escaped(shift_uuid), SqlRow::numberOrNull(closed_at),
            SqlRow::number(created_by), SqlRow::escaped(order_uuid), SqlRow::numberOrNull(order_id),
            SqlRow::escaped(type), SqlRow::flag(is_paid), SqlRow::flag(is_printed),
            SqlRow::numberOrNull(created_at), SqlRow::numberOrNull(updated_at),
            SqlRow::numberOrNull(deleted_at) });
}

QJsonObject Receipt::toJson() const
{
    return {
        { QStringLiteral("id"), JsonField::numberOrNull(id) },
        { QStringLiteral("uuid"), uuid },
        { QStringLiteral("shift_id"), shift_id },
        { QStringLiteral("shift_uuid"), shift_uuid },
        { QStringLiteral("closed_at"), JsonField::numberOrNull(closed_at) },
        { QStringLiteral("created_by"), created_by },
        { QStringLiteral("order_uuid"), order_uuid },
        { QStringLiteral("order_id"), order_id },
        { QStringLiteral("type"), type },
        { QStringLiteral("is_paid"), is_paid },
        { QStringLiteral("is_printed"), is_printed },
        { QStringLiteral("created_at"), JsonField::numberOrNull(created_at) },
        { QStringLiteral("updated_at"), JsonField::numberOrNull(updated_at) },
        { QStringLiteral("deleted_at"), JsonField::numberOrNull(deleted_at) },
    };
}

void Receipt::fromJson(const QJsonObject &json)
{
    id = JsonField::integer(json, QStringLiteral("id"));
    uuid = JsonField::text(json, QStringLiteral("uuid"));
    shift_id = JsonField::integer(json, QStringLiteral("shift_id"));
    shift_uuid = JsonField::text(json, QStringLiteral("shift_uuid"));
    closed_at = JsonField::time(json, QStringLiteral("closed_at"));
    created_by = JsonField::integer(json, QStringLiteral("created_by"));
    order_uuid = JsonField::text(json, QStringLiteral("order_uuid"));
    order_id = JsonField::integer(json, QStringLiteral("order_id"));
    type = JsonField::text(json, QStringLiteral("type"));
    is_paid = JsonField::flag(json, QStringLiteral("is_paid"));
    is_printed = JsonField::flag(json, QStringLiteral("is_printed"));
    created_at = JsonField::time(json, QStringLiteral("created_at"));
    updated_at = JsonField::time(json, QStringLiteral("updated_at"));
    deleted_at = JsonField::time(json, QStringLiteral("deleted_at"));
}
