#include "entitiesrepo.h"

#include "entitywriter.h"

namespace {

template <typename Entity>
QFuture<QStringList> storeAll(
    const QList<Entity *> &list, EntityWriter::Replace replace = EntityWriter::Replace::Always)
{
    EntityWriter::Rows rows;
    rows.replace = replace;
    rows.values.reserve(list.size());
    rows.uuids.reserve(list.size());
    rows.ids.reserve(list.size());
    for (const Entity *entity : list) {
        if (!entity)
            continue;
        if (rows.table.isEmpty()) {
            rows.table = entity->tableName();
            rows.columns = entity->columns();
        }
        rows.values.append(entity->values());
        rows.uuids.append(entity->uuid);
        rows.ids.append(entity->id);
    }
    return EntityWriter::write(std::move(rows));
}

template <typename Entity> VoidFuture insertAll(const QList<Entity *> &list)
{
    // Shares the state of the writer's own future: no continuation is attached.
    return VoidFuture(storeAll(list));
}

} // namespace

EntitiesRepo::EntitiesRepo(QObject *parent)
    : QObject(parent)
{ }

VoidFuture EntitiesRepo::insertOrder(QList<Order *> list)
{
    return insertAll(list);
}

VoidFuture EntitiesRepo::insertShift(QList<Shift *> list)
{
    return insertAll(list);
}

VoidFuture EntitiesRepo::insertReceipt(QList<Receipt *> list)
{
    return insertAll(list);
}

VoidFuture EntitiesRepo::insertReceiptItem(QList<ReceiptItem *> list)
{
    return insertAll(list);
}

QFuture<QStringList> EntitiesRepo::store(const QList<Order *> &list, EntityWriter::Replace replace)
{
    return storeAll(list, replace);
}

QFuture<QStringList> EntitiesRepo::store(const QList<Shift *> &list, EntityWriter::Replace replace)
{
    return storeAll(list, replace);
}

QFuture<QStringList> EntitiesRepo::store(
    const QList<Receipt *> &list, EntityWriter::Replace replace)
{
    return storeAll(list, replace);
}

QFuture<QStringList> EntitiesRepo::store(
    const QList<ReceiptItem *> &list, EntityWriter::Replace replace)
{
    return storeAll(list, replace);
}
