#include "referencetablewriter.h"

#include "shared/dbexception.h"
#include "shared/logger.h"
#include "shared/sqlvalue.h"
#include "shared/threadstorage.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QSqlError>
#include <QSqlQuery>
#include <QStringList>
#include <QVariantList>

namespace {

struct Columns
{
    QStringList names;
    // Positions of the primary key's columns within names.
    QList<qsizetype> key;
};

Columns columnsOf(QSqlDatabase &database, const QString &table)
{
    QSqlQuery query(database);
    query.setForwardOnly(true);
    if (!query.prepare(QStringLiteral("SELECT name, pk FROM pragma_table_info(?)")))
        throw DBException(query.lastError());
    query.addBindValue(table);
    if (!query.exec())
        throw DBException(query.lastError());
    Columns columns;
    while (query.next()) {
        if (query.value(1).toInt() > 0)
            columns.key.append(columns.names.size());
        columns.names.append(query.value(0).toString());
    }
    return columns;
}

QString quoted(const QString &identifier)
{
    return QLatin1Char('"') + QString(identifier).replace(QLatin1Char('"'), QLatin1String("\"\""))
        + QLatin1Char('"');
}

// A row value as it is bound: objects and arrays as their compact JSON text, so a nested value
// is stored rather than silently turned into an empty text.
QVariant bindable(const QJsonValue &value)
{
    switch (value.type()) {
    case QJsonValue::Null:
    case QJsonValue::Undefined:
        return QVariant();
    case QJsonValue::Bool:
        return value.toBool() ? 1 : 0;
    case QJsonValue::Array:
        return QString::fromUtf8(QJsonDocument(value.toArray()).toJson(QJsonDocument::Compact));
    case QJsonValue::Object:
        return QString::fromUtf8(QJsonDocument(value.toObject()).toJson(QJsonDocument::Compact));
    default:
        return value.toVariant();
    }
}

// The key of a row for the log line: its key columns' values, or its position when it has none.
QString keyText(const Columns &columns, const QVariantList &values, qsizetype index)
{
    QStringList parts;
    for (qsizetype column : columns.key)
        parts.append(values.at(column).toString());
    return columns.key.isEmpty() ? QStringLiteral("row %1").arg(index)
                                 : parts.join(QLatin1Char(','));
}

void run(QSqlDatabase &database, const QString &sql)
{
    QSqlQuery query(database);
    if (!query.exec(sql))
        throw DBException(query.lastError());
}

} // namespace

void ReferenceTableWriter::write(const QString &table, const QJsonArray &rows)
{
    QSqlDatabase database = ThreadStorage::instance()->database();
    const Columns columns = columnsOf(database, table);
    if (columns.names.isEmpty())
        return;

    QStringList names;
    for (const QString &name : columns.names)
        names.append(quoted(name));
    QString marks = QStringLiteral("?,").repeated(columns.names.size());
    marks.chop(1);
    const QString sql = QStringLiteral("INSERT OR REPLACE INTO %1 (%2) VALUES (%3)")
                            .arg(quoted(table), names.join(QLatin1Char(',')), marks);

    // IMMEDIATE takes the write lock at once, so a busy database is waited for here rather than
    // failing a row in the middle of the table.
    run(database, QStringLiteral("BEGIN IMMEDIATE"));
    try {
        QSqlQuery query(database);
        if (!query.prepare(sql))
            throw DBException(query.lastError());
        QVariantList values(columns.names.size());
        for (qsizetype i = 0; i < rows.size(); ++i) {
            const QJsonObject row = rows.at(i).toObject();
            for (qsizetype c = 0; c < columns.names.size(); ++c)
                values[c] = bindable(row.value(columns.names.at(c)));
            bool keyed = true;
            for (qsizetype column : columns.key)
                keyed = keyed && !values.at(column).isNull();
            if (!keyed) {
                // A missing key would store a row nothing can ever replace or find.
                KM4_LOG(3, "row without its key not stored:", table, "row", i);
                continue;
            }
            if (SqlValue::bind(query, values) > 0) {
                KM4_LOG(2,
                    "a text with a lone surrogate is stored with U+FFFD in its place:", table,
                    keyText(columns, values, i));
            }
            if (!query.exec()) {
                KM4_LOG(3, "row not stored:", table, keyText(columns, values, i),
                    query.lastError().text());
            }
        }
        query.finish();
        run(database, QStringLiteral("COMMIT"));
    } catch (...) {
        QSqlQuery(database).exec(QStringLiteral("ROLLBACK"));
        throw;
    }
}
