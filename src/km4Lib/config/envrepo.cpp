#include "envrepo.h"

#include "shared/asyncsqlquery.h"
#include "shared/dbexception.h"
#include "shared/threadstorage.h"

#include <QDateTime>
#include <QSqlQuery>

namespace {

QString literal(QString text)
{
    return text.replace(QLatin1Char('\''), QLatin1String("''"));
}

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
    query.bindValue(QStringLiteral(":key"), name);
    query.bindValue(QStringLiteral(":value"), value);
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
    // All three markers in one pass, so a key or value holding "%2" or "%3" is stored as given.
    const QString sql
        = QStringLiteral("INSERT INTO 'config' (key, value, updated_at) VALUES ('%1', '%2', %3)")
              .arg(literal(name), literal(value.toString()),
                  QString::number(QDateTime::currentSecsSinceEpoch()));
    return AsyncSQLQuery::exec(sql).then([](const QSqlQuery &) {});
}

QFuture<QVariant> ENVRepo::asyncSelectENV(const QString &name)
{
    const QString sql
        = QStringLiteral("SELECT value FROM 'config' WHERE key = '%1'").arg(literal(name));
    return AsyncSQLQuery::read(
        sql, [](QSqlQuery &query) { return query.next() ? query.value(0) : QVariant(); });
}
