#include "receiptitemmodel.h"

#include "entities/entitiesrepo.h"
#include "entities/sqlrow.h"
#include "entityrows.h"
#include "models/modelhandover.h"
#include "shared/appexception.h"
#include "shared/asyncsqlquery.h"
#include "shared/logger.h"

ReceiptItemModel::ReceiptItemModel(QObject *parent)
    : EntityModel(parent)
{ }

ReceiptItemModel::~ReceiptItemModel() = default;

QString ReceiptItemModel::tableName()
{
    return QStringLiteral("receipt_item");
}

int ReceiptItemModel::rowCount(const QModelIndex &) const
{
    return int(rows.size());
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
    const auto found = indexUuid.constFind(uuid);
    return found == indexUuid.constEnd() ? ReceiptItem() : rows.at(found.value());
}

void ReceiptItemModel::updateIndexUuid(const QString &uuid)
{
    const auto found = indexUuid.constFind(uuid);
    if (found == indexUuid.constEnd())
        return;
    const int removedRow = found.value();
    indexUuid.erase(found);
    for (auto it = indexUuid.begin(); it != indexUuid.end(); ++it) {
        if (it.value() > removedRow)
            --it.value();
    }
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
    const quint64 generation = reloads.start();
    const QFuture<EntityRows<ReceiptItem>> read
        = AsyncSQLQuery::read(sql, { SqlRow::boundText(shiftUuid) }, [](QSqlQuery &query) {
              KM4_LOG_SCOPE();
              return EntityRows<ReceiptItem>::read(query);
          });
    return applyReload(read, reloads, generation,
        [this](EntityRows<ReceiptItem> fresh, const QList<ReceiptItem> &missed) {
            rows = std::move(fresh.rows);
            indexUuid = std::move(fresh.index);
            for (const ReceiptItem &item : missed)
                upsert(item);
        })
        .onFailed(this, [](const AppException &exception) {
            KM4_LOG(3, exception.message(), exception.description());
        });
}

VoidFuture ReceiptItemModel::insert(QList<ReceiptItem *> list)
{
    KM4_LOG_SCOPE();
    list.removeAll(nullptr);
    const QList<ReceiptItem> before = EntityRows<ReceiptItem>::shown(rows, list);
    beginResetModel();
    for (const ReceiptItem *item : std::as_const(list)) {
        bool matched = false;
        int row = 0;
        while (row < rows.size()) {
            if (rows.at(row).uuid != item->uuid) {
                ++row;
                continue;
            }
            matched = true;
            if (rows.at(row).deleted_at != 0) {
                removeRow(row);
                continue;
            }
            rows[row] = *item;
            ++row;
        }
        if (!matched) {
            indexUuid.insert(item->uuid, int(rows.size()));
            rows.append(*item);
        }
    }
    endResetModel();
    return write(list, before);
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
    auto *item = dynamic_cast<ReceiptItem *>(entityPtr);
    if (!item) {
        KM4_LOG(
            3, "not a receipt item:", entityPtr ? entityPtr->tableName() : QStringLiteral("null"));
        return QtFuture::makeReadyFuture();
    }
    const QList<ReceiptItem> before = EntityRows<ReceiptItem>::shown(rows, { item });
    beginResetModel();
    upsert(*item);
    endResetModel();
    return write({ item }, before);
}

VoidFuture ReceiptItemModel::write(
    const QList<ReceiptItem *> &list, const QList<ReceiptItem> &before)
{
    QList<ReceiptItem> pushed;
    pushed.reserve(list.size());
    for (const ReceiptItem *entity : list)
        pushed.append(*entity);
    const quint64 push = reloads.recordPush(pushed);
    return EntitiesRepo::store(list)
        .then(this,
            [this, push, pushed, before](QFuture<QStringList> write) {
                reloads.settle(push);
                // A row the database does not have is not shown either.
                const QStringList refused = EntityRows<ReceiptItem>::refused(write, pushed);
                if (!refused.isEmpty()) {
                    beginResetModel();
                    EntityRows<ReceiptItem>::takeBack(rows, refused, before, &indexUuid);
                    endResetModel();
                }
                write.waitForFinished(); // hands a failure on to the handler below
            })
        .onFailed(this, [](const AppException &exception) {
            KM4_LOG(3, exception.message(), exception.description());
        });
}

void ReceiptItemModel::upsert(const ReceiptItem &item)
{
    bool matched = false;
    for (int row = 0; row < rows.size(); ++row) {
        if (rows.at(row).uuid != item.uuid)
            continue;
        matched = true;
        if (item.deleted_at != 0) {
            removeRow(row);
            break;
        }
        rows[row] = item;
    }
    if (!matched) {
        indexUuid.insert(item.uuid, int(rows.size()));
        rows.append(item);
    }
}

void ReceiptItemModel::removeRow(int row)
{
    updateIndexUuid(rows.at(row).uuid);
    rows.removeAt(row);
}
