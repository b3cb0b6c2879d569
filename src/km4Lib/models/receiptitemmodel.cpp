#include "receiptitemmodel.h"

#include "entities/entitiesrepo.h"
#include "entities/sqlrow.h"
#include "entityrows.h"
#include "models/modelhandover.h"
#include "shared/appexception.h"
#include "shared/asyncsqlquery.h"
#include "shared/logger.h"

ReceiptItemModel::ReceiptItemModel(QObject *parent)
    : EntityListModel(parent)
{ }

ReceiptItemModel::~ReceiptItemModel() = default;

QString ReceiptItemModel::tableName()
{
    return QStringLiteral("receipt_item");
}

QVariant ReceiptItemModel::data(const QModelIndex &index, int role) const
{
    const int row = index.row();
    if (row < 0 || row >= rows.size())
        return QVariant();
    const ReceiptItem &item = rows.at(row);
    switch (role) {
    case idRole:
        return item.id;
    case uuidRole:
        return item.uuid;
    case menuIdRole:
        return item.menu_id;
    case receiptUuidRole:
        return item.receipt_uuid;
    case quantityRole:
        return item.quantity;
    case commentRole:
        return item.comment;
    case inWorkRole:
        return item.in_work;
    case createdAtRole:
        return qlonglong(item.created_at);
    case updatedAtRole:
        return qlonglong(item.updated_at);
    case deletedAtRole:
        return qlonglong(item.deleted_at);
    case statusRole:
        return item.status;
    default:
        return QVariant();
    }
}

QHash<int, QByteArray> ReceiptItemModel::roleNames() const
{
    return {
        { idRole, "idRole" },
        { uuidRole, "uuid" },
        { menuIdRole, "menuId" },
        { receiptUuidRole, "receiptUuidRole" },
        { quantityRole, "quantity" },
        { commentRole, "comment" },
        { inWorkRole, "inWork" },
        { createdAtRole, "createdAtRole" },
        { updatedAtRole, "updatedAtRole" },
        { deletedAtRole, "deletedAtRole" },
        { statusRole, "statusRole" },
    };
}

ReceiptItem ReceiptItemModel::byUuid(QString uuid) const
{
    KM4_LOG_SCOPE();
    const ReceiptItem *item = find(uuid);
    return item ? *item : ReceiptItem();
}

void ReceiptItemModel::updateIndexUuid(const QString &uuid)
{
    dropFromIndex(uuid);
}

QList<ReceiptItem> ReceiptItemModel::listItemsByReceiptUuid(QString receiptUuid) const
{
    KM4_LOG_SCOPE();
    QList<ReceiptItem> result;
    for (const ReceiptItem &item : rows) {
        if (item.receipt_uuid == receiptUuid)
            result.append(item);
    }
    return result;
}

VoidFuture ReceiptItemModel::update(QString shiftUuid)
{
    KM4_LOG_SCOPE();
    const QString sql = QStringLiteral(
        "SELECT o.* FROM receipt_item o LEFT JOIN receipt r ON r.uuid = o.receipt_uuid LEFT JOIN "
        "shift s ON s.uuid = r.shift_uuid WHERE s.uuid = ? AND o.deleted_at IS NULL");
    return reload(sql, { SqlRow::boundText(shiftUuid) }, [](QSqlQuery &query) {
        KM4_LOG_SCOPE();
        return EntityRows<ReceiptItem>::read(query);
    }).then(logFailure);
}

VoidFuture ReceiptItemModel::insert(QList<ReceiptItem *> list)
{
    KM4_LOG_SCOPE();
    list.removeAll(nullptr);
    const QList<Shown> before = shownBefore(list);
    // Unlike a single push, the row already held decides: one deleted before leaves.
    for (const ReceiptItem *item : std::as_const(list)) {
        const int row = rowOf(item->uuid);
        if (row < 0)
            appendRow(*item);
        else if (rows.at(row).deleted_at != 0)
            removeRowAt(row);
        else
            replaceRow(row, *item);
    }
    return write(list, before).then(logFailure);
}

VoidFuture ReceiptItemModel::removeOldEntity(int dayOld)
{
    Q_UNUSED(dayOld)
    return AsyncSQLQuery::exec(QStringLiteral(" DELETE FROM receipt_item WHERE receipt_uuid NOT IN "
                                              "( SELECT uuid FROM receipt) OR deleted_at IS NOT "
                                              "NULL;"))
        .then([](QSqlQuery) {})
        .onFailed([](const AppException &exception) {
            KM4_LOG(3, exception.message(), exception.description());
        });
}

VoidFuture ReceiptItemModel::insert(BaseEntity *entityPtr)
{
    KM4_LOG_SCOPE();
    return push(entityPtr, EntityWriter::Replace::Always);
}

bool ReceiptItemModel::leavesOnPush(const ReceiptItem &item) const
{
    return item.deleted_at != 0;
}
