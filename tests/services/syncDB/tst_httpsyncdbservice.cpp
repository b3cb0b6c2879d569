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
#include <QSqlError>
#include <QSqlQuery>
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
        connect(service, &HttpSyncDBService::firstSyncFinished, this,
            [this] { entries.append(QStringLiteral("firstSyncFinished")); });
        connect(service, &HttpSyncDBService::tableSyncing, this,
            [this](const QString &table) { entries.append(QStringLiteral("syncing ") + table); });
        connect(service, &HttpSyncDBService::tableSynced, this,
            [this](const QString &table, const QJsonValue &rows) {
                entries.append(
                    QStringLiteral("synced %1 %2").arg(table).arg(rows.toArray().size()));
            });
        connect(service, &HttpSyncDBService::syncFinished, this,
            [this] { entries.append(QStringLiteral("syncFinished")); });
        connect(service, &IService::push, this, [this](PushType type, const QString &text) {
            pushes.append(QStringLiteral("%1 %2").arg(int(type)).arg(text));
        });
        connect(service, &IService::error, this,
            [this](const QString &title, const QString &) { errors.append(title); });
    }

    int count(const QString &entry) const { return int(entries.count(entry)); }
    void clear()
    {
        entries.clear();
        pushes.clear();
        errors.clear();
    }

    QStringList entries;
    QStringList pushes;
    QStringList errors;
};

QJsonArray statusRows(int count, const QString &titlePrefix, int firstId = 1)
{
    QJsonArray rows;
    for (int i = 0; i < count; ++i) {
        const int id = firstId + i;
        rows.append(QJsonObject { { QStringLiteral("id"), id },
            { QStringLiteral("name"), QStringLiteral("status-%1").arg(id) },
            { QStringLiteral("title"), titlePrefix + QString::number(id) },
            { QStringLiteral("color"), QStringLiteral("#00ff00") },
            { QStringLiteral("is_active"), true }, { QStringLiteral("created_at"), 1700000000 },
            { QStringLiteral("unknown_column"), QStringLiteral("ignored") } });
    }
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
    void initTestCase();
    void init();
    void cleanup();

    void firstSyncAsksForElevenTablesAndWritesThem();
    void laterSyncAsksForReferenceTablesAndStoresTimestamp();
    void poisonedRowsAreSkipped();
    void answerWithoutUsableTimestampFails_data();
    void answerWithoutUsableTimestampFails();
    void otherFailuresArePushedEveryFifthTime();
    void apiErrorsArePushedEveryTime();
    void clockCheck_data();
    void clockCheck();
    void updatedAfterKeepsTheConfiguredPeriod();
    void offlineRunFinishesAtOnce();
    void stopWaitsForTheChainAndRestartsFirstSync();
    void destructionWaitsForARunningChain();
    void callersDuringOneChainAllHearOfItsEnd();
    void stoppedServiceIgnoresOnlineChanges();

private:
    void startChain();
    void startSlowChain(int delayMs);
    [[nodiscard]] bool waitForEntry(const QString &entry, int count = 1, int timeoutMs = 15000);

    std::unique_ptr<TestDatabase> database;
    std::unique_ptr<FakeServer> server;
    std::unique_ptr<KMAPI> api;
    std::unique_ptr<AppEnv> env;
    std::unique_ptr<HttpSyncDBService> service;
    std::unique_ptr<SignalLog> log;
};

void TestHttpSyncDBService::initTestCase()
{
    TestEnvironment::init();
}

void TestHttpSyncDBService::init()
{
    database = std::make_unique<TestDatabase>();
    server = std::make_unique<FakeServer>();
    QVERIFY(server->isListening());
    api = std::make_unique<KMAPI>();
    api->useHttps(false);
    api->setHost(server->host());
    const APIFuture login = api->requestToken(server->domain(), QStringLiteral("device-1"));
    QVERIFY(waitFor(login));
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

void TestHttpSyncDBService::startChain()
{
    // What the sync timer does on each tick.
    QVERIFY(QMetaObject::invokeMethod(service.get(), "update"));
}

bool TestHttpSyncDBService::waitForEntry(const QString &entry, int count, int timeoutMs)
{
    return QTest::qWaitFor([&] { return log->count(entry) >= count; }, timeoutMs);
}

// Also: statuses stored before (a server that sends every status on every answer) must not keep
// a restarted board on its loading page, nested config values are stored as JSON text, and a
// shift the local table cannot hold is skipped rather than failing every first synchronisation.
void TestHttpSyncDBService::firstSyncAsksForElevenTablesAndWritesThem()
{
    QVERIFY(TestDatabase::exec("INSERT INTO order_status (id, name, title) VALUES "
                               "(1, 'status-1', 'old'), (2, 'status-2', 'old')"));
    const qint64 now = QDateTime::currentSecsSinceEpoch();
    const QJsonObject syncConfig { { "http_sync_ms", 15000 }, { "mqtt_port", 1883 } };
    const QJsonArray config {
        QJsonObject { { "key", "currency" }, { "value", "$" } },
        QJsonObject { { "key", "sync-config" }, { "value", syncConfig } },
        QJsonObject {
            { "key", "list" }, { "value", QJsonArray { 1, "two" } }, { "updated_at", 5 } },
        QJsonObject { { "key", "flag" }, { "value", false } },
    };
    const QJsonObject order { { "uuid", "o-1" }, { "shift_uuid", "s-1" }, { "number", 17 },
        { "status", "cooking" }, { "comment", "" }, { "created_at", now } };
    const QJsonArray shifts {
        QJsonObject { { "id", 4 }, { "uuid", "s-1" }, { "type", "general" }, { "number", 3 },
            { "created_at", now } },
        QJsonObject { { "id", 5 }, { "uuid", "s-bad" }, { "type", "general" }, { "number", 4 } },
    };
    const QJsonObject receipt { { "uuid", "r-1" }, { "shift_uuid", "s-1" }, { "order_uuid", "o-1" },
        { "created_by", 7 } };
    const QJsonObject item { { "id", 9 }, { "uuid", "i-1" }, { "receipt_uuid", "r-1" },
        { "in_work", true } };
    const QJsonObject tables {
        { "order_status", statusRows(2500, "title ") },
        { "config", config },
        { "menu", QJsonArray { QJsonObject { { "id", 1 } } } },
        { "hall", QJsonArray {} },
        { "order", QJsonArray { order } },
        { "shift", shifts },
        { "receipt", QJsonArray { receipt } },
        { "receipt_item", QJsonArray { item } },
    };
    server->enqueue(FakeServer::SyncPath, FakeServer::sync(tables, now));

    service->run();
    QVERIFY(waitForEntry("syncFinished"));

    const QList<RecordedRequest> requests = server->requests(FakeServer::SyncPath);
    QCOMPARE(requests.size(), 1);
    QCOMPARE(tableParameters(requests[0]), referenceTables + entityTables);
    QCOMPARE(updatedAfter(requests[0]), QStringLiteral("-30"));

    // Tables in key order; a table without a local twin is announced but not written; an empty
    // one is skipped.
    QCOMPARE(log->entries,
        QStringList({ "syncing config", "synced config 4", "syncing menu", "synced menu 1",
            "syncing order", "synced order 1", "syncing order_status", "synced order_status 2500",
            "syncing receipt", "synced receipt 1", "syncing receipt_item", "synced receipt_item 1",
            "syncing shift", "synced shift 2", "firstSyncFinished", "syncFinished" }));

    // Entity rows follow the records' rules: an empty comment and unset times are NULL, a receipt
    // item keeps created_at 0.
    QCOMPARE(
        TestDatabase::textColumn(
            "SELECT COUNT(*) FROM order_status "
            "UNION ALL SELECT title FROM order_status WHERE id IN (1, 2500) "
            "UNION ALL SELECT is_active FROM order_status WHERE id = 1 "
            "UNION ALL SELECT group_concat(key || '=' || value, ' ') FROM (SELECT key, value "
            "FROM config WHERE key IN ('currency', 'sync-config', 'list', 'flag') ORDER BY key) "
            "UNION ALL SELECT updated_at IS NULL FROM config WHERE key = 'flag' "
            "UNION ALL SELECT number FROM 'order' WHERE uuid = 'o-1' AND comment IS NULL "
            "AND deleted_at IS NULL "
            "UNION ALL SELECT group_concat(uuid) FROM shift "
            "UNION ALL SELECT created_by FROM receipt WHERE uuid = 'r-1' "
            "UNION ALL SELECT created_at FROM receipt_item WHERE uuid = 'i-1' AND "
            "updated_at IS NULL "
            "UNION ALL SELECT value FROM config WHERE key = 'last_update'"),
        QStringList({ "2500", "title 1", "title 2500", "1",
            R"(currency=$ flag=0 list=[1,"two"] sync-config=)"
                + QString::fromUtf8(QJsonDocument(syncConfig).toJson(QJsonDocument::Compact)),
            "1", "17", "s-1", "7", "0", QString::number(now) }));
    QTRY_COMPARE(env->lastUpdate.value(), now);
    QVERIFY(log->pushes.isEmpty());
    QVERIFY(log->errors.isEmpty());
}

void TestHttpSyncDBService::laterSyncAsksForReferenceTablesAndStoresTimestamp()
{
    const qint64 first = QDateTime::currentSecsSinceEpoch();
    server->enqueue(FakeServer::SyncPath, FakeServer::sync({}, first));
    service->run();
    QVERIFY(waitForEntry("syncFinished"));
    QTRY_COMPARE(env->lastUpdate.value(), first);
    log->clear();

    const QJsonObject later {
        { "order_status", statusRows(3, "later ") },
        { "order", QJsonArray { QJsonObject { { "uuid", "o-9" }, { "shift_uuid", "s" } } } },
    };
    server->enqueue(FakeServer::SyncPath, FakeServer::sync(later, first + 5));
    const VoidFuture manual = service->manualSync();
    QVERIFY(waitFor(manual));

    const QList<RecordedRequest> requests = server->requests(FakeServer::SyncPath);
    QCOMPARE(requests.size(), 2);
    QCOMPARE(tableParameters(requests[1]), referenceTables);
    QCOMPARE(updatedAfter(requests[1]), QString::number(first - 30));
    // Reference tables are written on every synchronisation, entity tables only on the first.
    QCOMPARE(log->entries,
        QStringList({ "syncing order_status", "synced order_status 3", "syncFinished" }));
    QCOMPARE(
        value("SELECT title FROM order_status WHERE id = 3").toString(), QStringLiteral("later 3"));
    QCOMPARE(value("SELECT COUNT(*) FROM 'order'").toInt(), 0);
    QCOMPARE(value("SELECT value FROM config WHERE key = 'last_update'").toLongLong(), first + 5);
    QTRY_COMPARE(env->lastUpdate.value(), first + 5);
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
    for (int i = 0; i < 1500; ++i) {
        QJsonObject row { { "id", i + 1 }, { "uuid", QStringLiteral("o-%1").arg(i) },
            { "shift_uuid", "s-1" }, { "number", i } };
        if (i == 3)
            row.insert("comment", hostile);
        orders.append(row);
    }
    QJsonArray config;
    for (int i = 0; i < 1500; ++i)
        config.append(QJsonObject { { "key", QStringLiteral("k%1").arg(i) }, { "value", i } });
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
                 "UNION ALL SELECT COUNT(*) FROM order_status"),
        QStringList({ "1499", "0", "1499", "3" }));
    QCOMPARE(value("SELECT comment FROM 'order' WHERE uuid = 'o-3'").toString(),
        QString(hostile).replace(QStringLiteral("LONE"), QString(QChar::ReplacementCharacter)));
    QVERIFY(!value("SELECT value FROM config WHERE key = 'last_update'").isNull());

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
    QSqlQuery seed;
    QVERIFY(seed.exec("INSERT INTO config (key, value) VALUES ('last_update', '1700000000')"));
    server->enqueue(FakeServer::SyncPath, FakeServer::raw(body));

    startChain();
    QVERIFY(server->waitForRequests(FakeServer::SyncPath, 1));
    TestDatabase::drainThreadPool();
    QTest::qWait(50);
    QVERIFY(log->entries.isEmpty());
    QCOMPARE(value("SELECT value FROM config WHERE key = 'last_update'").toString(),
        QStringLiteral("1700000000"));
    QCOMPARE(env->lastUpdate.value(), 0);
}

void TestHttpSyncDBService::otherFailuresArePushedEveryFifthTime()
{
    const QByteArray broken = R"({"tables": {}})";
    auto failOnce = [&] {
        server->enqueue(FakeServer::SyncPath, FakeServer::raw(broken));
        const int before = server->count(FakeServer::SyncPath);
        startChain();
        QVERIFY(server->waitForRequests(FakeServer::SyncPath, before + 1));
        TestDatabase::drainThreadPool();
    };

    for (int i = 0; i < 4; ++i)
        failOnce();
    QCOMPARE(log->pushes.size(), 0);
    failOnce();
    QTRY_COMPARE(log->pushes.size(), 1);
    QCOMPARE(log->pushes[0],
        QStringLiteral("3 Не удалось синхронизировать данные: Ошибка протокола \n "));

    // A completed synchronisation starts the count again.
    for (int i = 0; i < 3; ++i)
        failOnce();
    enqueueSync(*server, {});
    startChain();
    QVERIFY(waitForEntry("syncFinished"));
    for (int i = 0; i < 4; ++i)
        failOnce();
    QTest::qWait(50);
    QCOMPARE(log->pushes.size(), 1);
    // The failed first synchronisations left the flag set until the one that completed.
    QCOMPARE(log->count("firstSyncFinished"), 1);
}

void TestHttpSyncDBService::apiErrorsArePushedEveryTime()
{
    server->setAnswer(FakeServer::SyncPath, FakeServer::error(500, 77, "it's broken"));
    for (int i = 1; i <= 2; ++i) {
        startChain();
        QVERIFY(server->waitForRequests(FakeServer::SyncPath, i));
        QTRY_COMPARE(log->pushes.size(), i);
    }
    QCOMPARE(log->pushes[1],
        QStringLiteral("3 Не удалось синхронизировать данные: Неизвестная ошибка апи \n it's "
                       "broken"));
    QVERIFY(log->entries.isEmpty());

    // The first synchronisation is still pending: the next one asks for the entity tables.
    server->resetAnswers();
    startChain();
    QVERIFY(waitForEntry("syncFinished"));
    QCOMPARE(tableParameters(server->requests(FakeServer::SyncPath).last()),
        referenceTables + entityTables);
    QCOMPARE(log->count("firstSyncFinished"), 1);
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
    const int slack = offset > 0 ? -1 : offset < 0 ? 1 : 0;
    const qint64 serverTime = QDateTime::currentSecsSinceEpoch() + offset + (reported ? 0 : slack);
    server->enqueue(FakeServer::SyncPath, FakeServer::sync({}, serverTime));

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
    QCOMPARE(updatedAfter(server->requests(FakeServer::SyncPath).value(0)),
        QStringLiteral("1700000000"));
    // A period of 0 would fire the timer on every pass of the event loop.
    QTest::qWait(100);
    QCOMPARE(server->count(FakeServer::SyncPath), 1);

    config.http_sync_ms = 4500;
    env->syncConfig.set(config);
    env->lastUpdate.set(1700000000);
    server->enqueue(FakeServer::SyncPath, FakeServer::sync({}, 1700000000));
    const VoidFuture manual = service->manualSync();
    QVERIFY(waitFor(manual));
    QCOMPARE(updatedAfter(server->requests(FakeServer::SyncPath).value(1)),
        QStringLiteral("1699999996"));
}

void TestHttpSyncDBService::offlineRunFinishesAtOnce()
{
    env->isOnline.set(false); // runs run() through the online-state connection
    QCOMPARE(log->entries, QStringList({ "firstSyncFinished", "syncFinished" }));
    service->run();
    QCOMPARE(log->entries, QStringList({ "firstSyncFinished", "syncFinished", "syncFinished" }));
    const VoidFuture manual = service->manualSync();
    QVERIFY(manual.isFinished());
    QTest::qWait(50);
    QCOMPARE(server->count(FakeServer::SyncPath), 0);

    // Back online, one chain starts at once; the first synchronisation is over already.
    env->isOnline.set(true);
    QVERIFY(waitForEntry("syncFinished", 3));
    QCOMPARE(tableParameters(server->requests(FakeServer::SyncPath).value(0)), referenceTables);
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

void TestHttpSyncDBService::stopWaitsForTheChainAndRestartsFirstSync()
{
    startSlowChain(1500);
    QElapsedTimer elapsed;
    elapsed.start();
    service->stop();
    QVERIFY2(elapsed.elapsed() > 1000, "stop() returned before the chain ended");
    // The chain ended its writes, but a stopped service announces nothing more and hands no
    // time stamp to the environment.
    QCOMPARE(value("SELECT COUNT(*) FROM order_status").toInt(), 2);
    QTest::qWait(100);
    QVERIFY(log->entries.filter("Finished").isEmpty());
    QCOMPARE(env->lastUpdate.value(), 0);

    service->run();
    QVERIFY(waitForEntry("syncFinished"));
    QCOMPARE(log->count("firstSyncFinished"), 1);
    QCOMPARE(tableParameters(server->requests(FakeServer::SyncPath).value(1)),
        referenceTables + entityTables);
}

void TestHttpSyncDBService::destructionWaitsForARunningChain()
{
    startSlowChain(1000);
    QElapsedTimer elapsed;
    elapsed.start();
    service.reset();
    QVERIFY2(elapsed.elapsed() > 500, "the service went while its chain was running");
    QCOMPARE(value("SELECT COUNT(*) FROM order_status").toInt(), 2);
    QTest::qWait(50);
    QVERIFY(log->entries.filter("Finished").isEmpty());
}

// Every caller that asks while a synchronisation runs shares that chain and hears of its end.
void TestHttpSyncDBService::callersDuringOneChainAllHearOfItsEnd()
{
    startSlowChain(800);
    const VoidFuture first = service->manualSync();
    const VoidFuture second = service->manualSync();
    for (const VoidFuture &manual : { first, second }) {
        QVERIFY(waitFor(manual));
        QVERIFY(!manual.isCanceled());
    }
    QVERIFY(waitForEntry("syncFinished"));
    QCOMPARE(server->count(FakeServer::SyncPath), 1);
    QCOMPARE(value("SELECT COUNT(*) FROM order_status").toInt(), 2);
}

void TestHttpSyncDBService::stoppedServiceIgnoresOnlineChanges()
{
    service->stop();
    env->isOnline.set(false);
    env->isOnline.set(true);
    QTest::qWait(100);
    QVERIFY(log->entries.isEmpty());
    QCOMPARE(server->count(FakeServer::SyncPath), 0);
}

QTEST_GUILESS_MAIN(TestHttpSyncDBService)
#include "tst_httpsyncdbservice.moc"
