#pragma once

#include <QSortFilterProxyModel>

// The board's "preparing" column: orders in work that are not yet ready for the guest. While
// non-paid orders are hidden from the ready column, an unpaid packaged or given order stays here.
class PreparingOrdersModel : public QSortFilterProxyModel
{
    Q_OBJECT

public:
    explicit PreparingOrdersModel(QObject *parent = nullptr);
    ~PreparingOrdersModel() override;

    // One way only: nothing switches non-paid orders off again while the program runs.
    void showNonPaidOrders();

protected:
    bool filterAcceptsRow(int sourceRow, const QModelIndex &sourceParent) const override;
    bool lessThan(const QModelIndex &left, const QModelIndex &right) const override;

private:
    bool showNonPaid = false;
};
