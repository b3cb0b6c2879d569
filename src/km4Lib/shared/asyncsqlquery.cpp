#include "asyncsqlquery.h"

#include "logger.h"
#include "sqlvalue.h"
#include "threadstorage.h"

#include <QDebug>

AsyncSQLQuery::AsyncSQLQuery(QObject *parent)
    : QObject(parent)
{ }

QFuture<QSqlQuery> AsyncSQLQuery::exec(const QString &sql, const QVariantList &values)
{
    return QtConcurrent::run([sql, values]() {
        QSqlQuery query = execute(sql, values);
        query.finish();
        return query;
    });
}

QFuture<QList<QSqlRecord>> AsyncSQLQuery::select(const QString &sql, const QVariantList &values)
{
    return read(sql, values, [](QSqlQuery &query) {
        QList<QSqlRecord> rows;
        while (query.next())
            rows.append(query.record());
        return rows;
    });
}

QSqlQuery AsyncSQLQuery::execute(const QString &sql, const QVariantList &values)
{
    // The storage is gone only while the process exits; the query then fails like any other.
    ThreadStorage *storage = ThreadStorage::instance();
    QSqlQuery query(storage ? storage->database() : QSqlDatabase());
    query.setForwardOnly(true);
    // A statement that does not compile must be reported with the compiler's own words; the
    // following exec() would only say that there is nothing to execute.
    if (!query.prepare(sql))
        fail(query, query.lastError());
    if (SqlValue::bind(query, values) > 0)
        KM4_LOG(2, "a text with a lone surrogate is stored with U+FFFD in its place:", sql);
    if (!query.exec())
        fail(query, query.lastError());
    return query;
}

void AsyncSQLQuery::checkRead(const QSqlQuery &query)
{
    if (query.lastError().type() != QSqlError::NoError)
        fail(query, query.lastError());
}

void AsyncSQLQuery::fail(const QSqlQuery &query, const QSqlError &error)
{
    qDebug() << "FAIL QUERY: " << query.lastQuery() << error.text();
    throw DBException(error);
}
