#include "shiftmodel.h"

#include "entities/entitiesrepo.h"
#include "entityrows.h"
#include "models/modelhandover.h"
#include "shared/appexception.h"
#include "shared/asyncsqlquery.h"
#include "shared/logger.h"

ShiftModel::ShiftModel(QObject *parent)
    : EntityListModel(parent)
{ }

ShiftModel::~ShiftModel() = default;

QString ShiftModel::tableName()
{
    return QStringLiteral("shift");
}

QVariant ShiftModel::data(const QModelIndex &index, int role) const
{
    const int row = index.row();
    if (row < 0 || row >= rows.size())
        return QVariant();
    const Shift &shift = rows.at(row);
    switch (role) {
    case idRole:
        return shift.id;
    case uuidRole:
        return shift.uuid;
    case parentUuidRole:
        return shift.parent_uuid;
    case typeRole:
        return shift.type;
    case createdCommentRole:
        return shift.created_comment;
    case closedCommentRole:
        return shift.closed_comment;
    case numberRole:
        return shift.number;
    case isFiscalRole:
        return shift.is_fiscal;
    case userIdRole:
        return shift.user_id;
    case createdByRole:
        return shift.created_by;
    case createdAtRole:
        return qlonglong(shift.created_at);
    case updatedAtRole:
        return qlonglong(shift.updated_at);
    case closedAtRole:
        return qlonglong(shift.closed_at);
    default:
        return QVariant();
    }
}

QHash<int, QByteArray> ShiftModel::roleNames() const
{
    return {
        { idRole, "idRole" },
        { uuidRole, "uuidRole" },
        { parentUuidRole, "parentUuidRole" },
        { typeRole, "typeRole" },
        { createdCommentRole, "createdCommentRole" },
        { closedCommentRole, "closedCommentRole" },
        { numberRole, "numberRole" },
        { isFiscalRole, "isFiscalRole" },
        { userIdRole, "userIdRole" },
        { createdByRole, "createdByRole" },
        { createdAtRole, "createdAtRole" },
        { updatedAtRole, "updatedAtRole" },
        { closedAtRole, "closedAtRole" },
    };
}

Shift ShiftModel::byUuid(QString uuid)
{
    const Shift *shift = find(uuid);
    return shift ? *shift : Shift();
}

Shift ShiftModel::lastGeneralShift() const
{
    KM4_LOG_SCOPE();
    for (const Shift &shift : rows) {
        if (shift.type == QLatin1String("general"))
            return shift;
    }
    return Shift();
}

VoidFuture ShiftModel::update(QString shiftUuid)
{
    Q_UNUSED(shiftUuid)
    KM4_LOG_SCOPE();
    return reload(QStringLiteral("SELECT s.* FROM shift s ORDER BY s.number DESC"), {},
        [](QSqlQuery &query) {
            KM4_LOG_SCOPE();
            return EntityRows<Shift>::read(query);
        })
        .then(logFailure);
}

VoidFuture ShiftModel::removeOldEntity(int dayOld)
{
    const QString age = QStringLiteral("-%1 day").arg(dayOld);
    const QString sql = QStringLiteral(
        " DELETE FROM shift WHERE closed_at < strftime('%s', 'now', ?) AND closed_at IS NOT NULL "
        "AND number != (SELECT MAX(number) FROM shift WHERE closed_at < strftime('%s', 'now', ?) "
        "AND type = 'general' AND closed_at IS NOT NULL);");
    return AsyncSQLQuery::exec(sql, { age, age })
        .then([](QSqlQuery) {})
        .onFailed([](const AppException &exception) {
            KM4_LOG(3, exception.message(), exception.description());
        });
}

VoidFuture ShiftModel::insert(BaseEntity *entityPtr)
{
    KM4_LOG_SCOPE();
    return push(entityPtr, EntityWriter::Replace::Always);
}

VoidFuture ShiftModel::insert(QList<Shift *> shiftList)
{
    KM4_LOG_SCOPE();
    shiftList.removeAll(nullptr);
    const QList<Shown> before = shownBefore(shiftList);
    for (const Shift *shift : std::as_const(shiftList))
        upsert(*shift);
    return write(shiftList, before).then(logFailure);
}
