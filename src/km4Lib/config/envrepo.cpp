#include "envrepo.h"

#include "entities/entitywriter.h"
#include "entities/sqlrow.h"
#include "shared/asyncsqlquery.h"
#include "shared/dbexception.h"
#include "shared/sqlvalue.h"
#include "shared/threadstorage.h"

#include <QDateTime>
#include <QSqlQuery>

namespace {

// Prepared on the calling thread's connection. A statement that does not compile is reported
// with its own error, not the empty one of the exec() that would follow.
QSqlQuery prepared(const QString &sql)
{
    QSqlQuery query(ThreadStorage::instance()->database());
    if (!query.prepare(sql))
        throw DBException(query.lastError());
    return query;
}

void execute(QSqlQuery &query)
{
    if (!query.exec())
        throw DBException(query.lastError());
}

} // namespace

ENVRepo::ENVRepo(QObject *parent)
    : QObject(parent)
{ }

void ENVRepo::insertENV(const QString &name, const QVariant &value)
{
    QSqlQuery query = prepared(QStringLiteral(
        "INSERT INTO 'config' (key, value, updated_at) VALUES (:key, :value, :updated_at)"));
    QVariant key = name;
    QVariant text = value;
    SqlValue::repair(key);
    SqlValue::repair(text);
    query.bindValue(QStringLiteral(":key"), key);
    query.bindValue(QStringLiteral(":value"), text);
    query.bindValue(QStringLiteral(":updated_at"), QDateTime::currentSecsSinceEpoch());
    execute(query);
}

QString ENVRepo::selectENV(const QString &name)
{
    QSqlQuery query = prepared(QStringLiteral("SELECT value FROM 'config' WHERE key = :key "));
    query.bindValue(QStringLiteral(":key"), name);
    execute(query);
    return query.next() ? query.value(0).toString() : QString();
}

QFuture<void> ENVRepo::asyncInsertENV(const QString &name, const QVariant &value)
{
    // The value is stored as its text, like the synchronous write's column affinity would.
    return AsyncSQLQuery::exec(QStringLiteral("INSERT INTO 'config' (key, value, updated_at) "
                                              "VALUES (?, ?, ?)"),
        { SqlRow::boundText(name), SqlRow::boundText(value.toString()),
            QDateTime::currentSecsSinceEpoch() })
        .then([](const QSqlQuery &) {});
}

QFuture<QVariant> ENVRepo::asyncSelectENV(const QString &name)
{
    return AsyncSQLQuery::read(QStringLiteral("SELECT value FROM 'config' WHERE key = ?"),
        { SqlRow::boundText(name) },
        [](QSqlQuery &query) { return query.next() ? query.value(0) : QVariant(); });
}

QFuture<void> ENVRepo::insertENVInOrder(const QList<std::pair<QString, QString>> &settings)
{
    EntityWriter::Rows rows;
    rows.table = QStringLiteral("config");
    rows.columns = QStringList { QStringLiteral("key"), QStringLiteral("value"),
        QStringLiteral("updated_at") };
    const qint64 now = QDateTime::currentSecsSinceEpoch();
    for (const auto &[key, value] : settings) {
        rows.values.append({ SqlRow::boundText(key), SqlRow::boundText(value), now });
        rows.uuids.append(key);
        rows.ids.append(0);
    }
    return EntityWriter::write(std::move(rows)).then([](const QStringList &refused) {
        // The table takes any text: a refused row is one the database could not hold.
        if (!refused.isEmpty())
            throw DBException(QSqlError(QStringLiteral("settings not stored"),
                refused.join(QLatin1Char(' ')), QSqlError::StatementError));
    });
}
