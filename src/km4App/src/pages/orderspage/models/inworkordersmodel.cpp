#include "inworkordersmodel.h"

#include "entities/receipt.h"
#include "models/ordermodel.h"
#include "models/receiptitemmodel.h"
#include "models/receiptmodel.h"
#include "shared/logger.h"

#include <QFuture>

#include <algorithm>
#include <optional>
#include <utility>

InWorkOrdersModel::InWorkOrdersModel(const ReceiptItemModel *receiptItemModel,
    const ReceiptModel *receiptModel, const OrderModel *orderModel, const AppEnv *env,
    QObject *parent)
    : QAbstractListModel(parent)
    , env(env)
    , receiptItemModel(receiptItemModel)
    , receiptModel(receiptModel)
    , orderModel(orderModel)
{
    // Each source's changed or leaving row names the orders whose board rows it may move.
    follow(
        receiptItemModel,
        [this](const ReceiptItem &item) {
            return inWorkItems.setItem(item.uuid, item.id, item.receipt_uuid, item.in_work);
        },
        [this](const ReceiptItem &item) { return inWorkItems.removeItem(item.uuid); });
    const auto itself = [](const Order &order) { return order.uuid; };
    follow(orderModel, itself, itself);
    follow(
        receiptModel,
        [this](const Receipt &receipt) {
            return inWorkItems.setReceipt(receipt.uuid, receipt.order_uuid);
        },
        [this](const Receipt &receipt) { return inWorkItems.removeReceipt(receipt.uuid); });
}

// The orders named by rows first to last of `source`, in the words of `perRow`.
template <typename Source, typename PerRow>
static QStringList touchedOrders(const Source *source, int first, int last, PerRow perRow)
{
    QStringList touched;
    for (int row = first; row <= last; ++row) {
        if (const auto *entity = source->entityAt(row))
            touched += perRow(*entity);
    }
    return touched;
}

template <typename Source, typename Changed, typename Leaving>
void InWorkOrdersModel::follow(const Source *source, Changed changed, Leaving leaving)
{
    // The receiver is this model, so a reset signalled on another thread is rebuilt here. Row
    // changes are read from the source while they are announced: the models share the board's
    // thread.
    connect(source, &QAbstractItemModel::modelReset, this, &InWorkOrdersModel::updateModel);
    connect(source, &QAbstractItemModel::layoutChanged, this, &InWorkOrdersModel::updateModel);
    connect(source, &QAbstractItemModel::rowsMoved, this, &InWorkOrdersModel::updateModel);
    // Only the order model's own records are shown; the other two decide which orders and where.
    const bool showsRecords = static_cast<const QObject *>(source) == orderModel;
    connect(source, &QAbstractItemModel::rowsInserted, this,
        [this, source, changed, showsRecords](const QModelIndex &, int first, int last) {
            if (following())
                refresh(touchedOrders(source, first, last, changed), showsRecords);
        });
    connect(source, &QAbstractItemModel::dataChanged, this,
        [this, source, changed, showsRecords](
            const QModelIndex &topLeft, const QModelIndex &bottomRight) {
            if (following())
                refresh(
                    touchedOrders(source, topLeft.row(), bottomRight.row(), changed), showsRecords);
        });
    connect(source, &QAbstractItemModel::rowsAboutToBeRemoved, this,
        [this, source, leaving](const QModelIndex &, int first, int last) {
            if (built)
                leavingOrders += touchedOrders(source, first, last, leaving);
        });
    connect(source, &QAbstractItemModel::rowsRemoved, this, [this] {
        if (following())
            refresh(std::exchange(leavingOrders, {}), false);
    });
}

InWorkOrdersModel::~InWorkOrdersModel() = default;

int InWorkOrdersModel::rowCount(const QModelIndex &parent) const
{
    // A list: rows have no children, or views and proxies walking the model would recurse.
    return parent.isValid() ? 0 : int(rows.size());
}

QVariant InWorkOrdersModel::data(const QModelIndex &index, int role) const
{
    if (!index.isValid() || index.model() != this || index.row() < 0 || index.row() >= rows.size()
        || index.column() < 0)
        return {};
    const Order &order = rows.at(index.row()).order;
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
    inWorkItems.clear();
    leavingOrders.clear();
    for (int row = 0; row < receiptModel->rowCount(); ++row) {
        const Receipt *receipt = receiptModel->entityAt(row);
        inWorkItems.setReceipt(receipt->uuid, receipt->order_uuid);
    }
    for (int row = 0; row < receiptItemModel->rowCount(); ++row) {
        const ReceiptItem *item = receiptItemModel->entityAt(row);
        inWorkItems.setItem(item->uuid, item->id, item->receipt_uuid, item->in_work);
    }
    QList<Row> fresh;
    QHash<QString, InWorkItems::Rank> ranks;
    for (const QString &orderUuid : inWorkItems.ordersWithReceipts()) {
        const std::optional<InWorkItems::Rank> rank = inWorkItems.firstItem(orderUuid);
        const Order *order = rank ? shownOrder(orderUuid) : nullptr;
        if (!order)
            continue;
        fresh.append({ *rank, *order });
        ranks.insert(orderUuid, *rank);
    }
    std::sort(fresh.begin(), fresh.end(),
        [](const Row &left, const Row &right) { return left.rank < right.rank; });

    beginResetModel();
    rows.swap(fresh);
    shownRanks.swap(ranks);
    built = true;
    endResetModel();
    return QtFuture::makeReadyFuture();
}

bool InWorkOrdersModel::following()
{
    // Until the first rebuild nothing is known about the rows that were there before.
    if (built)
        return true;
    updateModel();
    return false;
}

void InWorkOrdersModel::refresh(const QStringList &orderUuids, bool orderChanged)
{
    for (const QString &orderUuid : orderUuids)
        refreshOrder(orderUuid, orderChanged);
}

void InWorkOrdersModel::refreshOrder(const QString &orderUuid, bool orderChanged)
{
    std::optional<InWorkItems::Rank> rank = inWorkItems.firstItem(orderUuid);
    const Order *order = rank ? shownOrder(orderUuid) : nullptr;
    if (!order)
        rank.reset();
    const auto shown = shownRanks.constFind(orderUuid);
    if (shown != shownRanks.cend()) {
        const int row = rowOfRank(shown.value());
        if (rank == shown.value()) {
            if (orderChanged) {
                rows[row].order = *order;
                const QModelIndex changed = index(row, 0);
                Q_EMIT dataChanged(changed, changed);
            }
            return;
        }
        beginRemoveRows(QModelIndex(), row, row);
        rows.removeAt(row);
        shownRanks.erase(shown);
        endRemoveRows();
    }
    if (!rank)
        return;
    const int row = rowOfRank(*rank);
    beginInsertRows(QModelIndex(), row, row);
    rows.insert(row, { *rank, *order });
    shownRanks.insert(orderUuid, *rank);
    endInsertRows();
}

const Order *InWorkOrdersModel::shownOrder(const QString &orderUuid) const
{
    const Order *order = orderModel->find(orderUuid);
    if (!order || !order->isValid() || order->closed_at != 0 || order->deleted_at != 0)
        return nullptr;
    return order;
}

int InWorkOrdersModel::rowOfRank(const InWorkItems::Rank &rank) const
{
    return int(
        std::lower_bound(rows.cbegin(), rows.cend(), rank,
            [](const Row &row, const InWorkItems::Rank &wanted) { return row.rank < wanted; })
        - rows.cbegin());
}
