#include "readyordersmodel.h"

#include "inworkordersmodel.h"

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
