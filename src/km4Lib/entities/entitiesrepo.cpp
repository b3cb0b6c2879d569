#include "entitiesrepo.h"

#include "shared/asyncsqlquery.h"
#include "sqlrow.h"

#include <QSqlQuery>

namespace {

// The order table's name is an SQL keyword, hence the quotes in its template.
const QString orderTemplate = QStringLiteral("INSERT INTO '%1' (%2) VALUES %3;");
const QString plainTemplate = QStringLiteral("INSERT INTO %1 (%2) VALUES %3;");

template <typename Entity>
VoidFuture insertAll(const QList<Entity *> &list, const QString &statementTemplate)
{
    const Entity *first = nullptr;
    QStringList rows;
    rows.reserve(list.size());
    for (const Entity *entity : list) {
        if (!entity)
            continue;
        if (!first)
            first = entity;
        rows.append(entity->toRow());
    }
    if (!first)
        return QtFuture::makeReadyFuture();
    // The rows go last and in one pass, so nothing inside them is taken for a placeholder.
    const QString sql = SqlRow::fill(statementTemplate,
        { first->tableName(), first->columns().join(QLatin1String(", ")),
            rows.join(QLatin1String(", ")) });
    return AsyncSQLQuery::exec(sql).then([](QSqlQuery) {});
}

} // namespace

EntitiesRepo::EntitiesRepo(QObject *parent)
    : QObject(parent)
{ }

VoidFuture EntitiesRepo::insertOrder(QList<Order *> list)
{
    return insertAll(list, orderTemplate);
}

VoidFuture EntitiesRepo::insertShift(QList<Shift *> list)
{
    return insertAll(list, plainTemplate);
}

VoidFuture EntitiesRepo::insertReceipt(QList<Receipt *> list)
{
    return insertAll(list, plainTemplate);
}

VoidFuture EntitiesRepo::insertReceiptItem(QList<ReceiptItem *> list)
{
    return insertAll(list, plainTemplate);
}
