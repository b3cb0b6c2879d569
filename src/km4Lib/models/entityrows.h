#pragma once

#include "shared/logger.h"

#include <QFuture>
#include <QHash>
#include <QList>
#include <QSet>
#include <QSqlQuery>
#include <QString>
#include <QStringList>

// The rows of one reload, read on the pool thread that ran the SELECT, with the uuid index
// built over them (a uuid that occurs twice keeps its later row).
template <typename Entity> struct EntityRows
{
    QList<Entity> rows;
    QHash<QString, int> index;

    static EntityRows read(QSqlQuery &query)
    {
        EntityRows result;
        while (query.next()) {
            Entity entity;
            entity.fromRow(query);
            result.index.insert(entity.uuid, int(result.rows.size()));
            result.rows.append(std::move(entity));
        }
        return result;
    }

    // The rows shown now for the uuids of a push, taken before the push changes them.
    static QList<Entity> shown(const QList<Entity> &rows, const QList<Entity *> &pushed)
    {
        QSet<QString> uuids;
        for (const Entity *entity : pushed)
            uuids.insert(entity->uuid);
        QList<Entity> result;
        for (const Entity &row : rows) {
            if (uuids.contains(row.uuid))
                result.append(row);
        }
        return result;
    }

    // The uuids of a push the database does not have: those it refused, or all when the write
    // failed.
    static QStringList refused(const QFuture<QStringList> &write, const QList<Entity> &pushed)
    {
        if (!write.isCanceled() && write.resultCount() > 0)
            return write.result();
        QStringList all;
        for (const Entity &entity : pushed)
            all.append(entity.uuid);
        return all;
    }

    // Takes refused rows back: each refused uuid shows what it showed before its push, or
    // nothing; the index, when there is one, is rebuilt.
    static void takeBack(QList<Entity> &rows, const QStringList &refused,
        const QList<Entity> &before, QHash<QString, int> *index = nullptr)
    {
        const QSet<QString> gone(refused.cbegin(), refused.cend());
        rows.removeIf([&gone](const Entity &row) { return gone.contains(row.uuid); });
        for (const Entity &row : before) {
            if (gone.contains(row.uuid))
                rows.append(row);
        }
        if (!index)
            return;
        index->clear();
        for (qsizetype i = 0; i < rows.size(); ++i)
            index->insert(rows.at(i).uuid, int(i));
    }
};
