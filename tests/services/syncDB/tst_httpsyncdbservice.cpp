#include "core/appenv.h"
#include "services/syncDB/httpsyncdbservice.h"
#include "shared/kmapi.h"

#include "fakeserver.h"
#include "futurewait.h"
#include "logcapture.h"
#include "testdatabase.h"
#include "testenvironment.h"

#include <QDateTime>
#include <QElapsedTimer>
#include <QJsonArray>
#include <QJsonDocument>
#include <QSignalSpy>
#include <QTest>

#include <memory>

namespace {

// Records the service's signals in arrival order on the test's (GUI) thread, where the receivers
// of the real program live; the service emits them from pool threads.
class SignalLog : public QObject
{
public:
    explicit SignalLog(HttpSyncDBService *service)
    {
        const auto add = [this](const QString &entry) { entries.append(entry); };
        connect(service, &HttpSyncDBService::firstSyncFinished, this,
            [add] { add(QStringLiteral("firstSyncFinished")); });
        connect(service, &HttpSyncDBService::tableSyncing, this,
            [add](const QString &table) { add(QStringLiteral("syncing ") + table); });
        connect(service, &HttpSyncDBService::tableSynced, this,
            [add](const QString &table, const QJsonValue &rows) {
                add(QStringLiteral("synced %1 %2").arg(table).arg(rows.toArray().size()));
            });
        connect(service, &HttpSyncDBService::syncFinished, this,
            [add] { add(QStringLiteral("syncFinished")); });
        connect(service, &IService::push, this, [this](PushType type, const QString &text) {
            pushes.append(QStringLiteral("%1 %2").arg(int(type)).arg(text));
        });
        connect(service, &IService::error, this,
            [this](const QString &title, const QString &) { errors.append(title); });
    }

    int count(const QString &entry) const { return int(entries.count(entry)); }

    QStringList entries;
    QStringList pushes;
    QStringList errors;
};

QJsonArray statusRows(int count, const QString &titlePrefix)
{
    QJsonArray rows;
    for (int id = 1; id <= count; ++id)
        rows.append(QJsonObject { { "id", id }, { "name", QStringLiteral("status-%1").arg(id) },
            { "title", titlePrefix + QString::number(id) }, { "is_active", true },
            { "unknown_column", "ignored" } });
    return rows;
}

// An answer of the synchronisation endpoint stamped with the current time.
void enqueueSync(FakeServer &server, const QJsonObject &tables)
{
    server.enqueue(
        FakeServer::SyncPath, FakeServer::sync(tables, QDateTime::currentSecsSinceEpoch()));
}

// The first column of the first row of a SELECT.
QVariant value(const QString &sql)
{
    return TestDatabase::column(sql).value(0);
}

QStringList tableParameters(const RecordedRequest &request)
{
    QStringList tables;
    for (const auto &item : request.queryItems())
        if (item.first == QLatin1String("return_only[]"))
            tables.append(item.second);
    return tables;
}

QString updatedAfter(const RecordedRequest &request)
{
    const auto items = request.queryItems();
    return items.isEmpty() ? QString() : items.last().second;
}

const QStringList referenceTables { "config", "department", "hall", "menu", "order_status", "table",
    "user_general" };
const QStringList entityTables { "order", "receipt", "receipt_item", "shift" };

} // namespace

class TestHttpSyncDBService : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase() { TestEnvironment::init(); }
    void init();
    void cleanup();

    void firstSyncWritesEveryTable();
    void poisonedRowsAreSkipped();
    void answerWithoutUsableTimestampFails_data();
    void answerWithoutUsableTimestampFails();
    void failuresArePushed();
    void clockCheck_data();
    void clockCheck();
    void updatedAfterKeepsTheConfiguredPeriod();
    void offlineRunFinishesAtOnce();
    void gapIsCaughtUpThroughTheModels();
    void stopAndDestructionWaitForTheChain();
    void callersDuringAChainShareOneQueuedChain();
    void manualSyncFromASyncFinishedHandlerIsSent();

private:
    // What the sync timer does on each tick.
    void tick() { QVERIFY(QMetaObject::invokeMethod(service.get(), "update")); }
    void startSlowChain(int delayMs);
    [[nodiscard]] bool waitForEntry(const QString &entry, int count = 1)
    {
        return QTest::qWaitFor([&] { return log->count(entry) >= count; }, 15000);
    }
    RecordedRequest lastRequest() const { return server->requests(FakeServer::SyncPath).last(); }

    std::unique_ptr<TestDatabase> database;
    std::unique_ptr<FakeServer> server;
    std::unique_ptr<KMAPI> api;
    std::unique_ptr<AppEnv> env;
    std::unique_ptr<HttpSyncDBService> service;
    std::unique_ptr<SignalLog> log;
};

void TestHttpSyncDBService::init()
{
    database = std::make_unique<TestDatabase>();
    server = std::make_unique<FakeServer>();
    api = std::make_unique<KMAPI>();
    api->useHttps(false);
    api->setHost(server->host());
    QVERIFY(waitFor(api->requestToken(server->domain(), QStringLiteral("device-1"))));
    server->clearRequests();
    env = std::make_unique<AppEnv>();
    service = std::make_unique<HttpSyncDBService>(api.get(), env.get());
    log = std::make_unique<SignalLog>(service.get());
}

void TestHttpSyncDBService::cleanup()
{
    log.reset();
    service.reset();
    env.reset();
    api.reset();
    server.reset();
    database.reset();
}

// Also: statuses stored before (a server that sends every status on every answer) must not keep
// a restarted board on its loading page, nested config values are stored as JSON text, and a
// shift the local table cannot hold is skipped rather than failing every first synchronisation.
void TestHttpSyncDBService::firstSyncWritesEveryTable()
{
    QVERIFY(TestDatabase::exec("INSERT INTO order_status (id, name, title) VALUES "
                               "(1, 'status-1', 'old'), (2, 'status-2', 'old')"));
    const qint64 now = QDateTime::currentSecsSinceEpoch();
    const QJsonObject syncConfig { { "http_sync_ms", 15000 }, { "mqtt_port", 1883 } };
    const QJsonArray config { QJsonObject { { "key", "sync-config" }, { "value", syncConfig } },
        QJsonObject { { "key", "list" }, { "value", QJsonArray { 1, "two" } } },
        QJsonObject { { "key", "flag" }, { "value", false } } };
    const QJsonObject order { { "uuid", "o-1" }, { "shift_uuid", "s-1" }, { "number", 17 } };
    const QJsonArray shifts { QJsonObject { { "id", 4 }, { "uuid", "s-1" }, { "number", 3 },
                                  { "created_at", now } },
        QJsonObject { { "id", 5 }, { "uuid", "s-bad" }, { "number", 4 } } };
    const QJsonObject receipt { { "uuid", "r-1" }, { "order_uuid", "o-1" }, { "created_by", 7 } };
    const QJsonObject item { { "id", 9 }, { "uuid", "i-1" }, { "receipt_uuid", "r-1" } };
    server->enqueue(FakeServer::SyncPath,
        FakeServer::sync(
            { { "order_status", statusRows(2500, "title ") }, { "config", config },
                { "menu", QJsonArray { QJsonObject { { "id", 1 } } } }, { "hall", QJsonArray {} },
                { "order", QJsonArray { order } }, { "shift", shifts },
                { "receipt", QJsonArray { receipt } }, { "receipt_item", QJsonArray { item } } },
            now));

    service->run();
    QVERIFY(waitForEntry("syncFinished"));
    QCOMPARE(server->count(FakeServer::SyncPath), 1);
    QCOMPARE(tableParameters(lastRequest()), referenceTables + entityTables);
    QCOMPARE(updatedAfter(lastRequest()), QStringLiteral("-30"));
    // Tables in key order; a table without a local twin is announced but not written; an empty
    // one is skipped.
    QCOMPARE(log->entries,
        QStringList({ "syncing config", "synced config 3", "syncing menu", "synced menu 1",
            "syncing order", "synced order 1", "syncing order_status", "synced order_status 2500",
            "syncing receipt", "synced receipt 1", "syncing receipt_item", "synced receipt_item 1",
            "syncing shift", "synced shift 2", "firstSyncFinished", "syncFinished" }));
    QCOMPARE(TestDatabase::textColumn(
                 "SELECT COUNT(*) FROM order_status "
                 "UNION ALL SELECT title FROM order_status WHERE id IN (1, 2500) "
                 "UNION ALL SELECT group_concat(key || '=' || value, ' ') FROM (SELECT key, value "
                 "FROM config WHERE key IN ('sync-config', 'list', 'flag') ORDER BY key) "
                 "UNION ALL SELECT number FROM 'order' WHERE uuid = 'o-1' "
                 "UNION ALL SELECT group_concat(uuid) FROM shift "
                 "UNION ALL SELECT created_by FROM receipt WHERE uuid = 'r-1' "
                 "UNION ALL SELECT receipt_uuid FROM receipt_item WHERE uuid = 'i-1' "
                 "UNION ALL SELECT value FROM config WHERE key = 'last_update'"),
        QStringList({ "2500", "title 1", "title 2500",
            R"(flag=0 list=[1,"two"] sync-config=)"
                + QString::fromUtf8(QJsonDocument(syncConfig).toJson(QJsonDocument::Compact)),
            "17", "s-1", "7", "r-1", QString::number(now) }));
    QTRY_COMPARE(env->lastUpdate.value(), now);
    QVERIFY(log->pushes.isEmpty() && log->errors.isEmpty());
}

// A row the local tables refuse is skipped and named; every other row of its chunk, its table and
// the synchronisation is stored, and the board is told the first synchronisation has finished.
// Texts that used to end the statement are stored as received.
void TestHttpSyncDBService::poisonedRowsAreSkipped()
{
    QVERIFY(TestDatabase::exec("CREATE TRIGGER refuse BEFORE INSERT ON 'order' WHEN NEW.uuid = "
                               "'o-700' BEGIN SELECT RAISE(ABORT, 'refused'); END"));
    const QString hostile
        = QStringLiteral("it's'); DROP TABLE shift; -- ") + QChar(0) + QStringLiteral("LONE'new");
    QJsonArray orders;
    QJsonArray config;
    for (int i = 0; i < 1500; ++i) {
        orders.append(QJsonObject { { "id", i + 1 }, { "uuid", QStringLiteral("o-%1").arg(i) },
            { "number", i }, { "comment", i == 3 ? hostile : QString() } });
        config.append(QJsonObject { { "key", QStringLiteral("k%1").arg(i) }, { "value", i } });
    }
    config[1100] = QJsonObject { { "key", "k1100" } }; // value is NOT NULL
    QJsonArray statuses = statusRows(3, "t");
    statuses.append(QJsonObject { { "name", "without id" } });
    FakeServer::Answer answer = FakeServer::sync(
        { { "config", config }, { "order", orders }, { "order_status", statuses } },
        QDateTime::currentSecsSinceEpoch());
    // A lone surrogate can only come as an escape of the JSON text.
    answer.body.replace("LONE", "\\ud800");
    server->enqueue(FakeServer::SyncPath, answer);

    LogCapture capture;
    service->run();
    QVERIFY(waitForEntry("syncFinished"));
    QCOMPARE(log->count("firstSyncFinished"), 1);
    QCOMPARE(TestDatabase::textColumn(
                 "SELECT COUNT(*) FROM 'order' UNION ALL SELECT COUNT(*) FROM 'order' WHERE "
                 "uuid = 'o-700' UNION ALL SELECT COUNT(*) FROM config WHERE key LIKE 'k%' "
                 "UNION ALL SELECT COUNT(*) FROM order_status UNION ALL SELECT COUNT(*) FROM "
                 "config WHERE key = 'last_update'"),
        QStringList({ "1499", "0", "1499", "3", "1" }));
    QCOMPARE(value("SELECT comment FROM 'order' WHERE uuid = 'o-3'").toString(),
        QString(hostile).replace(QStringLiteral("LONE"), QString(QChar::ReplacementCharacter)));

    QStringList named;
    for (const LogCapture::Entry &entry : capture.atLevel(3))
        named.append(entry.message);
    QCOMPARE(named.size(), 3);
    const QString all = named.join(QLatin1Char('\n'));
    for (const char *part :
        { "\"order\" uuid \"o-700\"", "\"config\" \"k1100\"", "\"order_status\"" })
        QVERIFY2(all.contains(QLatin1String(part)), qPrintable(all));
}

void TestHttpSyncDBService::answerWithoutUsableTimestampFails_data()
{
    QTest::addColumn<QByteArray>("body");
    QTest::newRow("missing") << QByteArray(R"({"tables": {}})");
    QTest::newRow("text") << QByteArray(R"({"timestamp": "1700000000", "tables": {}})");
    QTest::newRow("fraction") << QByteArray(R"({"timestamp": 1700000000.5, "tables": {}})");
    QTest::newRow("zero") << QByteArray(R"({"timestamp": 0, "tables": {}})");
    QTest::newRow("not an object") << QByteArray(R"([1, 2])");
}

void TestHttpSyncDBService::answerWithoutUsableTimestampFails()
{
    QFETCH(QByteArray, body);
    QVERIFY(TestDatabase::exec("INSERT INTO config (key, value) VALUES ('last_update', '17')"));
    server->enqueue(FakeServer::SyncPath, FakeServer::raw(body));
    tick();
    QVERIFY(server->waitForRequests(FakeServer::SyncPath, 1));
    TestDatabase::drainThreadPool();
    QTest::qWait(50); // for signals that must not come
    QVERIFY(log->entries.isEmpty());
    QCOMPARE(value("SELECT value FROM config WHERE key = 'last_update'").toString(), "17");
    QCOMPARE(env->lastUpdate.value(), 0);
}

// Network and protocol failures are told every fifth time in a row, API errors every time; the
// first synchronisation stays pending until one completes.
void TestHttpSyncDBService::failuresArePushed()
{
    const auto failOnce = [&](const FakeServer::Answer &answer) {
        server->enqueue(FakeServer::SyncPath, answer);
        const int before = server->count(FakeServer::SyncPath);
        tick();
        QVERIFY(server->waitForRequests(FakeServer::SyncPath, before + 1));
        TestDatabase::drainThreadPool();
    };
    const FakeServer::Answer broken = FakeServer::raw(R"({"tables": {}})");
    for (int i = 0; i < 4; ++i)
        failOnce(broken);
    QTest::qWait(50);
    QCOMPARE(log->pushes.size(), 0);
    failOnce(broken);
    QTRY_COMPARE(
        log->pushes, QStringList { "3 Не удалось синхронизировать данные: Ошибка протокола \n " });

    // A completed synchronisation starts the count again.
    for (int i = 0; i < 3; ++i)
        failOnce(broken);
    tick();
    QVERIFY(waitForEntry("syncFinished"));
    QCOMPARE(tableParameters(lastRequest()), referenceTables + entityTables);
    QCOMPARE(log->count("firstSyncFinished"), 1);
    for (int i = 0; i < 4; ++i)
        failOnce(broken);
    failOnce(FakeServer::error(500, 77, "it's broken"));
    failOnce(FakeServer::error(500, 77, "it's broken"));
    QTRY_COMPARE(log->pushes.size(), 3);
    QCOMPARE(log->pushes[2],
        QStringLiteral("3 Не удалось синхронизировать данные: Неизвестная ошибка апи \n it's "
                       "broken"));
}

void TestHttpSyncDBService::clockCheck_data()
{
    QTest::addColumn<int>("offset");
    QTest::addColumn<bool>("reported");
    QTest::newRow("300 s behind") << -300 << false;
    QTest::newRow("300 s ahead") << 300 << false;
    QTest::newRow("301 s behind") << -301 << true;
    QTest::newRow("an hour ahead") << 3600 << true;
}

void TestHttpSyncDBService::clockCheck()
{
    QFETCH(int, offset);
    QFETCH(bool, reported);
    // A second of slack for the time the exchange takes.
    const int slack = reported ? 0 : offset > 0 ? -1 : 1;
    server->enqueue(FakeServer::SyncPath,
        FakeServer::sync({}, QDateTime::currentSecsSinceEpoch() + offset + slack));
    service->run();
    QVERIFY(waitForEntry("syncFinished"));
    QCOMPARE(log->errors,
        reported ? QStringList { QStringLiteral("Неправильно установлено время!") }
                 : QStringList());
}

void TestHttpSyncDBService::updatedAfterKeepsTheConfiguredPeriod()
{
    SyncConfig config;
    config.http_sync_ms = 0;
    env->syncConfig.set(config);
    env->lastUpdate.set(1700000000);
    service->run();
    QVERIFY(waitForEntry("syncFinished"));
    QCOMPARE(updatedAfter(lastRequest()), QStringLiteral("1700000000"));
    // A period of 0 would fire the timer on every pass of the event loop.
    QTest::qWait(100);
    QCOMPARE(server->count(FakeServer::SyncPath), 1);

    config.http_sync_ms = 4500;
    env->syncConfig.set(config);
    env->lastUpdate.set(1700000000);
    QVERIFY(waitFor(service->manualSync()));
    QCOMPARE(updatedAfter(lastRequest()), QStringLiteral("1699999996"));
}

void TestHttpSyncDBService::offlineRunFinishesAtOnce()
{
    env->isOnline.set(false); // runs run() through the online-state connection
    service->run();
    QCOMPARE(log->entries, QStringList({ "firstSyncFinished", "syncFinished", "syncFinished" }));
    QVERIFY(service->manualSync().isFinished());
    QTest::qWait(50);
    QCOMPARE(server->count(FakeServer::SyncPath), 0);

    // Back online, one chain starts at once; the first synchronisation is over already, but
    // nothing was pushed while offline: it also asks for the entity tables.
    log->entries.clear();
    env->lastUpdate.set(1700000000);
    enqueueSync(*server,
        { { "order", QJsonArray { QJsonObject { { "uuid", "o-1" }, { "number", 4 } } } } });
    env->isOnline.set(true);
    QVERIFY(waitForEntry("syncFinished"));
    QCOMPARE(tableParameters(lastRequest()), referenceTables + entityTables);
    QCOMPARE(updatedAfter(lastRequest()), QStringLiteral("-30"));
    QCOMPARE(env->orderModel.byUuid("o-1").number, 4);
    QCOMPARE(log->count("firstSyncFinished"), 0);
}

// Rows changed while pushes could not arrive reach the models and the database; a gap is caught
// up on once, from the last synchronisation before it began.
void TestHttpSyncDBService::gapIsCaughtUpThroughTheModels()
{
    service->run();
    QVERIFY(waitForEntry("syncFinished"));
    QTRY_VERIFY(env->lastUpdate.value() > 0);
    const qint64 before = env->lastUpdate.value();

    service->beginGap();
    // Later synchronisations, also during a gap, ask for the reference tables alone and write no
    // entity rows.
    log->entries.clear();
    server->enqueue(FakeServer::SyncPath,
        FakeServer::sync({ { "order_status", statusRows(3, "later ") },
                             { "order", QJsonArray { QJsonObject { { "uuid", "o-9" } } } } },
            before + 100));
    QVERIFY(waitFor(service->manualSync()));
    QCOMPARE(tableParameters(lastRequest()), referenceTables);
    QCOMPARE(updatedAfter(lastRequest()), QString::number(before - 30));
    QCOMPARE(log->entries,
        QStringList({ "syncing order_status", "synced order_status 3", "syncFinished" }));
    QCOMPARE(TestDatabase::textColumn("SELECT title FROM order_status WHERE id = 3 "
                                      "UNION ALL SELECT COUNT(*) FROM 'order' UNION ALL "
                                      "SELECT value FROM config WHERE key = 'last_update'"),
        QStringList({ "later 3", "0", QString::number(before + 100) }));
    QTRY_COMPARE(env->lastUpdate.value(), before + 100);

    const QJsonObject shift { { "id", 2 }, { "uuid", "s-2" }, { "type", "general" },
        { "created_at", before } };
    enqueueSync(*server,
        { { "order",
              QJsonArray { QJsonObject {
                  { "uuid", "o-1" }, { "shift_uuid", "s-2" }, { "status", "ready" } } } },
            { "shift", QJsonArray { shift } },
            { "receipt", QJsonArray { QJsonObject { { "uuid", "r-1" } } } },
            { "receipt_item", QJsonArray { QJsonObject { { "uuid", "i-1" } } } } });
    log->entries.clear();
    service->endGap();
    QVERIFY(waitForEntry("syncFinished"));
    QCOMPARE(tableParameters(lastRequest()), referenceTables + entityTables);
    QCOMPARE(updatedAfter(lastRequest()), QString::number(before - 30));
    // The rows are in the models once the synchronisation has finished.
    QCOMPARE(env->orderModel.byUuid("o-1").status, QStringLiteral("ready"));
    QCOMPARE(env->shiftUuid.value(), QStringLiteral("s-2"));
    QVERIFY(env->receiptModel.byUuid("r-1").isValid());
    QCOMPARE(env->receiptItemModel.rowCount({}), 1);
    QCOMPARE(value("SELECT status FROM 'order' WHERE uuid = 'o-1'").toString(), "ready");
    QCOMPARE(log->entries, QStringList { "syncFinished" });

    // Caught up: the next synchronisation is an ordinary one again.
    QVERIFY(waitFor(service->manualSync()));
    QCOMPARE(tableParameters(lastRequest()), referenceTables);
}

void TestHttpSyncDBService::startSlowChain(int delayMs)
{
    server->enqueue(FakeServer::SyncPath,
        FakeServer::sync(
            { { "order_status", statusRows(2, "slow ") } }, QDateTime::currentSecsSinceEpoch())
            .withDelay(delayMs));
    service->run();
    QVERIFY(server->waitForRequests(FakeServer::SyncPath, 1));
}

// stop() and the destructor wait for a running chain; it ends its writes, but announces nothing
// more and hands no time stamp to the environment. Only run() starts the service again, with a
// first synchronisation.
void TestHttpSyncDBService::stopAndDestructionWaitForTheChain()
{
    startSlowChain(1000);
    QElapsedTimer elapsed;
    elapsed.start();
    service->stop();
    QVERIFY2(elapsed.elapsed() > 500, "stop() returned before the chain ended");
    QCOMPARE(value("SELECT COUNT(*) FROM order_status").toInt(), 2);
    QTest::qWait(100);
    QVERIFY(log->entries.filter("Finished").isEmpty());
    QCOMPARE(env->lastUpdate.value(), 0);
    // A stopped service stays stopped whatever the online state does.
    env->isOnline.set(false);
    env->isOnline.set(true);
    QTest::qWait(100);
    QCOMPARE(server->count(FakeServer::SyncPath), 1);

    service->run();
    QVERIFY(waitForEntry("syncFinished"));
    QCOMPARE(log->count("firstSyncFinished"), 1);
    QCOMPARE(tableParameters(lastRequest()), referenceTables + entityTables);

    TestDatabase::drainThreadPool();
    log->entries.clear();
    QVERIFY(TestDatabase::exec("DELETE FROM order_status"));
    server->enqueue(FakeServer::SyncPath,
        FakeServer::sync(
            { { "order_status", statusRows(2, "slow ") } }, QDateTime::currentSecsSinceEpoch())
            .withDelay(1000));
    const int before = server->count(FakeServer::SyncPath);
    tick();
    QVERIFY(server->waitForRequests(FakeServer::SyncPath, before + 1));
    elapsed.restart();
    service.reset();
    QVERIFY2(elapsed.elapsed() > 500, "the service went while its chain was running");
    QCOMPARE(value("SELECT COUNT(*) FROM order_status").toInt(), 2);
    QTest::qWait(50);
    QVERIFY(log->entries.filter("Finished").isEmpty());
}

// Callers that ask while a synchronisation runs share one chain after it, and hear of its end.
void TestHttpSyncDBService::callersDuringAChainShareOneQueuedChain()
{
    startSlowChain(800);
    enqueueSync(*server, { { "order_status", statusRows(3, "queued ") } });
    const VoidFuture first = service->manualSync();
    const VoidFuture second = service->manualSync();
    for (const VoidFuture &manual : { first, second }) {
        QVERIFY(waitFor(manual));
        QVERIFY(!manual.isCanceled());
        QCOMPARE(server->count(FakeServer::SyncPath), 2);
        QCOMPARE(value("SELECT title FROM order_status WHERE id = 3").toString(), "queued 3");
    }
    QVERIFY(waitForEntry("syncFinished", 2));
    QTest::qWait(100);
    QCOMPARE(server->count(FakeServer::SyncPath), 2);
}

// syncFinished is emitted before its chain has ended.
void TestHttpSyncDBService::manualSyncFromASyncFinishedHandlerIsSent()
{
    VoidFuture requested;
    bool asked = false;
    connect(service.get(), &HttpSyncDBService::syncFinished, this, [&] {
        if (!std::exchange(asked, true))
            requested = service->manualSync();
    });
    for (int round = 1; round <= 20; ++round) {
        asked = false;
        const int before = server->count(FakeServer::SyncPath);
        const VoidFuture first = service->manualSync();
        QVERIFY(QTest::qWaitFor([&] { return asked; }, 10000));
        QVERIFY(waitFor(requested));
        QVERIFY(first.isFinished());
        QVERIFY(waitForEntry("syncFinished", 2 * round));
        QCOMPARE(server->count(FakeServer::SyncPath), before + 2);
    }
}

QTEST_GUILESS_MAIN(TestHttpSyncDBService)
#include "tst_httpsyncdbservice.moc"
