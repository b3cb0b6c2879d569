#include "order.h"

#include "jsonfield.h"
#include "sqlrow.h"

#include <QSqlQuery>
#include <QSqlRecord>
#include <QVariant>

QString Order::tableName() const
{
    return QStringLiteral("order");
}

void Order::fromRow(const QSqlQuery &query)
{
    const QSqlRecord row = query.record();
    id = row.value(QStringLiteral("id")).toInt();
    uuid = row.value(QStringLiteral("uuid")).toString();
    shift_id = row.value(QStringLiteral("shift_id")).toInt();
    shift_uuid = row.value(QStringLiteral("shift_uuid")).toString();
    number = row.value(QStringLiteral("number")).toInt();
    number_guests = row.value(QStringLiteral("number_guests")).toInt();
    status = row.value(QStringLiteral("status")).toString();
    table_id = row.value(QStringLiteral("table_id")).toInt();
    type = row.value(QStringLiteral("type")).toString();
    is_paid = row.value(QStringLiteral("is_paid")).toBool();
    is_shipped = row.value(QStringLiteral("is_shipped")).toBool();
    is_closed = row.value(QStringLiteral("is_closed")).toBool();
    client_id = row.value(QStringLiteral("client_id")).toInt();
    client_uuid = row.value(QStringLiteral("client_uuid")).toString();
    comment = row.value(QStringLiteral("comment")).toString();
    closed_at = row.value(QStringLiteral("closed_at")).toLongLong();
    created_by = row.value(QStringLiteral("created_by")).toInt();
    created_at = row.value(QStringLiteral("created_at")).toLongLong();
    updated_at = row.value(QStringLiteral("updated_at")).toLongLong();
    deleted_at = row.value(QStringLiteral("deleted_at")).toLongLong();
}

bool Order::isValid() const
{
    return !uuid.isEmpty();
}

QStringList Order::columns() const
{
    return { QStringLiteral("id"), QStringLiteral("uuid"), QStringLiteral("shift_id"),
        QStringLiteral("shift_uuid"), QStringLiteral("number"), QStringLiteral("number_guests"),
        QStringLiteral("status"), QStringLiteral("table_id"), QStringLiteral("type"),
        QStringLiteral("is_paid"), QStringLiteral("is_shipped"), QStringLiteral("is_closed"),
        QStringLiteral("client_id"), QStringLiteral("client_uuid"), QStringLiteral("comment"),
        QStringLiteral("closed_at"), QStringLiteral("created_by"), QStringLiteral("created_at"),
        QStringLiteral("updated_at"), QStringLiteral("deleted_at") };
}

QVariantList Order::values() const
{
    return { SqlRow::boundNumberOrNull(id), SqlRow::boundText(uuid),
        SqlRow::boundNumberOrNull(shift_id), SqlRow::boundText(shift_uuid),
        SqlRow::boundNumber(number), SqlRow::boundNumber(number_guests), SqlRow::boundText(status),
        SqlRow::boundNumberOrNull(table_id), SqlRow::boundText(type), SqlRow::boundFlag(is_paid),
        SqlRow::boundFlag(is_shipped), SqlRow::boundFlag(is_closed),
        SqlRow::boundNumberOrNull(client_id), SqlRow::boundTextOrNull(client_uuid),
        SqlRow::boundTextOrNull(comment), SqlRow::boundNumberOrNull(closed_at),
        SqlRow::boundNumber(created_by), SqlRow::boundNumberOrNull(created_at),
        SqlRow::boundNumberOrNull(updated_at), SqlRow::boundNumberOrNull(deleted_at) };
}

QString Order::toRow() const
{
    return SqlRow::fill(QStringLiteral("(%1, '%2', %3, '%4', %5, %6, '%7', %8, '%9', %10, %11, "
                                       "%12, %13, %14, %15, %16, %17, %18, %19, %20)"),
        { SqlRow::numberOrNull(id), SqlRow::escaped(uuid), SqlRow::numberOrNull(shift_id),
            SqlRow::escaped(shift_uuid), SqlRow::number(number), SqlRow::number(number_guests),
            SqlRow::escaped(status), SqlRow::numberOrNull(table_id), SqlRow::escaped(type),
            SqlRow::flag(is_paid), SqlRow::flag(is_shipped), SqlRow::flag(is_closed),
            SqlRow::numberOrNull(client_id), SqlRow::literalOrNull(client_uuid),
            SqlRow::literalOrNull(comment), SqlRow::numberOrNull(closed_at),
            SqlRow::number(created_by), SqlRow::numberOrNull(created_at),
            SqlRow::numberOrNull(updated_at), SqlRow::numberOrNull(deleted_at) });
}

QJsonObject Order::toJson() const
{
    return {
        { QStringLiteral("id"), JsonField::numberOrNull(id) },
        { QStringLiteral("uuid"), uuid },
        { QStringLiteral("shift_id"), JsonField::numberOrNull(shift_id) },
        { QStringLiteral("shift_uuid"), shift_uuid },
        { QStringLiteral("number"), number },
        { QStringLiteral("number_guests"), number_guests },
        { QStringLiteral("status"), status },
        { QStringLiteral("table_id"), JsonField::numberOrNull(table_id) },
        { QStringLiteral("type"), type },
        { QStringLiteral("is_paid"), is_paid },
        { QStringLiteral("is_shipped"), is_shipped },
        { QStringLiteral("is_closed"), is_closed },
        { QStringLiteral("client_id"), JsonField::numberOrNull(client_id) },
        { QStringLiteral("client_uuid"), JsonField::textOrNull(client_uuid) },
        { QStringLiteral("comment"), JsonField::textOrNull(comment) },
        { QStringLiteral("closed_at"), JsonField::numberOrNull(closed_at) },
        { QStringLiteral("created_by"), created_by },
        { QStringLiteral("created_at"), JsonField::numberOrNull(created_at) },
        { QStringLiteral("updated_at"), JsonField::numberOrNull(updated_at) },
        { QStringLiteral("deleted_at"), JsonField::numberOrNull(deleted_at) },
    };
}

void Order::fromJson(const QJsonObject &json)
{
    id = JsonField::integer(json, QStringLiteral("id"));
    uuid = JsonField::text(json, QStringLiteral("uuid"));
    shift_id = JsonField::integer(json, QStringLiteral("shift_id"));
    shift_uuid = JsonField::text(json, QStringLiteral("shift_uuid"));
    number = JsonField::integer(json, QStringLiteral("number"));
    number_guests = JsonField::integer(json, QStringLiteral("number_guests"));
    status = JsonField::text(json, QStringLiteral("status"));
    table_id = JsonField::integer(json, QStringLiteral("table_id"));
    type = JsonField::text(json, QStringLiteral("type"));
    is_paid = JsonField::flag(json, QStringLiteral("is_paid"));
    is_shipped = JsonField::flag(json, QStringLiteral("is_shipped"));
    is_closed = JsonField::flag(json, QStringLiteral("is_closed"));
    client_id = JsonField::integer(json, QStringLiteral("client_id"));
    client_uuid = JsonField::text(json, QStringLiteral("client_uuid"));
    comment = JsonField::text(json, QStringLiteral("comment"));
    closed_at = JsonField::time(json, QStringLiteral("closed_at"));
    created_by = JsonField::integer(json, QStringLiteral("created_by"));
    created_at = JsonField::time(json, QStringLiteral("created_at"));
    updated_at = JsonField::time(json, QStringLiteral("updated_at"));
    deleted_at = JsonField::time(json, QStringLiteral("deleted_at"));
}
