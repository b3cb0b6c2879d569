#include "readyordersmodel.h"

#include <utility>

ReadyOrdersModel::ReadyOrdersModel(QObject *parent)
    : QSortFilterProxyModel(parent)
{
    setDynamicSortFilter(true);
}

ReadyOrdersModel::~ReadyOrdersModel() = default;

void ReadyOrdersModel::showNonPaidOrders()
{
    showNonPaid = true;
    invalidate();
    followNewest();
}

void ReadyOrdersModel::setSourceModel(QAbstractItemModel *source)
{
    // Only this model's own connections: the proxy's go with the base class's call below.
    for (const QMetaObject::Connection &connection : std::exchange(sourceConnections, {}))
        disconnect(connection);
    QSortFilterProxyModel::setSourceModel(source);
    followNewest();
    if (!source)
        return;
    // Connected after the proxy's own handlers, so these run once a change of the source has
    // become this model's rows and views have followed it.
    const auto follow = [this, source](auto signal) {
        sourceConnections.append(connect(source, signal, this, &ReadyOrdersModel::followNewest));
    };
    follow(&QAbstractItemModel::rowsInserted);
    follow(&QAbstractItemModel::rowsRemoved);
    follow(&QAbstractItemModel::rowsMoved);
    follow(&QAbstractItemModel::dataChanged);
    follow(&QAbstractItemModel::layoutChanged);
    follow(&QAbstractItemModel::modelReset);
}

QVariant ReadyOrdersModel::data(const QModelIndex &index, int role) const
{
    if (role == NewestRole)
        return index.isValid() && index.model() == this ? QVariant(index == newest) : QVariant();
    return QSortFilterProxyModel::data(index, role);
}

QHash<int, QByteArray> ReadyOrdersModel::roleNames() const
{
    QHash<int, QByteArray> names = QSortFilterProxyModel::roleNames();
    names.insert(NewestRole, QByteArrayLiteral("newest"));
    return names;
}

bool ReadyOrdersModel::filterAcceptsRow(int sourceRow, const QModelIndex &) const
{
    const QModelIndex index = sourceModel()->index(sourceRow, 0);
    const QString status = index.data(InWorkOrdersModel::StatusNameRole).toString();
    const bool isPaid = index.data(InWorkOrdersModel::IsPaidRole).toBool();
    return status == QLatin1String("packaged") && (showNonPaid || isPaid);
}

bool ReadyOrdersModel::lessThan(const QModelIndex &left, const QModelIndex &right) const
{
    return left.data(InWorkOrdersModel::NumberRole).toInt()
        < right.data(InWorkOrdersModel::NumberRole).toInt();
}

void ReadyOrdersModel::followNewest()
{
    const int rows = rowCount();
    const QModelIndex last = rows > 0 ? index(rows - 1, 0) : QModelIndex();
    if (last == newest)
        return;
    const QModelIndex previous = newest;
    newest = last;
    const QList<int> roles { NewestRole };
    if (previous.isValid())
        Q_EMIT dataChanged(previous, previous, roles);
    if (last.isValid())
        Q_EMIT dataChanged(last, last, roles);
}
