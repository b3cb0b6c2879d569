#pragma once

#include "shared/logger.h"

#include <QFuture>
#include <QHash>
#include <QList>
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
};
