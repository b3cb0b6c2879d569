#include "testlistmodel.h"

#include <QThread>

#include <algorithm>
#include <numeric>

TestListModel::TestListModel(QObject *parent)
    : QAbstractListModel(parent)
{ }

TestListModel::TestListModel(int role, const QVariantList &values, QObject *parent)
    : QAbstractListModel(parent)
{
    for (const QVariant &value : values)
        m_rows.append(Row { { role, value } });
}

int TestListModel::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : int(m_rows.size());
}

QVariant TestListModel::data(const QModelIndex &index, int role) const
{
    ++m_reads;
    if (const int us = m_delayUs.load())
        QThread::usleep(us);
    if (!index.isValid() || index.row() >= m_rows.size())
        return {};
    return m_rows.at(index.row()).value(role);
}

void TestListModel::resetRows(const QList<Row> &rows)
{
    beginResetModel();
    m_rows = rows;
    endResetModel();
}

void TestListModel::insertRowsAt(int at, const QList<Row> &rows)
{
    if (rows.isEmpty())
        return;
    beginInsertRows(QModelIndex(), at, at + int(rows.size()) - 1);
    for (qsizetype i = 0; i < rows.size(); ++i)
        m_rows.insert(at + i, rows.at(i));
    endInsertRows();
}

void TestListModel::removeRowsAt(int at, int count)
{
    beginRemoveRows(QModelIndex(), at, at + count - 1);
    m_rows.remove(at, count);
    endRemoveRows();
}

void TestListModel::moveRowTo(int from, int to, int count)
{
    // Qt counts the destination before the move; moving down means "before row to + count".
    const int destination = to > from ? to + count : to;
    if (from == to
        || !beginMoveRows(QModelIndex(), from, from + count - 1, QModelIndex(), destination))
        return;
    const QList<Row> block = m_rows.mid(from, count);
    m_rows.remove(from, count);
    for (int i = 0; i < count; ++i)
        m_rows.insert(to + i, block.at(i));
    endMoveRows();
}

void TestListModel::setValues(int first, int role, const QVariantList &values, bool announceRole)
{
    for (qsizetype i = 0; i < values.size(); ++i)
        m_rows[first + i].insert(role, values.at(i));
    Q_EMIT dataChanged(index(first, 0), index(first + int(values.size()) - 1, 0),
        announceRole ? QList<int> { role } : QList<int> {});
}

void TestListModel::sortByRole(int role, bool descending)
{
    Q_EMIT layoutAboutToBeChanged({}, QAbstractItemModel::VerticalSortHint);
    QList<int> order(m_rows.size());
    std::iota(order.begin(), order.end(), 0);
    std::stable_sort(order.begin(), order.end(), [&](int a, int b) {
        const int x = m_rows.at(a).value(role).toInt();
        const int y = m_rows.at(b).value(role).toInt();
        return descending ? x > y : x < y;
    });
    QList<Row> sorted;
    QList<int> newRowOf(m_rows.size());
    for (int i = 0; i < order.size(); ++i) {
        sorted.append(m_rows.at(order.at(i)));
        newRowOf[order.at(i)] = i;
    }
    m_rows = sorted;
    const QModelIndexList persistent = persistentIndexList();
    QModelIndexList moved;
    for (const QModelIndex &old : persistent)
        moved.append(index(newRowOf.at(old.row()), 0));
    changePersistentIndexList(persistent, moved);
    Q_EMIT layoutChanged({}, QAbstractItemModel::VerticalSortHint);
}
