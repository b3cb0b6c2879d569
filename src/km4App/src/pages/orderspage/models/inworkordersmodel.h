#pragma once

#include "entities/order.h"
#include "inworkitems.h"

#include <QAbstractListModel>
#include <QFuture>
#include <QHash>
#include <QList>
#include <QStringList>

class AppEnv;
class OrderModel;
class ReceiptModel;
class ReceiptItemModel;

// The orders that have at least one receipt item in work, one row per order, ranked by their first
// item in work (see InWorkItems); the board's two columns filter it. Rebuilt as a whole on a reset
// of the receipt item, receipt or order model (and on the first change it sees); every other
// change of theirs touches only the orders it concerns, which are inserted, removed or changed as
// rows.
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
    // An order on the board, with the rank of its first item in work, which places the row.
    struct Row
    {
        InWorkItems::Rank rank;
        Order order;
    };

    template <typename Source, typename Changed, typename Leaving>
    void follow(const Source *source, Changed changed, Leaving leaving);
    bool following();

    // Brings the board rows of these orders up to date; `orderChanged` when the orders' own
    // records may differ from the rows shown.
    void refresh(const QStringList &orderUuids, bool orderChanged);
    void refreshOrder(const QString &orderUuid, bool orderChanged);
    // The order's record when it is one the board may show (known, neither closed nor deleted).
    const Order *shownOrder(const QString &orderUuid) const;
    int rowOfRank(const InWorkItems::Rank &rank) const;

    const AppEnv *env;
    const ReceiptItemModel *receiptItemModel;
    const ReceiptModel *receiptModel;
    const OrderModel *orderModel;
    QList<Row> rows;
    QHash<QString, InWorkItems::Rank> shownRanks;
    InWorkItems inWorkItems;
    // Orders whose rows leave a source model, refreshed once they have left.
    QStringList leavingOrders;
    bool built = false;
};
