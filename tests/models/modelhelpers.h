#pragma once

#include "entities/entitiesrepo.h"
#include "futurewait.h"
#include "testdatabase.h"

#include <QAbstractItemModel>
#include <QAbstractItemModelTester>
#include <QDateTime>
#include <QSignalSpy>
#include <QStringList>
#include <QThreadPool>

#include <utility>

// Shared steps of the entity model tests.
namespace ModelHelpers {

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

// Stores records through the repository and waits for the write.
template <typename Entity, typename Insert> bool store(QList<Entity> records, Insert insert)
{
    QList<Entity *> pointers;
    for (Entity &record : records)
        pointers.append(&record);
    return finishedCleanly(insert(pointers));
}

// One role of every row, joined by blanks: a model's state at a glance.
inline QString column(const QAbstractItemModel &model, int role)
{
    QStringList values;
    for (int row = 0; row < model.rowCount(); ++row)
        values.append(model.index(row, 0).data(role).toString());
    return values.join(QLatin1Char(' '));
}

// The uuids stored in a table, sorted and joined by commas.
inline QString storedUuids(const QString &table)
{
    return TestDatabase::textColumn(
        QStringLiteral("SELECT uuid FROM '%1' ORDER BY uuid").arg(table))
        .join(QLatin1Char(','));
}

inline qint64 daysAgo(int days)
{
    return QDateTime::currentSecsSinceEpoch() - qint64(days) * 86400;
}

// A model that also reaches indexes outside its rows, which index() never hands out.
template <typename Model> class Probe : public Model
{
public:
    QModelIndex rowIndex(int row) const { return this->createIndex(row, 0); }
};

// Every role from Qt::UserRole to one past the last named one, read from the first row, as
// "name=type:value" (the number stands for a role without a name): names, types and values of a
// row at a glance. A role that answers outside the rows is reported as such.
template <typename Model> QString firstRowRoles(const Probe<Model> &model)
{
    const QHash<int, QByteArray> names = model.roleNames();
    const int last = *std::max_element(names.keyBegin(), names.keyEnd()) + 1;
    QStringList parts;
    for (int role = Qt::UserRole; role <= last; ++role) {
        for (const QModelIndex &outside :
            { QModelIndex(), model.rowIndex(-1), model.rowIndex(model.rowCount()) }) {
            if (model.data(outside, role).isValid())
                parts.append(QStringLiteral("answers outside the rows"));
        }
        const QVariant value = model.index(0, 0).data(role);
        parts.append(QString::fromLatin1(names.value(role, QByteArray::number(role)))
            + QLatin1Char('=') + QLatin1String(value.typeName()) + QLatin1Char(':')
            + value.toString());
    }
    return parts.join(QLatin1Char(' '));
}

// A fresh migrated database and the model under test, with its resets counted and the rows its
// pushes announced taken down ("changed 0", "inserted 2", "removed 1"). The item model tester is
// attached only where the model allows it.
template <typename Model> struct ModelFixture
{
    explicit ModelFixture(bool withTester)
    {
        if (withTester)
            tester = std::make_unique<QAbstractItemModelTester>(
                &model, QAbstractItemModelTester::FailureReportingMode::QtTest);
        const auto note = [this](const char *what, int first, int last) {
            for (int row = first; row <= last; ++row)
                changes.append(QLatin1String(what) + QString::number(row));
        };
        QObject::connect(&model, &QAbstractItemModel::dataChanged,
            [note](const QModelIndex &from, const QModelIndex &to) {
                note("changed ", from.row(), to.row());
            });
        QObject::connect(&model, &QAbstractItemModel::rowsInserted,
            [note](const QModelIndex &, int first, int last) { note("inserted ", first, last); });
        QObject::connect(&model, &QAbstractItemModel::rowsRemoved,
            [note](const QModelIndex &, int first, int last) { note("removed ", first, last); });
    }

    // The row changes announced since the last call.
    QString takeChanges() { return std::exchange(changes, {}).join(QLatin1String(", ")); }

    TestDatabase database;
    Probe<Model> model;
    std::unique_ptr<QAbstractItemModelTester> tester;
    QSignalSpy resets { &model, &QAbstractItemModel::modelReset };
    QStringList changes;
};

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
