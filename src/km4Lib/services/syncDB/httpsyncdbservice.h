#pragma once

#include "services/iservice.h"
#include "shared/voidfuture.h"

#include <QFuture>
#include <QJsonArray>
#include <QJsonObject>
#include <QJsonValue>
#include <QList>
#include <QMap>
#include <QMutex>
#include <QString>
#include <QTimer>

#include <atomic>

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
class HttpSyncDBService : public IService
{
    Q_OBJECT

public:
    HttpSyncDBService(KMAPI *api, AppEnv *env, QObject *parent = nullptr);
    // Waits for a running chain, which ends within the HTTP time-out.
    ~HttpSyncDBService() override;

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

private:
    // What one chain needs from AppEnv, taken on the GUI thread when its tick starts.
    struct Tick
    {
        bool online = true;
        bool first = true;
        qint64 lastUpdate = 0;
        int periodMs = 0;
        int generation = 0;
    };

    void updateTable(QString table, QJsonValue rows);

    [[nodiscard]] QFuture<qint64> writeAnswer(const Tick &tick, const QJsonObject &answer);
    [[nodiscard]] VoidFuture writeEntities(const QString &table, const QJsonArray &rows);
    void storeTimestamp(const Tick &tick, qint64 ts);
    void finish(const Tick &tick);
    void countFailure(const QString &message, const QString &description);
    QString failureText(const QString &message, const QString &description) const;

    // Clears the first-sync flag and announces it, unless stop() has overtaken the chain.
    void finishFirstSync(int generation);
    bool overtaken(int generation) const { return generation != this->generation.load(); }
    int syncPeriod() const;
    void waitForChain();
    // A future of the caller's own that finishes with the running chain.
    [[nodiscard]] VoidFuture follow();

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

    // stop() moves to the next generation; a chain of an earlier one stores and announces nothing
    // more. The mutex makes "still current? then announce" one step against stop().
    std::atomic<int> generation { 0 };
    QMutex announceMutex;
};
