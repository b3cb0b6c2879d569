#pragma once

#include "entities/entitiesrepo.h"
#include "futurewait.h"

#include <QAbstractItemModel>
#include <QDateTime>
#include <QSqlQuery>
#include <QStringList>
#include <QThreadPool>

// Shared steps of the entity model tests.
namespace ModelHelpers {

// Stores records through the repository and waits for the write.
template <typename Entity, typename Insert> bool store(QList<Entity> records, Insert insert)
{
    QList<Entity *> pointers;
    for (Entity &record : records)
        pointers.append(&record);
    const VoidFuture future = insert(pointers);
    if (!waitFor(future))
        return false;
    try {
        VoidFuture(future).waitForFinished();
    } catch (...) {
        return false;
    }
    return true;
}

// One role of every row, joined by blanks: a model's state at a glance.
inline QString column(const QAbstractItemModel &model, int role)
{
    QStringList values;
    for (int row = 0; row < model.rowCount(); ++row)
        values.append(model.index(row, 0).data(role).toString());
    return values.join(QLatin1Char(' '));
}

// Waits for the future and tells whether it finished without an exception.
inline bool finishedCleanly(const VoidFuture &future)
{
    if (!waitFor(future))
        return false;
    try {
        VoidFuture(future).waitForFinished();
    } catch (...) {
        return false;
    }
    return !future.isCanceled();
}

inline qint64 daysAgo(int days)
{
    return QDateTime::currentSecsSinceEpoch() - qint64(days) * 86400;
}

inline int countRows(const QString &table)
{
    QSqlQuery query;
    if (!query.exec(QStringLiteral("SELECT COUNT(*) FROM '%1'").arg(table)) || !query.next())
        return -1;
    return query.value(0).toInt();
}

// Runs pool tasks one at a time in the order they were started while it exists, so a reload's
// SELECT surely runs before a write started after it.
class SerialPool
{
public:
    SerialPool()
        : previous(QThreadPool::globalInstance()->maxThreadCount())
    {
        QThreadPool::globalInstance()->waitForDone();
        QThreadPool::globalInstance()->setMaxThreadCount(1);
    }
    ~SerialPool() { QThreadPool::globalInstance()->setMaxThreadCount(previous); }

private:
    int previous;
};

} // namespace ModelHelpers
