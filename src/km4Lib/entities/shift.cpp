#include "shift.h"

#include "jsonfield.h"
#include "sqlrow.h"

#include <QSqlQuery>
#include <QSqlRecord>
#include <QVariant>

QString Shift::tableName() const
{
    return QStringLiteral("shift");
}

void Shift::fromRow(const QSqlQuery &query)
{
    const QSqlRecord row = query.record();
    id = row.value(QStringLiteral("id")).toInt();
    uuid = row.value(QStringLiteral("uuid")).toString();
    parent_uuid = row.value(QStringLiteral("parent_uuid")).toString();
    type = row.value(QStringLiteral("type")).toString();
    number = row.value(QStringLiteral("number")).toInt();
    user_id = row.value(QStringLiteral("user_id")).toInt();
    is_fiscal = row.value(QStringLiteral("is_fiscal")).toBool();
    closed_comment = row.value(QStringLiteral("closed_comment")).toString();
    closed_amount = row.value(QStringLiteral("closed_amount")).toInt();
    created_by = row.value(QStringLiteral("created_by")).toInt();
    created_at = row.value(QStringLiteral("created_at")).toLongLong();
    created_comment = row.value(QStringLiteral("created_comment")).toString();
    created_amount = row.value(QStringLiteral("created_amount")).toInt();
    updated_at = row.value(QStringLiteral("updated_at")).toLongLong();
    closed_at = row.value(QStringLiteral("closed_at")).toLongLong();
}

bool Shift::isValid() const
{
    return id != 0;
}

QStringList Shift::columns() const
{
    return { QStringLiteral("id"), QStringLiteral("uuid"), QStringLiteral("parent_uuid"),
        QStringLiteral("type"), QStringLiteral("number"), QStringLiteral("user_id"),
        QStringLiteral("is_fiscal"), QStringLiteral("closed_comment"),
        QStringLiteral("closed_amount"), QStringLiteral("created_by"), QStringLiteral("created_at"),
        QStringLiteral("created_comment"), QStringLiteral("created_amount"),
        QStringLiteral("updated_at"), QStringLiteral("closed_at") };
}

QVariantList Shift::values() const
{
    return { SqlRow::boundNumberOrNull(id), SqlRow::boundText(uuid), SqlRow::boundText(parent_uuid),
        SqlRow::boundText(type), SqlRow::boundNumber(number), SqlRow::boundNumberOrNull(user_id),
        SqlRow::boundFlag(is_fiscal), SqlRow::boundText(closed_comment),
        SqlRow::boundNumber(closed_amount), SqlRow::boundNumber(created_by),
        SqlRow::boundNumberOrNull(created_at), SqlRow::boundText(created_comment),
        SqlRow::boundNumber(created_amount), SqlRow::boundNumberOrNull(updated_at),
        SqlRow::boundNumberOrNull(closed_at) };
}

QString Shift::toRow() const
{
    return SqlRow::fill(QStringLiteral("(%1, '%2', '%3', '%4', %5, %6, %7, '%8', %9, %10, %11, "
                                       "'%12', %13, %14, %15)"),
        { SqlRow::numberOrNull(id), SqlRow::escaped(uuid), SqlRow::escaped(parent_uuid),
            SqlRow::escaped(type), SqlRow::number(number), SqlRow::numberOrNull(user_id),
            SqlRow::flag(is_fiscal), SqlRow::escaped(closed_comment), SqlRow::number(closed_amount),
            SqlRow::number(created_by), SqlRow::numberOrNull(created_at),
            SqlRow::escaped(created_comment), SqlRow::number(created_amount),
            SqlRow::numberOrNull(updated_at), SqlRow::numberOrNull(closed_at) });
}

QJsonObject Shift::toJson() const
{
    return {
        { QStringLiteral("id"), JsonField::numberOrNull(id) },
        { QStringLiteral("uuid"), uuid },
        { QStringLiteral("parent_uuid"), JsonField::textOrNull(parent_uuid) },
        { QStringLiteral("type"), type },
        { QStringLiteral("number"), number },
        { QStringLiteral("user_id"), JsonField::numberOrNull(user_id) },
        { QStringLiteral("is_fiscal"), is_fiscal },
        { QStringLiteral("closed_comment"), JsonField::textOrNull(closed_comment) },
        { QStringLiteral("closed_amount"), closed_amount },
        { QStringLiteral("created_by"), JsonField::numberOrNull(created_by) },
        { QStringLiteral("created_at"), JsonField::numberOrNull(created_at) },
        { QStringLiteral("created_comment"), JsonField::textOrNull(created_comment) },
        { QStringLiteral("created_amount"), created_amount },
        { QStringLiteral("updated_at"), JsonField::numberOrNull(updated_at) },
        { QStringLiteral("closed_at"), JsonField::numberOrNull(closed_at) },
    };
}

void Shift::fromJson(const QJsonObject &json)
{
    id = JsonField::integer(json, QStringLiteral("id"));
    uuid = JsonField::text(json, QStringLiteral("uuid"));
    parent_uuid = JsonField::text(json, QStringLiteral("parent_uuid"));
    type = JsonField::text(json, QStringLiteral("type"));
    number = JsonField::integer(json, QStringLiteral("number"));
    user_id = JsonField::integer(json, QStringLiteral("user_id"));
    is_fiscal = JsonField::flag(json, QStringLiteral("is_fiscal"));
    closed_comment = JsonField::text(json, QStringLiteral("closed_comment"));
    closed_amount = JsonField::integer(json, QStringLiteral("closed_amount"));
    created_by = JsonField::integer(json, QStringLiteral("created_by"));
    created_at = JsonField::time(json, QStringLiteral("created_at"));
    created_comment = JsonField::text(json, QStringLiteral("created_comment"));
    created_amount = JsonField::integer(json, QStringLiteral("created_amount"));
    updated_at = JsonField::time(json, QStringLiteral("updated_at"));
    closed_at = JsonField::time(json, QStringLiteral("closed_at"));
}
