#pragma once

#include "shared/voidfuture.h"

#include <QList>
#include <QMutex>
#include <QString>

#include <optional>
#include <utility>

// The time from which changes of the entity tables may be missing from the local database:
// pushes could not arrive (the broker is away, the board is offline, the push client has not
// subscribed yet) or could not be stored, and no synchronisation has caught up on the rows changed
// since. Whatever stops the board, it must not be lost: it is kept in table config as
// "catch_up_since", written by the writer of the entity tables, in order with their rows and
// beside "last_update", and the next start asks for the entity tables from there. A point of 0
// asks for every change: a board that has never stored an answer for the entity tables (no
// "last_update" yet) stands there until a synchronisation that asked for them has stored them.
//
// Thread-safe: the GUI thread opens it, the synchronisation's chain moves it on from pool threads.
// A write is queued under the same lock as the change it stores, so the database sees the changes
// in the order they were made.
class CatchUpPoint
{
public:
    struct State
    {
        // Unset while every change up to now is stored; 0 while any change may be missing.
        std::optional<qint64> since;
        // Gaps opened so far: a catch-up ends only what had opened before it began.
        quint64 opened = 0;
        // Pushes reach the database: the push client is subscribed and their writes succeed.
        bool pushesArrive = false;
        // Moves on when the account's data is removed; what began before stores nothing more.
        quint64 account = 0;
        // The point the board stopped with could not be read: changes may be missing since any
        // time, and the stored point stays as it is until a first synchronisation has asked for
        // every change.
        bool unread = false;
    };

    static const QString key;

    // Reads what the board stopped with, once for each account, before anything else changes it;
    // the other calls read it first when they come first, and read it again while it could not be
    // read. Blocks on the calling thread's connection.
    void load();
    State state();

    // Changes since `since` may be missing: the point moves back to it when it is later. A time
    // of 0 or less is one the caller does not know (the settings are not loaded yet, or nothing
    // has been synchronised): the last synchronisation stored says it, and where there was none,
    // every change may be missing.
    void open(qint64 since);
    // Opens at `since` unless a gap is open already.
    void openIfNone(qint64 since);
    void setPushesArrive(bool arrive);

    // A catch-up that began in `began` has stored its rows (or failed to, `stored` false), and
    // its answer covered every change up to `timestamp`. Ends the gap when pushes arrived
    // throughout and no gap opened meanwhile; else the gap goes on from `timestamp`, unless the
    // rows were not stored. The next synchronisation stores the outcome. A catch-up that began
    // with the point unread has asked for every change: what was stored is known from now on.
    void caughtUp(const State &began, qint64 timestamp, bool stored);

    // A synchronisation that began in `began` has stored its rows: queues the write of its time
    // stamp as "last_update" with the point as it stands. A first synchronisation has asked for
    // every entity table since the point: the point is then its own time stamp, from which
    // pushes may be missed until the push client has subscribed. The future fails with the
    // write; it is finished at once for a removed account.
    [[nodiscard]] VoidFuture synchronised(const State &began, qint64 timestamp, bool first);

    // The account's data is being removed: nothing of it is to be caught up on or stored.
    void forget();
    // Waits for the writes queued so far; no step of them needs the calling thread.
    void waitForWrites();

private:
    void loadLocked();
    void openLocked(qint64 since);
    // A synchronisation that began in `began` has stored what it asked for; with `lock` held.
    void coveredUnread(const State &began);
    // Stores the point alone; with `lock` held.
    void storePoint();
    [[nodiscard]] VoidFuture write(const QList<std::pair<QString, QString>> &settings);
    QString pointText() const;

    QMutex mutex;
    State current;
    bool loaded = false;
    // The time stamp of the last synchronisation stored: read with the point, then moved on by
    // each synchronisation; 0 while there is none.
    qint64 lastUpdate = 0;
    VoidFuture lastWrite = QtFuture::makeReadyFuture();
};
