#pragma once

#include "proxyorm/indexedabstractmodel.h"

#include <QMap>
#include <QStringList>
#include <QThread>
#include <QVariant>

#include <algorithm>
#include <atomic>

namespace ProxyTest {

enum Roles { Id = Qt::UserRole + 1, Key, Value, Extra = Qt::UserRole + 50 };
using Row = QHash<int, QVariant>;

inline Row row(int id, const QVariant &key = {}, const QVariant &value = {})
{
    return { { Id, id }, { Key, key }, { Value, value } };
}

// Id is also the display role, so that the model tester compares real row identities; the other
// roles the tester asks for read the (empty) source roles of the same numbers.
inline QMap<int, int> roleMap()
{
    QMap<int, int> map { { Qt::DisplayRole, Id }, { Id, Id }, { Key, Key }, { Value, Value } };
    map.insert(-1, -1);
    for (int role = Qt::DecorationRole; role <= Qt::SizeHintRole; ++role)
        map.insert(role, role);
    return map;
}

inline QVariantList column(const QAbstractItemModel &model, int role)
{
    QVariantList values;
    for (int row = 0; row < model.rowCount(); ++row)
        values << model.data(model.index(row, 0), role);
    return values;
}

// A plain list model whose reads are counted and can be slowed down, so that work on pool threads
// can be caught in the middle. It finds a key itself as the first row holding it under Key.
class TestListModel : public ProxyOrm::IndexedAbstractModel
{
public:
    QList<Row> rows;
    mutable std::atomic<int> reads { 0 };
    std::atomic<int> delayUs { 0 };

    explicit TestListModel(const QList<Row> &rows = {})
        : rows(rows)
    { }

    int rowCount(const QModelIndex &parent = {}) const override
    {
        return parent.isValid() ? 0 : int(rows.size());
    }
    QVariant data(const QModelIndex &index, int role) const override
    {
        ++reads;
        if (delayUs)
            QThread::usleep(delayUs);
        return index.isValid() && index.row() < rows.size() ? rows.at(index.row()).value(role)
                                                            : QVariant();
    }
    QModelIndex indexOfKey(QVariant key) const override
    {
        for (int r = 0; r < rows.size(); ++r) {
            if (rows.at(r).value(Key) == key)
                return index(r, 0);
        }
        return {};
    }
    void reset(const QList<Row> &next)
    {
        beginResetModel();
        rows = next;
        endResetModel();
    }
    void insert(int at, const QList<Row> &block)
    {
        beginInsertRows({}, at, at + int(block.size()) - 1);
        for (qsizetype i = 0; i < block.size(); ++i)
            rows.insert(at + i, block.at(i));
        endInsertRows();
    }
    void remove(int at, int count)
    {
        beginRemoveRows({}, at, at + count - 1);
        rows.remove(at, count);
        endRemoveRows();
    }
    // Moves `count` rows from `from` so that the first of them ends at row `to`.
    void move(int from, int to, int count = 1)
    {
        // Qt counts the destination before the move.
        if (from == to
            || !beginMoveRows({}, from, from + count - 1, {}, to > from ? to + count : to))
            return;
        const QList<Row> block = rows.mid(from, count);
        rows.remove(from, count);
        for (int i = 0; i < count; ++i)
            rows.insert(to + i, block.at(i));
        endMoveRows();
    }
    // One value per row from `first` on, announced as one dataChanged.
    void set(int first, int role, const QVariantList &values, bool announceRole = true)
    {
        for (qsizetype i = 0; i < values.size(); ++i)
            rows[first + i].insert(role, values.at(i));
        Q_EMIT dataChanged(index(first, 0), index(first + int(values.size()) - 1, 0),
            announceRole ? QList<int> { role } : QList<int> {});
    }
    // Reverses the rows, announced as a layout change.
    void reverse()
    {
        Q_EMIT layoutAboutToBeChanged();
        std::reverse(rows.begin(), rows.end());
        const QModelIndexList persistent = persistentIndexList();
        QModelIndexList moved;
        for (const QModelIndex &old : persistent)
            moved << index(int(rows.size()) - 1 - old.row(), 0);
        changePersistentIndexList(persistent, moved);
        Q_EMIT layoutChanged();
    }
};

// Keeps one role of a model the way a view would, only from what the model's signals say, and
// writes the row signals down ("remove 0-1", "data 0-2").
class ViewMirror : public QObject
{
    const QAbstractItemModel *m_model;
    int m_role;

public:
    QVariantList values;
    QStringList log;

    ViewMirror(const QAbstractItemModel *model, int role)
        : m_model(model)
        , m_role(role)
        , values(actual())
    {
        using M = QAbstractItemModel;
        connect(model, &M::rowsInserted, this, [this](const QModelIndex &, int first, int last) {
            for (int row = first; row <= last; ++row)
                values.insert(row, read(row));
            note("insert", first, last);
        });
        connect(model, &M::rowsRemoved, this, [this](const QModelIndex &, int first, int last) {
            values.remove(first, last - first + 1);
            note("remove", first, last);
        });
        connect(model, &M::rowsMoved, this,
            [this](const QModelIndex &, int first, int last, const QModelIndex &, int to) {
                const auto at = [this](int row) { return values.begin() + row; };
                if (to > last)
                    std::rotate(at(first), at(last + 1), at(to));
                else
                    std::rotate(at(to), at(first), at(last + 1));
                note("move", first, last);
            });
        connect(model, &M::dataChanged, this,
            [this](const QModelIndex &topLeft, const QModelIndex &bottomRight, QList<int> roles) {
                for (int row = topLeft.row(); row <= bottomRight.row(); ++row) {
                    if (roles.isEmpty() || roles.contains(m_role))
                        values[row] = read(row);
                }
                note("data", topLeft.row(), bottomRight.row());
            });
        connect(model, &M::modelReset, this, [this] { values = actual(); });
        connect(model, &M::layoutChanged, this, [this] { values = actual(); });
    }
    QVariantList actual() const
    {
        QVariantList all;
        for (int row = 0; row < m_model->rowCount(); ++row)
            all << read(row);
        return all;
    }
    bool matches() const { return values == actual(); }

private:
    QVariant read(int row) const { return m_model->data(m_model->index(row, 0), m_role); }
    void note(const char *kind, int first, int last)
    {
        log << QStringLiteral("%1 %2-%3").arg(QLatin1String(kind)).arg(first).arg(last);
    }
};

} // namespace ProxyTest
