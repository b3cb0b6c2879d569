#include "httpsyncdbservice.h"

#include "referencetablewriter.h"

#include "config/envrepo.h"
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

#include <cmath>
#include <exception>
#include <memory>
#include <type_traits>

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

template <typename Record> bool storable(const Record &)
{
    return true;
}

// Table shift requires a creation time, which the record writes as NULL when it is 0: one such
// row would fail its whole statement, and with it every first synchronisation.
template <> bool storable(const Shift &shift)
{
    return shift.created_at != 0;
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
{
    connect(&syncTimer, &QTimer::timeout, this, &HttpSyncDBService::update);
    // Every change of the online state, in either direction, runs run(); a service that stop()
    // has stopped waits for an explicit run().
    connect(&env->isOnline, &PrivateEnvVariable::changed, this, [this] {
        if (!stopped)
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
    waitForChain();
}

void HttpSyncDBService::run()
{
    stopped = false;
    if (!env->isOnline.value()) {
        syncTimer.stop();
        if (firstSync.exchange(false))
            Q_EMIT firstSyncFinished();
        Q_EMIT syncFinished();
        return;
    }
    if (syncTimer.isActive())
        return;
    (void)update();
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
    waitForChain();
}

VoidFuture HttpSyncDBService::manualSync()
{
    if (!env->isOnline.value())
        return QtFuture::makeReadyFuture();
    syncTimer.stop();
    return update().then(this, [this] { syncTimer.start(syncPeriod()); });
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
    tick.lastUpdate = env->lastUpdate.value();
    tick.periodMs = env->syncConfig.value().http_sync_ms;
    tick.generation = generation.load();

    auto request = [this, tick]() -> APIFuture {
        if (!tick.online) {
            finishFirstSync(tick.generation);
            if (!overtaken(tick.generation))
                Q_EMIT syncFinished();
            throw AppException();
        }
        QList<QString> tables = referenceTables.keys();
        if (tick.first)
            tables += entityTables.keys();
        const qint64 updatedAfter = tick.lastUpdate - qint64(tick.periodMs / 1000);
        return api->requestSyncDB(QJsonObject(), updatedAfter, tables);
    };

    currentSync
        = QtConcurrent::run(request)
              .unwrap()
              .then([this, tick](const QJsonObject &answer) { return writeAnswer(tick, answer); })
              .unwrap()
              .then([this, tick](qint64 ts) { storeTimestamp(tick, ts); })
              .then([this, tick] { finish(tick); })
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
    // A future holds one continuation, and a later one replaces (and cancels) the earlier: every
    // caller gets a future of its own, finished by one more link at the end of the chain, so two
    // callers that chain on the same running synchronisation both hear of its end.
    auto promise = std::make_shared<QPromise<void>>();
    VoidFuture followed = promise->future();
    promise->start();
    currentSync = currentSync.then([promise](VoidFuture chain) {
        try {
            chain.waitForFinished(); // hands a failure on to the caller
        } catch (...) {
            promise->setException(std::current_exception());
        }
        promise->finish();
    });
    return followed;
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
        }
    }
    return chain.then([ts] { return ts; });
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

void HttpSyncDBService::storeTimestamp(const Tick &tick, qint64 ts)
{
    KM4_LOG_SCOPE();
    if (overtaken(tick.generation))
        return;
    // AppEnv belongs to the GUI thread; the chain does not wait for the hand-over.
    QMetaObject::invokeMethod(
        this,
        [this, ts, generation = tick.generation] {
            if (!overtaken(generation))
                env->lastUpdate.set(ts);
        },
        Qt::QueuedConnection);
    ENVRepo::insertENV(QStringLiteral("last_update"), QVariant::fromValue<qint64>(ts));

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
    finishFirstSync(tick.generation);
    Q_EMIT syncFinished();
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

void HttpSyncDBService::finishFirstSync(int generation)
{
    const QMutexLocker locker(&announceMutex);
    if (!overtaken(generation) && firstSync.exchange(false))
        Q_EMIT firstSyncFinished();
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
