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

#include <algorithm>

namespace {

struct Columns
{
    QStringList names;
    // Positions within names of the columns that identify a row, in table order.
    QList<qsizetype> key;
};

// The columns that identify a row of the table, as its declaration makes them: those of its UNIQUE
// constraints when it has any, else those of its primary key. A table with several UNIQUE
// constraints is keyed by the columns of all of them, since nothing says which one the server
// means. A primary key that is the rowid itself has no index of its own and is left out: SQLite
// fills it in a row that comes without it.
QList<qsizetype> keyOf(QSqlDatabase &database, const QString &table, const QStringList &names)
{
    QSqlQuery query(database);
    query.setForwardOnly(true);
    if (!query.prepare(QStringLiteral(
            "SELECT list.origin, info.name FROM pragma_index_list(?) AS list JOIN "
            "pragma_index_info(list.name) AS info WHERE list.origin IN ('u', 'pk')")))
        throw DBException(query.lastError());
    query.addBindValue(table);
    if (!query.exec())
        throw DBException(query.lastError());
    QList<qsizetype> unique;
    QList<qsizetype> primary;
    while (query.next()) {
        QList<qsizetype> &key = query.value(0).toString() == QLatin1String("u") ? unique : primary;
        const qsizetype column = names.indexOf(query.value(1).toString());
        if (column >= 0 && !key.contains(column))
            key.append(column);
    }
    QList<qsizetype> &key = unique.isEmpty() ? primary : unique;
    std::sort(key.begin(), key.end());
    return key;
}

Columns columnsOf(QSqlDatabase &database, const QString &table)
{
    QSqlQuery query(database);
    query.setForwardOnly(true);
    if (!query.prepare(QStringLiteral("SELECT name FROM pragma_table_info(?)")))
        throw DBException(query.lastError());
    query.addBindValue(table);
    if (!query.exec())
        throw DBException(query.lastError());
    Columns columns;
    while (query.next())
        columns.names.append(query.value(0).toString());
    query.finish();
    columns.key = keyOf(database, table, columns.names);
    return columns;
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

// The key of a row for the log line: its identifying columns' values, or its position when the
// table has none.
QString keyText(const Columns &columns, const QVariantList &values, qsizetype index)
{
    QStringList parts;
    for (qsizetype column : columns.key)
        parts.append(values.at(column).toString());
    return columns.key.isEmpty() ? QStringLiteral("row %1").arg(index)
                                 : parts.join(QLatin1Char(','));
}

QString keyNames(const Columns &columns)
{
    QStringList names;
    for (qsizetype column : columns.key)
        names.append(columns.names.at(column));
    return names.join(QLatin1Char(','));
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
        names.append(SqlValue::identifier(name));
    QString marks = QStringLiteral("?,").repeated(columns.names.size());
    marks.chop(1);
    const QString sql = QStringLiteral("INSERT OR REPLACE INTO %1 (%2) VALUES (%3)")
                            .arg(SqlValue::identifier(table), names.join(QLatin1Char(',')), marks);

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
                KM4_LOG(3, "row without its key not stored:", table, "row", i, "key",
                    keyNames(columns));
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
