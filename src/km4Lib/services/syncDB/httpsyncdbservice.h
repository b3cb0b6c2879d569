#pragma once

#include "services/iservice.h"
#include "services/syncDB/catchuppoint.h"
#include "services/syncDB/entityrowhandler.h"
#include "shared/voidfuture.h"

#include <QFuture>
#include <QJsonArray>
#include <QJsonObject>
#include <QJsonValue>
#include <QList>
#include <QMap>
#include <QMutex>
#include <QPromise>
#include <QString>
#include <QTimer>

#include <atomic>
#include <memory>

class AppEnv;
class KMAPI;

// Keeps the local database in step with the server over HTTP. On a repeating timer it asks
// "/sync-db" for the tables changed since the last synchronisation, writes the rows of the answer
// into the local tables, stores the server's time stamp as "last_update" and checks the device
// clock against it. The first completed synchronisation (firstSyncFinished) starts the rest of the
// application.
//
// One chain runs at a time: it takes what it needs from AppEnv on the GUI thread when the tick
// starts, runs on pool threads, and hands the new time stamp back to AppEnv on the GUI thread.
//
// Between synchronisations the entity tables are kept current by MQTT pushes. While pushes cannot
// arrive (the broker connection is lost, the board is offline, the push client has not yet
// subscribed after a first synchronisation) or cannot be stored, they are lost for good, so such a
// gap is remembered (CatchUpPoint, kept across restarts): every chain while it lasts also asks for
// the entity tables changed since it began and hands their rows to the models, and once their
// rows are stored the gap goes on from that chain's time stamp, or ends when pushes arrived
// throughout. A first synchronisation asks for the entity tables from where the gap stood when
// the board stopped.
class HttpSyncDBService : public IService
{
    Q_OBJECT

public:
    HttpSyncDBService(KMAPI *api, AppEnv *env, QObject *parent = nullptr);
    // Waits for a running chain, which ends within the HTTP time-out.
    ~HttpSyncDBService() override;

    // A synchronisation now, or, while one runs, one chain of its own right after it, which every
    // caller during that run shares. The future finishes with the chain that served the call.
    [[nodiscard]] VoidFuture manualSync();
    QJsonArray reverse(const QJsonArray &array) const;

    // Rows are written in statements of at most this many rows.
    static constexpr int chunkSize = 1000;

Q_SIGNALS:
    void firstSyncFinished();
    void tableSyncing(QString text);
    void tableSynced(QString table, QJsonValue data);
    void syncFinished();

private Q_SLOTS:
    VoidFuture update();

public Q_SLOTS:
    void run() override;
    void stop() override;
    // Pushes stopped reaching the board; they may be missing since `since`, a synchronisation's
    // time stamp.
    void beginGap(qint64 since);
    // Pushes reach the board again: a synchronisation that catches up on the gap starts at once.
    void endGap();
    // Rows pushed since `since` may not have been stored, although pushes arrive: the next
    // synchronisation catches up on them.
    void missedSince(qint64 since);

private:
    // What one chain needs from AppEnv, taken on the GUI thread when its tick starts.
    struct Tick
    {
        bool online = true;
        bool first = true;
        int periodMs = 0;
        int generation = 0;
        // The gap in pushes when the tick started.
        CatchUpPoint::State began;
        // Also asks for the entity tables, for the models.
        bool catchUp = false;
        // Changed since when the tables are asked for.
        qint64 since = 0;
    };

    // The hand-over of caught-up rows, ended by the GUI thread once they are stored, or by stop():
    // on Qt 6.4 a second finish() of a promise runs its continuation again.
    struct HandOver
    {
        QPromise<void> promise;
        std::atomic<bool> ended { false };
        void end()
        {
            if (!ended.exchange(true))
                promise.finish();
        }
    };

    void updateTable(QString table, QJsonValue rows);

    [[nodiscard]] QFuture<qint64> writeAnswer(const Tick &tick, const QJsonObject &answer);
    [[nodiscard]] VoidFuture writeEntities(const QString &table, const QJsonArray &rows);
    // Hands the caught-up rows, of an answer with the time stamp ts, to the models on the GUI
    // thread; finishes once they are stored.
    [[nodiscard]] VoidFuture handOverCaughtUp(
        const Tick &tick, const QJsonObject &tables, qint64 ts);
    void applyCaughtUp(
        const Tick &tick, const QJsonObject &tables, qint64 ts, std::shared_ptr<HandOver> handOver);
    [[nodiscard]] VoidFuture storeTimestamp(const Tick &tick, qint64 ts);
    void checkClock(qint64 ts);
    void finish(const Tick &tick);
    void countFailure(const QString &message, const QString &description);
    QString failureText(const QString &message, const QString &description) const;

    // Clears the first-sync flag and announces the end of the chain (and of the first
    // synchronisation) on the GUI thread, unless stop() has overtaken the chain.
    void announceFinish(int generation);
    bool overtaken(int generation) const { return generation != this->generation.load(); }
    int syncPeriod() const;
    void waitForChain();
    // Lets stop() and the destructor end what would otherwise wait for the GUI thread.
    void releaseWaiters();
    // A future of the caller's own that finishes with the running chain.
    [[nodiscard]] VoidFuture follow();
    void followInto(std::shared_ptr<QPromise<void>> caller);
    // A chain now, or one queued after the running chain.
    [[nodiscard]] VoidFuture syncSoon();
    void startQueued(int queuedIn);

    KMAPI *api;
    QTimer syncTimer;
    AppEnv *env;
    std::atomic<bool> firstSync { true };
    // Set by stop(), cleared by run(); GUI thread only.
    bool stopped = false;
    VoidFuture currentSync;
    std::atomic<int> failureCount { 0 };
    QMap<QString, QString> referenceTables;
    QMap<QString, QString> entityTables;
    EntityRowHandler rows;

    // Callers waiting for the chain queued after the running one; GUI thread.
    QList<std::shared_ptr<QPromise<void>>> queuedCallers;
    // The gap in pushes not yet caught up on. Shared with the ends of hand-overs, which may come
    // after this object has gone.
    const std::shared_ptr<CatchUpPoint> point = std::make_shared<CatchUpPoint>();

    // stop() moves to the next generation; a chain of an earlier one stores and announces nothing
    // more. The mutex makes "still current? then announce" one step against stop().
    std::atomic<int> generation { 0 };
    QMutex announceMutex;
    // The hand-over of caught-up rows a running chain waits for; under announceMutex.
    std::shared_ptr<HandOver> pendingHandOver;
};
