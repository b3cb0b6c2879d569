#include "entitiesrepo.h"

#include "shared/asyncsqlquery.h"
#include "sqlrow.h"

#include <QMutex>
#include <QPromise>
#include <QSqlQuery>

#include <memory>

namespace {

// The order table's name is an SQL keyword, hence the quotes in its template.
const QString orderTemplate = QStringLiteral("INSERT INTO '%1' (%2) VALUES %3;");
const QString plainTemplate = QStringLiteral("INSERT INTO %1 (%2) VALUES %3;");

// Entity writes run one after another, in the order they were asked for. Pushes of one record
// arrive in quick succession, each with its own write; run side by side on pool threads, a write
// that met SQLite's busy handler sleeps while later ones pass it, and an older row would win.
VoidFuture enqueueWrite(const QString &sql)
{
    static QMutex mutex;
    static VoidFuture tail = QtFuture::makeReadyFuture();

    // A future carries one continuation only: the caller gets the promise's future for its own,
    // and the queue's link never fails, so the next write always follows.
    auto promise = std::make_shared<QPromise<void>>();
    VoidFuture result = promise->future();
    promise->start();

    const QMutexLocker locker(&mutex);
    // The link waits for its statement on a pool thread (Qt runs a task that has not started yet
    // right there).
    tail = tail.then(QtFuture::Launch::Async, [sql, promise] {
        try {
            AsyncSQLQuery::exec(sql).waitForFinished();
        } catch (...) {
            promise->setException(std::current_exception());
        }
        promise->finish();
    });
    return result;
}

template <typename Entity>
VoidFuture insertAll(const QList<Entity *> &list, const QString &statementTemplate)
{
    const Entity *first = nullptr;
    QStringList rows;
    rows.reserve(list.size());
    for (const Entity *entity : list) {
        if (!entity)
            continue;
        if (!first)
            first = entity;
        rows.append(entity->toRow());
    }
    if (!first)
        return QtFuture::makeReadyFuture();
    // The rows go last and in one pass, so nothing inside them is taken for a placeholder.
    const QString sql = SqlRow::fill(statementTemplate,
        { first->tableName(), first->columns().join(QLatin1String(", ")),
            rows.join(QLatin1String(", ")) });
    return enqueueWrite(sql);
}

} // namespace

EntitiesRepo::EntitiesRepo(QObject *parent)
    : QObject(parent)
{ }

VoidFuture EntitiesRepo::insertOrder(QList<Order *> list)
{
    return insertAll(list, orderTemplate);
}

VoidFuture EntitiesRepo::insertShift(QList<Shift *> list)
{
    return insertAll(list, plainTemplate);
}

VoidFuture EntitiesRepo::insertReceipt(QList<Receipt *> list)
{
    return insertAll(list, plainTemplate);
}

VoidFuture EntitiesRepo::insertReceiptItem(QList<ReceiptItem *> list)
{
    return insertAll(list, plainTemplate);
}
