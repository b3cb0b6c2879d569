#pragma once

#include "entities/entitiesrepo.h"
#include "entitymodel.h"
#include "entityrows.h"
#include "reloadtracker.h"
#include "shared/appexception.h"
#include "shared/asyncsqlquery.h"
#include "shared/logger.h"

#include <QFuture>
#include <QHash>
#include <QList>
#include <QSet>
#include <QString>
#include <QStringList>

#include <algorithm>
#include <optional>

// The row bookkeeping of the entity models: the records in model order, the index from uuid to
// row, and the row signals that tell views and the order board exactly which rows a push changed
// (dataChanged for a record replaced in place, inserted rows for an appended one, removed rows for
// one that left). A reload replaces every row and is announced as one reset.
template <typename Entity> class EntityListModel : public EntityModel
{
public:
    int rowCount(const QModelIndex & = QModelIndex()) const override { return int(rows.size()); }

    // The record with this uuid, or null; valid until the rows next change. For readers that
    // follow the row signals and look rows up on every push, so it writes no trace.
    const Entity *find(const QString &uuid) const
    {
        const auto found = indexUuid.constFind(uuid);
        return found == indexUuid.constEnd() ? nullptr : &rows.at(found.value());
    }

    // The record of a row, or null outside the rows; valid until the rows next change.
    const Entity *entityAt(int row) const
    {
        return row >= 0 && row < rows.size() ? &rows.at(row) : nullptr;
    }

    // Whether the row shown for the record's uuid is newer by updated_at; a time of 0 is unknown
    // and never newer, as the database compares it.
    bool showsNewer(const Entity &entity) const
    {
        const Entity *shown = find(entity.uuid);
        return shown && entity.updated_at != 0 && shown->updated_at > entity.updated_at;
    }

    VoidFuture insertCaughtUp(BaseEntity *entityPtr) override
    {
        return push(entityPtr, EntityWriter::Replace::UnlessStoredIsNewer);
    }

    // Takes one record pushed by the server, or caught up after a gap in pushes, into the rows
    // and into the database. A record without a uuid could never be found or replaced: it is
    // neither shown nor stored. A caught-up record older than the row shown is left out: the
    // database has, or is about to have, that newer row.
    VoidFuture takeRow(BaseEntity *entityPtr, EntityWriter::Replace replace) override
    {
        auto *entity = dynamic_cast<Entity *>(entityPtr);
        if (!entity) {
            KM4_LOG(3, "not a row of", Entity().tableName(), ":",
                entityPtr ? entityPtr->tableName() : QStringLiteral("null"));
            return QtFuture::makeReadyFuture();
        }
        if (entity->uuid.isEmpty()) {
            KM4_LOG(3, "a row without a uuid is neither stored nor shown:", entity->tableName());
            return QtFuture::makeReadyFuture();
        }
        if (replace == EntityWriter::Replace::UnlessStoredIsNewer && showsNewer(*entity))
            return QtFuture::makeReadyFuture();
        const QList<Shown> before = shownBefore({ entity });
        upsert(*entity);
        return write({ entity }, before, replace).then(logAndHandOnFailure);
    }

protected:
    explicit EntityListModel(QObject *parent)
        : EntityModel(parent)
    { }

    // Whether a pushed record takes the row with its uuid out of the list instead of replacing
    // it (a record deleted on the server, in the models that drop those).
    virtual bool leavesOnPush(const Entity &) const { return false; }
    // Whether a record is one the model shows at all. A record that is not is still stored, but
    // leaves the list, or stays out of it.
    virtual bool belongs(const Entity &) const { return true; }

    // The models of one shift show the rows of the shift they were last reloaded for: an order of
    // an earlier shift, pushed late or caught up after a new shift came, does not come back. A
    // model never reloaded shows every row pushed to it.
    void showShift(const QString &shiftUuid) { shownShift = shiftUuid; }
    bool ofShownShift(const QString &shiftUuid) const
    {
        return !shownShift || *shownShift == shiftUuid;
    }

    int rowOf(const QString &uuid) const { return indexUuid.value(uuid, -1); }

    // A row as it was shown before a push changed it, for taking the push back.
    struct Shown
    {
        int row;
        Entity entity;
    };

    // takeRow() for insert() and insertCaughtUp(): a failed write is logged, not handed on.
    [[nodiscard]] VoidFuture push(BaseEntity *entityPtr, EntityWriter::Replace replace)
    {
        return takeRow(entityPtr, replace).then([](VoidFuture taken) {
            try {
                taken.waitForFinished();
            } catch (const AppException &) {
                // logged by takeRow()
            }
        });
    }

    // Takes one record into the rows: it replaces the row with its uuid, or removes that row
    // when leavesOnPush says so or the record does not belong to the model, or is appended.
    // Inside a reset `announce` is false: the reset tells everything.
    void upsert(const Entity &entity, bool announce = true)
    {
        const int row = rowOf(entity.uuid);
        if (!belongs(entity)) {
            if (row >= 0)
                removeRowAt(row, announce);
        } else if (row < 0) {
            appendRow(entity, announce);
        } else if (leavesOnPush(entity)) {
            removeRowAt(row, announce);
        } else {
            replaceRow(row, entity, announce);
        }
    }

    void replaceRow(int row, const Entity &entity, bool announce = true)
    {
        rows[row] = entity;
        if (announce) {
            const QModelIndex changed = index(row, 0);
            Q_EMIT dataChanged(changed, changed);
        }
    }

    void appendRow(const Entity &entity, bool announce = true)
    {
        insertRowAt(int(rows.size()), entity, announce);
    }

    void insertRowAt(int row, const Entity &entity, bool announce = true)
    {
        if (announce)
            beginInsertRows(QModelIndex(), row, row);
        if (row < rows.size()) {
            for (auto it = indexUuid.begin(); it != indexUuid.end(); ++it) {
                if (it.value() >= row)
                    ++it.value();
            }
        }
        indexUuid.insert(entity.uuid, row);
        rows.insert(row, entity);
        if (announce)
            endInsertRows();
    }

    void removeRowAt(int row, bool announce = true)
    {
        if (announce)
            beginRemoveRows(QModelIndex(), row, row);
        dropFromIndex(rows.at(row).uuid);
        rows.removeAt(row);
        if (announce)
            endRemoveRows();
    }

    // Drops the uuid from the index and moves the entries behind its row up by one; called
    // before that row leaves the list.
    void dropFromIndex(const QString &uuid)
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

    // Starts a reload whose rows `read` delivers from the statement with `values` bound; they
    // replace the model's rows in one reset on this model's thread, with the pushes the reload may
    // have missed replayed onto them.
    template <typename Read>
    [[nodiscard]] VoidFuture reload(const QString &sql, const QVariantList &values, Read read)
    {
        const quint64 generation = reloads.start();
        return applyReload(AsyncSQLQuery::read(sql, values, read), reloads, generation,
            [this](EntityRows<Entity> fresh, const QList<Entity> &missed) {
                rows = std::move(fresh.rows);
                indexUuid = std::move(fresh.index);
                for (const Entity &entity : missed)
                    upsert(entity, false);
            });
    }

    // The rows shown now for the uuids of a push, in row order; taken before the push changes
    // them, so that a row the database does not take can be taken back.
    QList<Shown> shownBefore(const QList<Entity *> &list) const
    {
        QList<int> shownRows;
        for (const Entity *entity : list) {
            const int row = rowOf(entity->uuid);
            if (row >= 0)
                shownRows.append(row);
        }
        std::sort(shownRows.begin(), shownRows.end());
        shownRows.erase(std::unique(shownRows.begin(), shownRows.end()), shownRows.end());
        QList<Shown> result;
        for (int row : std::as_const(shownRows))
            result.append({ row, rows.at(row) });
        return result;
    }

    // Stores the pushed records, remembered until the write has ended so that a reload that
    // misses them replays them. A row the database does not have (refused, kept out by a newer
    // stored row, or the whole write failed) is not shown either: it goes back to what `before`
    // (from shownBefore) showed, or leaves. The future carries the write's failure.
    [[nodiscard]] VoidFuture write(const QList<Entity *> &list, const QList<Shown> &before,
        EntityWriter::Replace replace = EntityWriter::Replace::Always)
    {
        QList<Entity> pushed;
        pushed.reserve(list.size());
        for (const Entity *entity : list)
            pushed.append(*entity);
        const quint64 push = reloads.recordPush(pushed);
        return ModelHandOver::run(EntitiesRepo::store(list, replace), this,
            [this, push, pushed, before](QFuture<QStringList> write) {
                const QStringList refused = EntityRows<Entity>::refused(write, pushed);
                reloads.settle(push, refused);
                if (!refused.isEmpty())
                    takeBack(refused, before);
                write.waitForFinished(); // hands a failure on to the caller
            });
    }

    // Shows again what the rows the database did not take showed before their push, in the
    // places they had; a row that was not shown before leaves.
    void takeBack(const QStringList &refused, const QList<Shown> &before)
    {
        const QSet<QString> gone(refused.cbegin(), refused.cend());
        QSet<QString> restored;
        for (const QString &uuid : gone) {
            const int row = rowOf(uuid);
            if (row < 0)
                continue;
            const auto was = std::find_if(before.cbegin(), before.cend(),
                [&uuid](const Shown &shown) { return shown.entity.uuid == uuid; });
            if (was == before.cend()) {
                removeRowAt(row);
            } else {
                replaceRow(row, was->entity);
                restored.insert(uuid);
            }
        }
        // Rows the push took out come back where they were, the earliest first, so each finds the
        // rows before it in place.
        for (const Shown &shown : before) {
            if (gone.contains(shown.entity.uuid) && !restored.contains(shown.entity.uuid))
                insertRowAt(std::min(shown.row, int(rows.size())), shown.entity);
        }
    }

    QList<Entity> rows;
    QHash<QString, int> indexUuid;
    ReloadTracker<Entity> reloads;

private:
    std::optional<QString> shownShift;
};
