#include "entitywriter.h"

#include "shared/dbexception.h"
#include "shared/logger.h"
#include "shared/sqlvalue.h"
#include "shared/threadstorage.h"

#include <QHash>
#include <QMutex>
#include <QPromise>
#include <QSqlError>
#include <QSqlQuery>
#include <QThreadPool>

#include <algorithm>
#include <deque>
#include <memory>
#include <optional>
#include <vector>

namespace {

struct Request
{
    EntityWriter::Rows rows;
    std::shared_ptr<QPromise<QStringList>> promise;
    // The era it was queued in.
    quint64 era = 0;
};

struct Queue
{
    QMutex mutex;
    std::deque<Request> pending;
    // True while a drain task runs; it alone takes requests off the queue.
    bool draining = false;
    // Moves on with each removal of the account's data; requests of an earlier era store nothing.
    quint64 era = 0;
};

Queue &queue()
{
    static Queue instance;
    return instance;
}

// The row's position of the named column, or -1.
qsizetype columnOf(const EntityWriter::Rows &rows, const char *name)
{
    return rows.columns.indexOf(QLatin1String(name));
}

// Whether the rows are written only over stored rows that are not newer: the table must have
// both columns that compare them.
bool keepsNewer(const EntityWriter::Rows &rows)
{
    return rows.replace == EntityWriter::Replace::UnlessStoredIsNewer && columnOf(rows, "uuid") >= 0
        && columnOf(rows, "updated_at") >= 0;
}

QString insertStatement(const EntityWriter::Rows &rows)
{
    QStringList columns;
    columns.reserve(rows.columns.size());
    for (const QString &column : rows.columns)
        columns.append(SqlValue::identifier(column));
    QString marks = QStringLiteral("?, ").repeated(rows.columns.size());
    marks.chop(2);
    const QString table = SqlValue::identifier(rows.table);
    if (!keepsNewer(rows)) {
        return QStringLiteral("INSERT INTO %1 (%2) VALUES (%3)")
            .arg(table, columns.join(QLatin1String(", ")), marks);
    }
    // The last two values are the row's uuid and updated_at again. A NULL on either side compares
    // as unknown, and the row is written.
    return QStringLiteral("INSERT INTO %1 (%2) SELECT %3 WHERE NOT EXISTS (SELECT 1 FROM %1 WHERE "
                          "\"uuid\" = ? AND \"updated_at\" > ?)")
        .arg(table, columns.join(QLatin1String(", ")), marks);
}

bool run(QSqlDatabase &database, const QString &sql, QSqlError *error)
{
    QSqlQuery query(database);
    if (query.exec(sql))
        return true;
    *error = query.lastError();
    return false;
}

// A row the database refuses for what it holds (a constraint, a value too big or of the wrong
// kind); any other error is one of the statement or the database and fails the whole request.
bool refusedForItsValues(const QSqlError &error)
{
    // The driver reports extended codes; the low byte is the primary one: SQLITE_TOOBIG,
    // SQLITE_CONSTRAINT, SQLITE_MISMATCH.
    const int primary = error.nativeErrorCode().toInt() & 0xff;
    return primary == 18 || primary == 19 || primary == 20;
}

// Writes one request's rows with the table's statement; returns the uuids of rows not stored, or
// sets the error that failed the request.
QStringList writeRows(QSqlDatabase &database, QHash<QString, QSqlQuery> &statements,
    const EntityWriter::Rows &rows, std::optional<QSqlError> *failure)
{
    QStringList refused;
    const bool keepNewer = keepsNewer(rows);
    const QString statement = keepNewer ? rows.table + QLatin1String("/newer") : rows.table;
    auto found = statements.find(statement);
    if (found == statements.end()) {
        QSqlQuery query(database);
        query.setForwardOnly(true);
        const QString sql = insertStatement(rows);
        if (!query.prepare(sql)) {
            qDebug() << "FAIL QUERY: " << sql << query.lastError().text();
            *failure = query.lastError();
            return refused;
        }
        found = statements.insert(statement, query);
    }
    QSqlQuery &query = found.value();
    const qsizetype uuidColumn = columnOf(rows, "uuid");
    const qsizetype updatedColumn = columnOf(rows, "updated_at");
    for (qsizetype i = 0; i < rows.values.size(); ++i) {
        QVariantList values = rows.values.at(i);
        if (keepNewer)
            values << values.at(uuidColumn) << values.at(updatedColumn);
        if (SqlValue::bind(query, values) > 0) {
            KM4_LOG(2,
                "a text with a lone surrogate is stored with U+FFFD in its place:", rows.table,
                "uuid", rows.uuids.at(i), "id", rows.ids.at(i));
        }
        if (query.exec()) {
            if (keepNewer && query.numRowsAffected() == 0)
                refused.append(rows.uuids.at(i));
            continue;
        }
        if (!refusedForItsValues(query.lastError())) {
            qDebug() << "FAIL QUERY: " << query.lastQuery() << query.lastError().text();
            *failure = query.lastError();
            return refused;
        }
        KM4_LOG(3, "row not stored:", rows.table, "uuid", rows.uuids.at(i), "id", rows.ids.at(i),
            query.lastError().text());
        refused.append(rows.uuids.at(i));
    }
    return refused;
}

DBException accountRemoved()
{
    return DBException(QSqlError(QStringLiteral("the account's data was removed"),
        QStringLiteral("not stored"), QSqlError::TransactionError));
}

void fail(Request &request, const DBException &exception)
{
    request.promise->setException(exception);
    request.promise->finish();
}

// Writes a batch of requests in one transaction and settles each request's promise.
void writeBatch(std::vector<Request> &batch)
{
    ThreadStorage *storage = ThreadStorage::instance();
    QSqlDatabase database = storage ? storage->database() : QSqlDatabase();
    QSqlError error;
    // IMMEDIATE takes the write lock at once, so a busy database is waited for here rather than
    // failing a statement in the middle of the batch.
    if (!run(database, QStringLiteral("BEGIN IMMEDIATE"), &error)) {
        KM4_LOG(3, "entity write not started:", error.text());
        for (Request &request : batch)
            fail(request, DBException(error));
        return;
    }
    // With the write lock held: a removal of the data either came before, and its requests go,
    // or waits for this transaction to end, and takes its rows with the old tables.
    quint64 era = 0;
    {
        const QMutexLocker locker(&queue().mutex);
        era = queue().era;
    }
    const auto removed = std::stable_partition(
        batch.begin(), batch.end(), [era](const Request &request) { return request.era == era; });
    for (auto request = removed; request != batch.end(); ++request)
        fail(*request, accountRemoved());
    batch.erase(removed, batch.end());

    std::vector<QStringList> refused(batch.size());
    std::vector<std::optional<QSqlError>> failures(batch.size());
    {
        QHash<QString, QSqlQuery> statements;
        QSqlError ignored;
        for (size_t i = 0; i < batch.size(); ++i) {
            // A request that fails takes back what it wrote; the others of the batch stay.
            run(database, QStringLiteral("SAVEPOINT request"), &ignored);
            refused[i] = writeRows(database, statements, batch[i].rows, &failures[i]);
            if (failures[i])
                run(database, QStringLiteral("ROLLBACK TO request"), &ignored);
            run(database, QStringLiteral("RELEASE request"), &ignored);
        }
        // The statements end here, before the commit.
    }
    if (!run(database, QStringLiteral("COMMIT"), &error)) {
        KM4_LOG(3, "entity write not committed:", error.text());
        QSqlError ignored;
        run(database, QStringLiteral("ROLLBACK"), &ignored);
        for (auto &failure : failures)
            failure = error;
    }
    for (size_t i = 0; i < batch.size(); ++i) {
        QPromise<QStringList> &promise = *batch[i].promise;
        if (failures[i])
            promise.setException(DBException(*failures[i]));
        else
            promise.addResult(refused[i]);
        promise.finish();
    }
}

void drain()
{
    Queue &q = queue();
    for (;;) {
        std::vector<Request> batch;
        {
            const QMutexLocker locker(&q.mutex);
            if (q.pending.empty()) {
                q.draining = false;
                return;
            }
            batch.reserve(q.pending.size());
            for (Request &request : q.pending)
                batch.push_back(std::move(request));
            q.pending.clear();
        }
        writeBatch(batch);
    }
}

} // namespace

QFuture<QStringList> EntityWriter::write(Rows rows)
{
    auto promise = std::make_shared<QPromise<QStringList>>();
    QFuture<QStringList> result = promise->future();
    promise->start();
    if (rows.values.isEmpty()) {
        promise->addResult(QStringList());
        promise->finish();
        return result;
    }

    Queue &q = queue();
    const QMutexLocker locker(&q.mutex);
    q.pending.push_back({ std::move(rows), std::move(promise), q.era });
    if (!q.draining) {
        q.draining = true;
        QThreadPool::globalInstance()->start(&drain);
    }
    return result;
}

void EntityWriter::dropQueued()
{
    std::deque<Request> dropped;
    {
        Queue &q = queue();
        const QMutexLocker locker(&q.mutex);
        ++q.era;
        dropped.swap(q.pending);
    }
    if (!dropped.empty())
        KM4_LOG(1, "entity writes of the removed account dropped:", qsizetype(dropped.size()));
    for (Request &request : dropped)
        fail(request, accountRemoved());
}
