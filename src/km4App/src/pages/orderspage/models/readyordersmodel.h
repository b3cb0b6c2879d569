#pragma once

#include "inworkordersmodel.h"

#include <QList>
#include <QPersistentModelIndex>
#include <QSortFilterProxyModel>

// The board's "ready" column: packaged orders, shown only once paid unless non-paid orders are
// shown. Its last row, the newest ready order, is drawn large; which row that is belongs to the
// model's data, so that it changes, and is announced, together with the rows.
class ReadyOrdersModel : public QSortFilterProxyModel
{
    Q_OBJECT

public:
    enum Role {
        // bool: the row is the column's last one.
        NewestRole = InWorkOrdersModel::DeletedAtRole + 1,
    };
    Q_ENUM(Role)

    explicit ReadyOrdersModel(QObject *parent = nullptr);
    ~ReadyOrdersModel() override;

    // One way only: nothing switches non-paid orders off again while the program runs.
    void showNonPaidOrders();

    void setSourceModel(QAbstractItemModel *source) override;
    QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;
    QHash<int, QByteArray> roleNames() const override;

protected:
    bool filterAcceptsRow(int sourceRow, const QModelIndex &sourceParent) const override;
    bool lessThan(const QModelIndex &left, const QModelIndex &right) const override;

private:
    void followNewest();

    bool showNonPaid = false;
    // The row last announced as the newest. It moves only in followNewest(), after the rows have
    // changed and every view has taken that change, so a view never sees a delegate grow or
    // shrink in the middle of a row insertion or removal.
    QPersistentModelIndex newest;
    QList<QMetaObject::Connection> sourceConnections;
};
