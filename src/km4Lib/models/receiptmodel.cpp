#include "receiptmodel.h"

#include "entities/entitiesrepo.h"
#include "entities/sqlrow.h"
#include "entityrows.h"
#include "models/modelhandover.h"
#include "shared/appexception.h"
#include "shared/asyncsqlquery.h"
#include "shared/logger.h"

ReceiptModel::ReceiptModel(QObject *parent)
    : EntityListModel(parent)
{ }

ReceiptModel::~ReceiptModel() = default;

QString ReceiptModel::tableName()
{
    return QStringLiteral("receipt");
}

QVariant ReceiptModel::data(const QModelIndex &index, int role) const
{
    const int row = index.row();
    // Qt's own roles (display, size hint, ...) have no field: a view asking for them gets nothing,
    // not an empty text it would take for a value.
    if (row < 0 || row >= rows.size() || role < Qt::UserRole)
        return QVariant();
    const Receipt &receipt = rows.at(row);
    switch (role) {
    case idRole:
        return receipt.id;
    case uuidRole:
        return receipt.uuid;
    case shiftUuidRole:
        return receipt.shift_uuid;
    case orderUuidRole:
        return receipt.order_uuid;
    case openDateRole:
        return qlonglong(receipt.created_at);
    case closeDateRole:
        return qlonglong(receipt.closed_at);
    case deleteAtRole:
        return qlonglong(receipt.deleted_at);
    case userIdRole:
        return receipt.created_by;
    case isPaidRole:
        return receipt.is_paid;
    default:
        return QString();
    }
}

QHash<int, QByteArray> ReceiptModel::roleNames() const
{
    return {
        { idRole, "idRole" },
        { uuidRole, "uuidRole" },
        { shiftUuidRole, "shiftUuidRole" },
        { orderUuidRole, "orderUuidRole" },
        { openDateRole, "openDateRole" },
        { closeDateRole, "closeDateRole" },
        { deleteAtRole, "deleteAtRole" },
        { userIdRole, "userIdRole" },
        { isPaidRole, "isPaidRole" },
    };
}

Receipt ReceiptModel::byUuid(const QString &uuid) const
{
    KM4_LOG_SCOPE();
    const Receipt *receipt = find(uuid);
    return receipt ? *receipt : Receipt();
}

int ReceiptModel::indexOf(const QString &uuid) const
{
    KM4_LOG_SCOPE();
    return rowOf(uuid);
}

Receipt ReceiptModel::firstInOrder(QString orderUuid)
{
    KM4_LOG_SCOPE();
    for (const Receipt &receipt : std::as_const(rows)) {
        if (receipt.order_uuid == orderUuid)
            return receipt;
    }
    return Receipt();
}

Receipt ReceiptModel::getPreviosByUuid(QString uuid)
{
    KM4_LOG_SCOPE();
    if (rows.size() < 2)
        return Receipt();
    for (int row = 0; row < rows.size(); ++row) {
        const Receipt &receipt = rows.at(row);
        if (receipt.uuid == uuid && receipt.deleted_at == 0)
            return row == 0 ? rows.at(1) : rows.at(row - 1);
    }
    return Receipt();
}

QList<Receipt> ReceiptModel::listReceiptByOrder(QString orderUuid)
{
    KM4_LOG_SCOPE();
    QList<Receipt> result;
    for (const Receipt &receipt : std::as_const(rows)) {
        if (receipt.order_uuid == orderUuid)
            result.append(receipt);
    }
    return result;
}

VoidFuture ReceiptModel::update(QString shiftUuid)
{
    KM4_LOG_SCOPE();
    const QString sql = QStringLiteral(
        "SELECT * FROM receipt o WHERE o.deleted_at IS NULL AND o.shift_uuid = ?;");
    showShift(shiftUuid);
    return reload(sql, { SqlRow::boundText(shiftUuid) }, [](QSqlQuery &query) {
        KM4_LOG_SCOPE();
        return EntityRows<Receipt>::read(query);
    }).then(logFailure);
}

VoidFuture ReceiptModel::insert(QList<Receipt *> itemlist)
{
    KM4_LOG_SCOPE();
    itemlist.removeAll(nullptr);
    const QList<Shown> before = shownBefore(itemlist);
    for (const Receipt *receipt : std::as_const(itemlist))
        upsert(*receipt);
    return write(itemlist, before);
}

VoidFuture ReceiptModel::removeOldEntity(int dayOld)
{
    const QString sql = QStringLiteral("DELETE FROM receipt  WHERE order_uuid NOT IN ( SELECT uuid "
                                       "FROM `order` )  OR (created_at < strftime('%s', 'now', ?) "
                                       "AND deleted_at IS NOT NULL); ");
    return AsyncSQLQuery::exec(sql, { QStringLiteral("-%1 day").arg(dayOld) })
        .then([](QSqlQuery) {})
        .onFailed([](const AppException &exception) {
            KM4_LOG(3, exception.message(), exception.description());
        });
}

VoidFuture ReceiptModel::insert(BaseEntity *entityPtr)
{
    KM4_LOG_SCOPE();
    return push(entityPtr, EntityWriter::Replace::Always);
}

bool ReceiptModel::belongs(const Receipt &receipt) const
{
    return ofShownShift(receipt.shift_uuid);
}
