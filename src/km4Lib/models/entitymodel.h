#pragma once

#include "entities/baseentity.h"
#include "entities/entitywriter.h"
#include "models/entityrows.h"
#include "models/modelhandover.h"
#include "models/reloadtracker.h"
#include "shared/voidfuture.h"

#include <QAbstractListModel>
#include <QString>

// Base of the list models over the local entity tables. A model reloads the rows of one shift
// from the database (update), takes one record pushed by the server into its rows and into the
// database (insert), and deletes old rows from the database (removeOldEntity). Rows change only
// on the model's own thread: a reload in one reset, a push as the rows it concerns.
class EntityModel : public QAbstractListModel
{
    Q_OBJECT

public:
    explicit EntityModel(QObject *parent = nullptr);

public Q_SLOTS:
    virtual VoidFuture update(QString shiftUuid = QString()) = 0;
    virtual VoidFuture insert(BaseEntity *entityPtr) = 0;
    virtual VoidFuture removeOldEntity(int day) = 0;
    // Takes one record caught up over HTTP after a gap in pushes, as insert() takes a pushed one,
    // except that a newer row shown or stored for its uuid stays: a push may have overtaken it.
    virtual VoidFuture insertCaughtUp(BaseEntity *entityPtr) = 0;

public:
    // What insert() (Replace::Always) and insertCaughtUp() (UnlessStoredIsNewer) do, except that
    // the future fails with the write's failure where those log it and finish: the
    // synchronisation catches up on a row whose write could not run.
    [[nodiscard]] virtual VoidFuture takeRow(BaseEntity *entityPtr, EntityWriter::Replace replace)
        = 0;

protected:
    // Logs the failure that a finished reload or write carries. Chained with then(), not with
    // onFailed(this, ...): a link bound to a model that is gone asserts in a debug build, and on
    // Qt 6.4 onFailed() finishes a cancelled future as if it had succeeded, so the caller's next
    // link would run for a model that is gone. Here a cancelled future stays cancelled.
    static void logFailure(VoidFuture finished);
    // The same, and the failure stays the future's.
    static void logAndHandOnFailure(VoidFuture finished);

    // Hands the rows of the reload `generation`, read on a pool thread, to this model's thread
    // and installs them there in one reset, unless the read failed or a reload that started later
    // has been applied already. install(fresh, missed) takes the fresh rows and replays the
    // pushes the reload may have missed onto them. The future carries the read's failure.
    template <typename Entity, typename Install>
    [[nodiscard]] VoidFuture applyReload(QFuture<EntityRows<Entity>> read,
        ReloadTracker<Entity> &reloads, quint64 generation, Install install)
    {
        return ModelHandOver::run(
            read, this, [this, &reloads, generation, install](QFuture<EntityRows<Entity>> read) {
                QList<Entity> missed;
                const bool succeeded = !read.isCanceled() && read.resultCount() > 0;
                const bool apply = reloads.finish(generation, succeeded, &missed);
                if (!succeeded) {
                    read.waitForFinished(); // hands a failure on to the caller
                    return;
                }
                if (!apply)
                    return; // a reload that started later has been applied already
                beginResetModel();
                install(read.takeResult(), missed);
                endResetModel();
            });
    }
};
