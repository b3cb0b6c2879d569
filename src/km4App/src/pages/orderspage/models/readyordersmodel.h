#pragma once

#include <QSortFilterProxyModel>

// The board's "ready" column: packaged orders, shown only once paid unless non-paid orders are
// shown.
class ReadyOrdersModel : public QSortFilterProxyModel
{
    Q_OBJECT

public:
    explicit ReadyOrdersModel(QObject *parent = nullptr);
    ~ReadyOrdersModel() override;

    // One way only: nothing switches non-paid orders off again while the program runs.
    void showNonPaidOrders();

protected:
    bool filterAcceptsRow(int sourceRow, const QModelIndex &sourceParent) const override;
    bool lessThan(const QModelIndex &left, const QModelIndex &right) const override;

private:
    bool showNonPaid = false;
};
