#include "ordermodel.h"

#include "entities/entitiesrepo.h"
#include "entities/sqlrow.h"
#include "models/modelhandover.h"
#include "shared/appexception.h"
#include "shared/asyncsqlquery.h"
#include "shared/logger.h"

OrderModel::OrderModel(QObject *parent)
    : EntityListModel(parent)
{ }

OrderModel::~OrderModel() = default;

QString OrderModel::tableName()
{
    return QStringLiteral("order");
}

QVariant OrderModel::data(const QModelIndex &index, int role) const
{
    const int row = index.row();
    // Qt's own roles (display, size hint, ...) have no field: a view asking for them gets nothing,
    // not an empty text it would take for a value.
    if (row < 0 || row >= rows.size() || role < Qt::UserRole)
        return QVariant();
    const Order &order = rows.at(row);
    switch (role) {
    case idRole:
        return order.id;
    case uuidRole:
        return order.uuid;
    case numberRole:
        return order.number;
    case shiftUuidRole:
        return order.shift_uuid;
    case openDateRole:
        return qlonglong(order.created_at);
    case closeDateRole:
        return qlonglong(order.closed_at);
    case userIdRole:
        return order.created_by;
    case clientIdRole:
        return order.client_id;
    case clientUuidRole:
        return order.client_uuid;
    case statusNameRole:
        return order.status;
    case commentRole:
        return order.comment;
    case tableIdRole:
        return order.table_id;
    case guestsRole:
        return order.number_guests;
    case isPaidRole:
        return order.is_paid;
    case isClosedRole:
        return order.is_closed;
    case deleteAtRole:
        return qlonglong(order.deleted_at);
    default:
        return QString();
    }
}

QHash<int, QByteArray> OrderModel::roleNames() const
{
    return {
        { idRole, "idRole" },
        { uuidRole, "uuidRole" },
        { numberRole, "numberRole" },
        { shiftUuidRole, "shiftUuidRole" },
        { openDateRole, "openDateRole" },
        { closeDateRole, "closeDateRole" },
        { userIdRole, "userIdRole" },
        { clientIdRole, "clientIdRole" },
        { clientUuidRole, "clientUuidRole" },
        { statusNameRole, "statusNameRole" },
        { commentRole, "commentRole" },
        { tableIdRole, "tableIdRole" },
        { guestsRole, "guestsRole" },
        { isPaidRole, "isPaidRole" },
        { deleteAtRole, "deleteAtRole" },
    };
}

Order OrderModel::byUuid(const QString &uuid) const
{
    KM4_LOG_SCOPE();
    const Order *order = find(uuid);
    return order ? *order : Order();
}

int OrderModel::indexOf(const QString &uuid) const
{
    return indexUuid.value(uuid, -1);
}

Order OrderModel::at(int row) const
{
    return row >= 0 && row < rows.size() ? rows.at(row) : Order();
}

Order OrderModel::getPreviousByUuid(const QString &uuid) const
{
    KM4_LOG_SCOPE();
    if (rows.size() < 2)
        return Order();
    for (int row = 0; row < rows.size(); ++row) {
        if (rows.at(row).uuid == uuid)
            return row == 0 ? rows.at(1) : rows.at(row - 1);
    }
    return Order();
}

void OrderModel::updateIndexUuid(const QString &uuid)
{
    KM4_LOG_SCOPE();
    dropFromIndex(uuid);
}

VoidFuture OrderModel::update(QString shiftUuid)
{
    KM4_LOG_SCOPE();
    const QString sql = QStringLiteral(
        "SELECT * FROM 'order' o WHERE o.deleted_at IS NULL AND o.shift_uuid = ?;");
    showShift(shiftUuid);
    return reload(sql, { SqlRow::boundText(shiftUuid) }, [](QSqlQuery &query) {
        KM4_LOG_SCOPE();
        return EntityRows<Order>::read(query);
    }).then(logFailure);
}

VoidFuture OrderModel::removeOldEntity(int day)
{
    const QString age = QStringLiteral("-%1 day").arg(day);
    const QString sql = QStringLiteral(
        "DELETE FROM 'order' WHERE (closed_at < strftime('%s', 'now', ?) AND closed_at IS NOT NULL "
        " AND shift_uuid IN ( SELECT uuid FROM shift WHERE closed_at < strftime('%s', 'now', ?) "
        "AND closed_at IS NOT NULL  )) OR ((created_at < strftime('%s', 'now', ?)) AND deleted_at "
        "IS NOT NULL); ");
    return AsyncSQLQuery::exec(sql, { age, age, age })
        .then([](QSqlQuery) {})
        .onFailed([](const AppException &exception) {
            KM4_LOG(3, exception.message(), exception.description());
        });
}

VoidFuture OrderModel::insert(BaseEntity *entityPtr)
{
    KM4_LOG_SCOPE();
    return push(entityPtr, EntityWriter::Replace::Always);
}

bool OrderModel::leavesOnPush(const Order &order) const
{
    return order.deleted_at != 0;
}

bool OrderModel::belongs(const Order &order) const
{
    return ofShownShift(order.shift_uuid);
}
