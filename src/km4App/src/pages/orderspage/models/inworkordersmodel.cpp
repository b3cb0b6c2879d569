#include "inworkordersmodel.h"

#include "entities/receipt.h"
#include "models/ordermodel.h"
#include "models/receiptitemmodel.h"
#include "models/receiptmodel.h"
#include "shared/logger.h"

#include <QSet>
#include <QFuture>

namespace {
// Roles of the receipt item model that tell whether an item is in work and whose receipt it is.
constexpr int ItemReceiptUuidRole = Qt::UserRole + 4;
constexpr int ItemInWorkRole = Qt::UserRole + 7;
} // namespace

InWorkOrdersModel::InWorkOrdersModel(const ReceiptItemModel *receiptItemModel,
    const ReceiptModel *receiptModel, const OrderModel *orderModel, const AppEnv *env,
    QObject *parent)
    : QAbstractListModel(parent)
    , env(env)
    , receiptItemModel(receiptItemModel)
    , receiptModel(receiptModel)
    , orderModel(orderModel)
{
    // The receiver is this model, so a reset signalled on another thread is rebuilt here.
    connect(receiptItemModel, &QAbstractItemModel::modelReset, this,
        &InWorkOrdersModel::updateModel);
    connect(orderModel, &QAbstractItemModel::modelReset, this, &InWorkOrdersModel::updateModel);
    connect(receiptModel, &QAbstractItemModel::modelReset, this, &InWorkOrdersModel::updateModel);
}

InWorkOrdersModel::~InWorkOrdersModel() = default;

int InWorkOrdersModel::rowCount(const QModelIndex &parent) const
{
    // A list: rows have no children, or views and proxies walking the model would recurse.
    return parent.isValid() ? 0 : int(orders.size());
}

QVariant InWorkOrdersModel::data(const QModelIndex &index, int role) const
{
    if (!index.isValid() || index.model() != this || index.row() < 0
        || index.row() >= orders.size() || index.column() < 0)
        return {};
    const Order &order = orders.at(index.row());
    switch (role) {
    case IdRole:
        return order.id;
    case UuidRole:
        return order.uuid;
    case NumberRole:
        return order.number;
    case ShiftIdRole:
        return order.shift_id;
    case ShiftUuidRole:
        return order.shift_uuid;
    case TypeRole:
        return order.type;
    case OpenDateRole:
        return qlonglong(order.created_at);
    case CloseDateRole:
        return qlonglong(order.closed_at);
    case UserIdRole:
        return order.created_by;
    case ClientIdRole:
        return order.client_id;
    case ClientUuidRole:
        return order.client_uuid;
    case StatusNameRole:
        return order.status;
    case CommentRole:
        return order.comment;
    case TableIdRole:
        return order.table_id;
    case GuestsRole:
        return order.number_guests;
    case IsPaidRole:
        return order.is_paid;
    case IsClosedRole:
        return order.is_closed;
    case IsShippedRole:
        return order.is_shipped;
    case DeletedAtRole:
        return qlonglong(order.deleted_at);
    case HallIdRole: // an order has no hall
    default:
        return {};
    }
}

QHash<int, QByteArray> InWorkOrdersModel::roleNames() const
{
    return {
        { IdRole, "id" },
        { UuidRole, "uuid" },
        { NumberRole, "number" },
        { ShiftIdRole, "shiftId" },
        { ShiftUuidRole, "shiftUuid" },
        { TypeRole, "type" },
        { OpenDateRole, "openDate" },
        { CloseDateRole, "closeDate" },
        { UserIdRole, "userId" },
        { ClientIdRole, "clientId" },
        { ClientUuidRole, "clientUuid" },
        { StatusNameRole, "statusName" },
        { CommentRole, "comment" },
        { TableIdRole, "tableId" },
        { GuestsRole, "guests" },
        { IsPaidRole, "isPaid" },
        { IsClosedRole, "isClosed" },
        { IsShippedRole, "isShipped" },
        { HallIdRole, "hallId" },
        { DeletedAtRole, "deletedAt" },
    };
}

QFuture<void> InWorkOrdersModel::updateModel()
{
    KM4_LOG_SCOPE();
    QList<Order> inWork;
    QSet<QString> seen;
    QHash<QString, QString> orderOfReceipt; // null: no such receipt
    for (int row = 0; row < receiptItemModel->rowCount(QModelIndex()); ++row) {
        const QModelIndex item = receiptItemModel->index(row, 0);
        if (!receiptItemModel->data(item, ItemInWorkRole).toBool())
            continue;
        // A receipt has several items: its order is looked up once per rebuild.
        const QString receiptUuid = receiptItemModel->data(item, ItemReceiptUuidRole).toString();
        auto known = orderOfReceipt.constFind(receiptUuid);
        if (known == orderOfReceipt.cend()) {
            const Receipt receipt = receiptModel->byUuid(receiptUuid);
            known = orderOfReceipt.insert(
                receiptUuid, receipt.isValid() ? receipt.order_uuid : QString());
        }
        const QString &orderUuid = known.value();
        if (orderUuid.isNull())
            continue;
        // An order found through its uuid has that uuid, so a seen one needs no second copy.
        if (seen.contains(orderUuid))
            continue;
        const Order order = orderModel->byUuid(orderUuid);
        if (!order.isValid())
            continue;
        if (order.closed_at != 0 || order.deleted_at != 0)
            continue;
        seen.insert(order.uuid);
        inWork.append(order);
    }

    beginResetModel();
    orders.swap(inWork);
    endResetModel();
    return QtFuture::makeReadyFuture();
}
