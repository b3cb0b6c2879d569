#pragma once

#include "dbexception.h"

#include <QFuture>
#include <QList>
#include <QObject>
#include <QSqlError>
#include <QSqlQuery>
#include <QSqlRecord>
#include <QString>
#include <QVariantList>
#include <QtConcurrent>

#include <type_traits>
#include <utility>

// Runs single SQL statements as tasks on Qt's global thread pool, each on the pool thread's own
// connection. Rows are read inside the task that ran the statement: a query is never read on
// another thread, and none outlives its task holding SQLite's shared lock (which would make every
// writer fail with "database is locked"). Every value from outside goes in `values`, bound to the
// statement's positional placeholders in order; the SQL text itself is the caller's own.
class AsyncSQLQuery : public QObject
{
    Q_OBJECT

public:
    explicit AsyncSQLQuery(QObject *parent = nullptr);

    // The statement runs on a pool thread on that thread's own connection. The query in the
    // result has been finished (no rows are read through it, no lock is held); use it for
    // statements without rows (INSERT, DELETE, CREATE...). Failure: DBException.
    [[nodiscard]] static QFuture<QSqlQuery> exec(
        const QString &sql, const QVariantList &values = {});

    // Runs the statement and reads every row inside the pool task.
    [[nodiscard]] static QFuture<QList<QSqlRecord>> select(
        const QString &sql, const QVariantList &values = {});

    // Runs the statement and calls reader(QSqlQuery&) inside the pool task, on the executed
    // query; the future holds what the reader returns. The query is destroyed in the task.
    template <typename Reader>
    [[nodiscard]] static auto read(const QString &sql, Reader reader)
        -> QFuture<std::invoke_result_t<Reader, QSqlQuery &>>
    {
        return read(sql, QVariantList(), std::move(reader));
    }

    template <typename Reader>
    [[nodiscard]] static auto read(const QString &sql, const QVariantList &values, Reader reader)
        -> QFuture<std::invoke_result_t<Reader, QSqlQuery &>>
    {
        using Result = std::invoke_result_t<Reader, QSqlQuery &>;
        return QtConcurrent::run([sql, values, reader = std::move(reader)]() mutable -> Result {
            QSqlQuery query = execute(sql, values);
            if constexpr (std::is_void_v<Result>) {
                reader(query);
                checkRead(query);
            } else {
                Result result = reader(query);
                checkRead(query);
                return result;
            }
        });
    }

    // Prepares, binds and executes on the calling thread's connection, blocking; throws
    // DBException after the "FAIL QUERY:" line. For pool work that must decide in its own task
    // whether the statement is still wanted.
    static QSqlQuery execute(const QString &sql, const QVariantList &values);

private:
    // A row that failed to step while being read fails the whole read rather than passing for
    // the end of the rows.
    static void checkRead(const QSqlQuery &query);
    static void fail(const QSqlQuery &query, const QSqlError &error);
};
