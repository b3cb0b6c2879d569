#pragma once

#include "entities/order.h"

#include <QAbstractListModel>
#include <QFuture>
#include <QList>

class AppEnv;
class OrderModel;
class ReceiptModel;
class ReceiptItemModel;

// The orders that have at least one receipt item in work, one row per order, in the order in
// which each order's first such item stands in the receipt item model. Rebuilt as a whole on every
// reset of the receipt item, receipt or order model; the board's two columns filter it.
class InWorkOrdersModel : public QAbstractListModel
{
    Q_OBJECT

public:
    enum Role {
        IdRole = Qt::UserRole + 1,
        UuidRole,
        NumberRole,
        ShiftIdRole,
        ShiftUuidRole,
        TypeRole,
        OpenDateRole,
        CloseDateRole,
        UserIdRole,
        ClientIdRole,
        ClientUuidRole,
        StatusNameRole,
        CommentRole,
        TableIdRole,
        GuestsRole,
        IsPaidRole,
        IsClosedRole,
        IsShippedRole,
        HallIdRole,
        DeletedAtRole,
    };
    Q_ENUM(Role)

    InWorkOrdersModel(const ReceiptItemModel *receiptItemModel, const ReceiptModel *receiptModel,
        const OrderModel *orderModel, const AppEnv *env, QObject *parent = nullptr);
    ~InWorkOrdersModel() override;

    int rowCount(const QModelIndex &parent = QModelIndex()) const override;
    QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;
    QHash<int, QByteArray> roleNames() const override;

private Q_SLOTS:
    QFuture<void> updateModel();

private:
    const AppEnv *env;
    const ReceiptItemModel *receiptItemModel;
    const ReceiptModel *receiptModel;
    const OrderModel *orderModel;
    QList<Order> orders;
};
