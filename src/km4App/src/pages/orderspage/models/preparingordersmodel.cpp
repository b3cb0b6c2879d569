#include "preparingordersmodel.h"

#include "inworkordersmodel.h"

PreparingOrdersModel::PreparingOrdersModel(QObject *parent)
    : QSortFilterProxyModel(parent)
{
    setDynamicSortFilter(true);
}

PreparingOrdersModel::~PreparingOrdersModel() = default;

void PreparingOrdersModel::showNonPaidOrders()
{
    showNonPaid = true;
    invalidate();
}

bool PreparingOrdersModel::filterAcceptsRow(int sourceRow, const QModelIndex &) const
{
    const QModelIndex index = sourceModel()->index(sourceRow, 0);
    const QString status = index.data(InWorkOrdersModel::StatusNameRole).toString();
    const bool isPaid = index.data(InWorkOrdersModel::IsPaidRole).toBool();
    if (status != QLatin1String("packaged") && status != QLatin1String("given"))
        return true;
    return !showNonPaid && !isPaid;
}

bool PreparingOrdersModel::lessThan(const QModelIndex &left, const QModelIndex &right) const
{
    return left.data(InWorkOrdersModel::NumberRole).toInt()
        < right.data(InWorkOrdersModel::NumberRole).toInt();
}
