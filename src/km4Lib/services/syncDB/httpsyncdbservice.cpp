#include "httpsyncdbservice.h"

#include "referencetablewriter.h"

#include "config/timerinterval.h"
#include "core/appenv.h"
#include "entities/entitiesrepo.h"
#include "shared/appexception.h"
#include "shared/dbexception.h"
#include "shared/kmapi.h"
#include "shared/kmapiexception.h"
#include "shared/logger.h"
#include "shared/networkexception.h"
#include "shared/threadstorage.h"

#include <QDateTime>
#include <QJsonDocument>
#include <QMutexLocker>
#include <QPromise>
#include <QSqlError>
#include <QSqlQuery>
#include <QtConcurrent>

#include <algorithm>
#include <cmath>
#include <exception>
#include <memory>
#include <type_traits>
#include <utility>

namespace {

constexpr int defaultSyncPeriodMs = 30000;
// Beyond this the device clock counts as wrong.
constexpr qint64 clockToleranceSecs = 300;

QMap<QString, QString> identityMap(std::initializer_list<const char *> names)
{
    QMap<QString, QString> map;
    for (const char *name : names)
        map.insert(QString::fromLatin1(name), QString::fromLatin1(name));
    return map;
}

// The server's time stamp in seconds; anything but a positive whole number is unusable.
bool readTimestamp(const QJsonValue &value, qint64 *ts)
{
    if (!value.isDouble())
        return false;
    const double number = value.toDouble();
    // Below 2^53 every whole number is exact in a double.
    if (number <= 0 || number >= 9007199254740992.0 || std::floor(number) != number)
        return false;
    *ts = value.toInteger();
    return true;
}

// A row without a uuid could never be found or replaced, and would be shown as an order of its own.
template <typename Record> bool storable(const Record &record)
{
    return !record.uuid.isEmpty();
}

// Table shift also requires a creation time, which the record writes as NULL when it is 0: one
// such row would fail its whole statement, and with it every first synchronisation.
template <> bool storable(const Shift &shift)
{
    return !shift.uuid.isEmpty() && shift.created_at != 0;
}

// Writes rows of one entity table through its records, so their NULL and default rules hold, in
// requests of at most HttpSyncDBService::chunkSize rows. All chunks are handed to the entity
// writer at once: it keeps their order and writes what is queued together in one transaction, so
// a large table does not wait for one disk flush per chunk. The future fails when a chunk fails.
template <typename Record>
VoidFuture writeRecords(const QJsonArray &rows, VoidFuture (*insert)(QList<Record *>))
{
    QList<VoidFuture> chunks;
    for (qsizetype start = 0; start < rows.size(); start += HttpSyncDBService::chunkSize) {
        const qsizetype end = std::min(rows.size(), start + HttpSyncDBService::chunkSize);
        QList<Record> records(end - start);
        QList<Record *> pointers;
        pointers.reserve(records.size());
        for (qsizetype i = start; i < end; ++i) {
            Record &record = records[i - start];
            record.fromJson(rows.at(i).toObject());
            if (storable(record))
                pointers.append(&record);
        }
        if (pointers.size() < records.size()) {
            KM4_LOG(2, "rows the local table cannot hold are skipped:", records.first().tableName(),
                records.size() - pointers.size());
        }
        // The values are taken before the call returns; the records may go.
        chunks.append(insert(pointers));
    }
    if (chunks.isEmpty())
        return QtFuture::makeReadyFuture();
    // The writer ends requests in the order they came: once the last is done, all are.
    VoidFuture last = chunks.constLast();
    return last.then([chunks] {
        for (VoidFuture chunk : chunks)
            chunk.waitForFinished(); // hands a failure on
    });
}

} // namespace

HttpSyncDBService::HttpSyncDBService(KMAPI *api, AppEnv *env, QObject *parent)
    : IService(parent)
    , api(api)
    , env(env)
    , currentSync(QtFuture::makeReadyFuture())
    , referenceTables(identityMap(
          { "config", "user_general", "department", "order_status", "menu", "hall", "table" }))
    , entityTables(identityMap({ "shift", "order", "receipt", "receipt_item" }))
    , rows(env)
{
    connect(&syncTimer, &QTimer::timeout, this, &HttpSyncDBService::update);
    // Every change of the online state, in either direction, runs run(); a service that stop()
    // has stopped waits for an explicit run(). Offline, pushes may go unheard as well: the first
    // synchronisation back catches up.
    connect(&env->isOnline, &PrivateEnvVariable::changed, this, [this] {
        if (stopped)
            return;
        if (!this->env->isOnline.value())
            point->open(this->env->lastUpdate.value());
        run();
    });
}

HttpSyncDBService::~HttpSyncDBService()
{
    {
        const QMutexLocker locker(&announceMutex);
        ++generation;
    }
    syncTimer.stop();
    releaseWaiters();
    waitForChain();
}

void HttpSyncDBService::run()
{
    stopped = false;
    // Where the gap stood when the board stopped, before anything moves it.
    point->load();
    if (!env->isOnline.value()) {
        syncTimer.stop();
        if (firstSync.exchange(false))
            Q_EMIT firstSyncFinished();
        Q_EMIT syncFinished();
        return;
    }
    if (syncTimer.isActive())
        return;
    (void)syncSoon();
    syncTimer.start(syncPeriod());
}

void HttpSyncDBService::stop()
{
    {
        const QMutexLocker locker(&announceMutex);
        ++generation;
        firstSync = true;
    }
    stopped = true;
    syncTimer.stop();
    // Gaps of the account being removed need no catching up.
    point->forget();
    releaseWaiters();
    waitForChain();
    // Nothing of the account is written after this returns.
    point->waitForWrites();
}

VoidFuture HttpSyncDBService::manualSync()
{
    if (!env->isOnline.value())
        return QtFuture::makeReadyFuture();
    syncTimer.stop();
    // The chain may have taken the board offline, which stops the timer until it is back.
    return syncSoon().then(this, [this] {
        if (!stopped && env->isOnline.value())
            syncTimer.start(syncPeriod());
    });
}

void HttpSyncDBService::beginGap(qint64 since)
{
    if (stopped)
        return;
    point->setPushesArrive(false);
    point->open(since);
}

void HttpSyncDBService::missedSince(qint64 since)
{
    if (stopped)
        return;
    if (!point->state().since)
        KM4_LOG(2, "rows not stored are asked for again, changed since", since);
    point->open(since);
}

void HttpSyncDBService::endGap()
{
    if (stopped)
        return;
    point->openIfNone(env->lastUpdate.value());
    point->setPushesArrive(true);
    // Before the first synchronisation there is nothing to catch up on: it asks for everything.
    if (env->isOnline.value() && !firstSync.load())
        (void)manualSync();
}

VoidFuture HttpSyncDBService::syncSoon()
{
    if (currentSync.isFinished())
        return update();
    auto caller = std::make_shared<QPromise<void>>();
    caller->start();
    const VoidFuture served = caller->future();
    if (queuedCallers.isEmpty()) {
        // The chain's last link asks the GUI thread, where the queued chain takes its tick, to
        // start it; it runs whether the chain failed or not.
        currentSync = currentSync.then([this, queuedIn = generation.load()](VoidFuture) {
            QMetaObject::invokeMethod(
                this, [this, queuedIn] { startQueued(queuedIn); }, Qt::QueuedConnection);
        });
    }
    queuedCallers.append(caller);
    return served;
}

void HttpSyncDBService::startQueued(int queuedIn)
{
    // stop() has answered the callers queued before it; later ones have a start of their own.
    if (overtaken(queuedIn) || queuedCallers.isEmpty())
        return;
    const QList<std::shared_ptr<QPromise<void>>> callers = std::exchange(queuedCallers, {});
    // A tick may have started a chain in the meantime, after these calls: it serves them.
    if (currentSync.isFinished())
        (void)update();
    for (const auto &caller : callers)
        followInto(caller);
}

void HttpSyncDBService::releaseWaiters()
{
    std::shared_ptr<HandOver> handOver;
    {
        const QMutexLocker locker(&announceMutex);
        handOver = std::exchange(pendingHandOver, nullptr);
    }
    if (handOver)
        handOver->end();
    const QList<std::shared_ptr<QPromise<void>>> callers = std::exchange(queuedCallers, {});
    for (const auto &caller : callers)
        caller->finish();
}

QJsonArray HttpSyncDBService::reverse(const QJsonArray &array) const
{
    QJsonArray reversed;
    for (qsizetype i = array.size() - 1; i >= 0; --i)
        reversed.append(array.at(i));
    return reversed;
}

VoidFuture HttpSyncDBService::update()
{
    // A tick while a chain runs is skipped: chains never overlap.
    if (!currentSync.isFinished())
        return follow();

    Tick tick;
    tick.online = env->isOnline.value();
    tick.first = firstSync.load();
    tick.periodMs = env->syncConfig.value().http_sync_ms;
    tick.generation = generation.load();
    tick.began = point->state();
    tick.catchUp = !tick.first && (tick.began.since.has_value() || tick.began.unread);
    const qint64 lastUpdate = env->lastUpdate.value();
    tick.since = tick.began.since ? std::min(lastUpdate, *tick.began.since) : lastUpdate;
    // Changes may be missing since a time that could not be read: every change is asked for.
    if (tick.began.unread)
        tick.since = 0;

    auto request = [this, tick]() -> APIFuture {
        if (!tick.online) {
            announceFinish(tick.generation);
            throw AppException();
        }
        QList<QString> tables = referenceTables.keys();
        if (tick.first || tick.catchUp)
            tables += entityTables.keys();
        const qint64 updatedAfter = tick.since - qint64(tick.periodMs / 1000);
        return api->requestSyncDB(QJsonObject(), updatedAfter, tables);
    };

    currentSync
        = QtConcurrent::run(request)
              .unwrap()
              .then([this, tick](const QJsonObject &answer) { return writeAnswer(tick, answer); })
              .unwrap()
              .then([this, tick](
                        qint64 ts) { return storeTimestamp(tick, ts).then([ts] { return ts; }); })
              .unwrap()
              .then([this, tick](qint64 ts) {
                  if (!overtaken(tick.generation))
                      checkClock(ts);
                  finish(tick);
              })
              .onFailed([this](const KMAPIException &exception) {
                  KM4_LOG(2, exception.message(), exception.description());
                  Q_EMIT push(
                      PushFailure, failureText(exception.message(), exception.description()));
              })
              .onFailed([this](const AppException &exception) {
                  countFailure(exception.message(), exception.description());
              });
    return follow();
}

VoidFuture HttpSyncDBService::follow()
{
    auto promise = std::make_shared<QPromise<void>>();
    VoidFuture followed = promise->future();
    promise->start();
    followInto(promise);
    return followed;
}

void HttpSyncDBService::followInto(std::shared_ptr<QPromise<void>> caller)
{
    // A future holds one continuation, and a later one replaces (and cancels) the earlier: every
    // caller gets a future of its own, finished by one more link at the end of the chain, so two
    // callers that chain on the same running synchronisation both hear of its end.
    currentSync = currentSync.then([caller](VoidFuture chain) {
        try {
            chain.waitForFinished(); // hands a failure on to the caller
        } catch (...) {
            caller->setException(std::current_exception());
        }
        caller->finish();
    });
}

QFuture<qint64> HttpSyncDBService::writeAnswer(const Tick &tick, const QJsonObject &answer)
{
    KM4_LOG_SCOPE();
    qint64 ts = 0;
    if (!readTimestamp(answer.value(QLatin1String("timestamp")), &ts)) {
        KM4_LOG(2, "answer without a usable timestamp:",
            answer.value(QLatin1String("timestamp")).toVariant());
        throw NetworkException(QNetworkReply::ProtocolFailure);
    }

    const QJsonObject tables = answer.value(QLatin1String("tables")).toObject();
    QJsonObject caughtUp;
    // Tables go one after the other in key order; an entity table's rows are written by a pool
    // task of their own, and the tables after it continue on that task's thread.
    VoidFuture chain = QtFuture::makeReadyFuture();
    for (auto it = tables.begin(); it != tables.end(); ++it) {
        const QString key = it.key();
        const QJsonValue rows = it.value();
        if (rows.toArray().isEmpty())
            continue;
        if (referenceTables.contains(key)) {
            const QString name = referenceTables.value(key);
            chain = chain.then([this, name, rows] {
                Q_EMIT tableSyncing(name);
                updateTable(name, rows);
                Q_EMIT tableSynced(name, rows);
            });
        } else if (tick.first && entityTables.contains(key)) {
            const QString name = entityTables.value(key);
            chain = chain
                        .then([this, name, rows] {
                            Q_EMIT tableSyncing(name);
                            return writeEntities(name, rows.toArray());
                        })
                        .unwrap()
                        .then([this, name, rows] { Q_EMIT tableSynced(name, rows); });
        } else if (tick.catchUp && entityTables.contains(key)) {
            caughtUp.insert(entityTables.value(key), rows);
        }
    }
    // Also without rows: the hand-over moves the gap on.
    if (tick.catchUp) {
        chain
            = chain
                  .then([this, tick, caughtUp, ts] { return handOverCaughtUp(tick, caughtUp, ts); })
                  .unwrap();
    }
    return chain.then([ts] { return ts; });
}

VoidFuture HttpSyncDBService::handOverCaughtUp(
    const Tick &tick, const QJsonObject &tables, qint64 ts)
{
    auto handOver = std::make_shared<HandOver>();
    handOver->promise.start();
    const VoidFuture handedOver = handOver->promise.future();
    {
        const QMutexLocker locker(&announceMutex);
        if (overtaken(tick.generation)) {
            handOver->end();
            return handedOver;
        }
        // The models live on the GUI thread, and stop() blocks it until the chain has ended.
        pendingHandOver = handOver;
    }
    QMetaObject::invokeMethod(
        this, [this, tick, tables, ts, handOver] { applyCaughtUp(tick, tables, ts, handOver); },
        Qt::QueuedConnection);
    return handedOver;
}

void HttpSyncDBService::applyCaughtUp(
    const Tick &tick, const QJsonObject &tables, qint64 ts, std::shared_ptr<HandOver> handOver)
{
    if (overtaken(tick.generation)) {
        handOver->end();
        return;
    }
    // Shifts first: a caught-up shift may become the current one, which the other rows belong to.
    QList<VoidFuture> writes;
    for (const char *table : { "shift", "order", "receipt", "receipt_item" }) {
        const QString name = QLatin1String(table);
        const QJsonArray tableRows = tables.value(name).toArray();
        for (const QJsonValue &row : tableRows)
            writes.append(rows.applyCaughtUp(name, row.toObject()));
    }
    // The gap moves on only once the rows are stored; rows whose write could not run are asked
    // for again by the next synchronisation. The writes end on this thread, before the hand-over;
    // one that a model gone first cancelled tells nothing.
    QtFuture::whenAll(writes.begin(), writes.end())
        .then([point = point, began = tick.began, since = tick.since, ts, handOver](
                  const QList<VoidFuture> &written) {
            const bool failed = std::any_of(written.cbegin(), written.cend(), [](VoidFuture write) {
                try {
                    write.waitForFinished();
                    return false;
                } catch (const AppException &) {
                    return true;
                }
            });
            if (failed)
                KM4_LOG(2, "caught-up rows not stored are asked for again, changed since", since);
            point->caughtUp(began, ts, !failed);
            handOver->end();
        });
}

VoidFuture HttpSyncDBService::writeEntities(const QString &table, const QJsonArray &rows)
{
    if (table == QLatin1String("order"))
        return writeRecords<Order>(rows, &EntitiesRepo::insertOrder);
    if (table == QLatin1String("shift"))
        return writeRecords<Shift>(rows, &EntitiesRepo::insertShift);
    if (table == QLatin1String("receipt"))
        return writeRecords<Receipt>(rows, &EntitiesRepo::insertReceipt);
    return writeRecords<ReceiptItem>(rows, &EntitiesRepo::insertReceiptItem);
}

VoidFuture HttpSyncDBService::storeTimestamp(const Tick &tick, qint64 ts)
{
    KM4_LOG_SCOPE();
    if (overtaken(tick.generation))
        return QtFuture::makeReadyFuture();
    // AppEnv belongs to the GUI thread; the chain does not wait for the hand-over.
    QMetaObject::invokeMethod(
        this,
        [this, ts, generation = tick.generation] {
            if (!overtaken(generation))
                env->lastUpdate.set(ts);
        },
        Qt::QueuedConnection);
    // After the rows this chain stored, with the gap as it stands now.
    return point->synchronised(tick.began, ts, tick.first);
}

void HttpSyncDBService::checkClock(qint64 ts)
{
    const qint64 now = QDateTime::currentSecsSinceEpoch();
    if (std::abs(now - ts) > clockToleranceSecs) {
        Q_EMIT error(tr("Неправильно установлено время!"),
            tr("Действительное время: %1. На устройстве: %2")
                .arg(QDateTime::fromSecsSinceEpoch(ts).toString(),
                    QDateTime::currentDateTime().toString()));
    }
}

void HttpSyncDBService::finish(const Tick &tick)
{
    KM4_LOG_SCOPE();
    failureCount = 0;
    if (overtaken(tick.generation))
        return;
    announceFinish(tick.generation);
    KM4_LOG(0, "sync finished");
}

void HttpSyncDBService::countFailure(const QString &message, const QString &description)
{
    KM4_LOG(2, message, description);
    if (failureCount.fetch_add(1) + 1 > 4) {
        failureCount = 0;
        Q_EMIT push(PushFailure, failureText(message, description));
    }
}

QString HttpSyncDBService::failureText(const QString &message, const QString &description) const
{
    return tr("Не удалось синхронизировать данные: %1 \n %2").arg(message, description);
}

void HttpSyncDBService::announceFinish(int generation)
{
    bool first = false;
    {
        const QMutexLocker locker(&announceMutex);
        if (overtaken(generation))
            return;
        first = firstSync.exchange(false);
    }
    // The listeners live on the GUI thread and would get a signal emitted here only later, maybe
    // after a stop() has removed the account (its services would start again); so the news is
    // told there, and only while the chain still belongs to the running service.
    QMetaObject::invokeMethod(
        this,
        [this, generation, first] {
            if (overtaken(generation))
                return;
            if (first)
                Q_EMIT firstSyncFinished();
            Q_EMIT syncFinished();
        },
        Qt::QueuedConnection);
}

int HttpSyncDBService::syncPeriod() const
{
    return TimerInterval::orDefault(env->syncConfig.value().http_sync_ms, defaultSyncPeriodMs);
}

void HttpSyncDBService::waitForChain()
{
    // Blocks without the GUI thread: no step of the chain needs it, and every HTTP exchange
    // ends within its time-out.
    try {
        currentSync.waitForFinished();
    } catch (...) {
        // A failure of another kind ends the chain; there is nothing left to wait for.
    }
}

void HttpSyncDBService::updateTable(QString table, QJsonValue rows)
{
    ReferenceTableWriter::write(table, rows.toArray());
}
