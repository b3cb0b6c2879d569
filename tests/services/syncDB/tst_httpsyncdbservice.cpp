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
#include <QTest>

#include <memory>

namespace {

QJsonArray statusRows(int count, const QString &titlePrefix)
{
    QJsonArray rows;
    for (int id = 1; id <= count; ++id)
        rows.append(QJsonObject { { "id", id }, { "name", QStringLiteral("status-%1").arg(id) },
            { "title", titlePrefix + QString::number(id) }, { "unknown_column", "ignored" } });
    return rows;
}

FakeServer::Answer syncAnswer(const QJsonObject &tables, int delayMs = 0)
{
    return FakeServer::sync(tables, QDateTime::currentSecsSinceEpoch()).withDelay(delayMs);
}

// What the server was asked: the tables, then the "updated after" time stamp.
QStringList asked(const RecordedRequest &request)
{
    QStringList parameters;
    for (const auto &item : request.queryItems())
        parameters.append(item.second);
    return parameters;
}

QStringList askedFor(qint64 since, bool entities)
{
    return QStringList { "config", "department", "hall", "menu", "order_status", "table",
               "user_general" }
        + (entities ? QStringList { "order", "receipt", "receipt_item", "shift" } : QStringList())
        + QStringList { QString::number(since) };
}

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
    void answerTimestamp_data();
    void answerTimestamp();
    void gapIsCaughtUpThroughTheModels_data();
    void gapIsCaughtUpThroughTheModels();
    void stopAndDestructionWaitForTheChain();
    void callersDuringAChainShareOneQueuedChain();
    void manualSyncFromASyncFinishedHandlerIsSent();

private:
    [[nodiscard]] bool waitForEntry(const QString &entry, int count = 1)
    {
        return QTest::qWaitFor([&] { return entries.count(entry) >= count; }, 15000);
    }
    QStringList lastAsked() const { return asked(server->requests(FakeServer::SyncPath).last()); }

    std::unique_ptr<TestDatabase> database;
    std::unique_ptr<FakeServer> server;
    std::unique_ptr<KMAPI> api;
    std::unique_ptr<AppEnv> env;
    std::unique_ptr<HttpSyncDBService> service;
    // The service's announcements, on the thread where the program's receivers live.
    QStringList entries;
    QStringList errors;
};

void TestHttpSyncDBService::init()
{
    database = std::make_unique<TestDatabase>();
    server = std::make_unique<FakeServer>();
    api = std::make_unique<KMAPI>();
    api->useHttps(false);
    api->setHost(server->host());
    QVERIFY(waitFor(api->requestToken(server->domain(), QStringLiteral("device-1"))));
    env = std::make_unique<AppEnv>();
    service = std::make_unique<HttpSyncDBService>(api.get(), env.get());
    entries.clear();
    errors.clear();
    const auto add = [this](const QString &entry) { entries.append(entry); };
    connect(service.get(), &HttpSyncDBService::firstSyncFinished, this,
        [add] { add("firstSyncFinished"); });
    connect(service.get(), &HttpSyncDBService::tableSynced, this,
        [add](const QString &table, const QJsonValue &rows) {
            add(QStringLiteral("%1 %2").arg(table).arg(rows.toArray().size()));
        });
    connect(service.get(), &HttpSyncDBService::syncFinished, this, [add] { add("syncFinished"); });
    connect(service.get(), &IService::error, this,
        [this](const QString &title) { errors.append(title); });
}

void TestHttpSyncDBService::cleanup()
{
    service.reset();
    env.reset();
    api.reset();
    server.reset();
    database.reset();
}

// Statuses stored before (a server sends every status on every answer) replace theirs rather than
// keep a restarted board on its loading page; nested config values are stored as compact JSON;
// a shift the local table cannot hold is skipped rather than failing every first synchronisation.
void TestHttpSyncDBService::firstSyncWritesEveryTable()
{
    QVERIFY(TestDatabase::exec("INSERT INTO order_status (id, name, title) VALUES "
                               "(1, 'status-1', 'old'), (2, 'status-2', 'old')"));
    const qint64 now = QDateTime::currentSecsSinceEpoch();
    const QJsonArray config { QJsonObject { { "key", "nested" },
                                  { "value", QJsonObject { { "a", QJsonArray { 1, "two" } } } } },
        QJsonObject { { "key", "flag" }, { "value", false } } };
    const QJsonArray shifts { QJsonObject { { "id", 4 }, { "uuid", "s-1" }, { "created_at", now } },
        QJsonObject { { "id", 5 }, { "uuid", "s-without-creation-time" } } };
    server->enqueue(FakeServer::SyncPath,
        FakeServer::sync({ { "order_status", statusRows(2500, "title ") }, { "config", config },
                             { "hall", QJsonArray {} }, { "shift", shifts },
                             { "order", QJsonArray { QJsonObject { { "uuid", "o-1" } } } } },
            now));

    service->run();
    QVERIFY(waitForEntry("syncFinished"));
    QCOMPARE(server->count(FakeServer::SyncPath), 1);
    QCOMPARE(lastAsked(), askedFor(-30, true));
    // Tables in key order; an empty one is skipped.
    QCOMPARE(entries,
        QStringList({ "config 2", "order 1", "order_status 2500", "shift 2", "firstSyncFinished",
            "syncFinished" }));
    QCOMPARE(TestDatabase::textColumn(
                 "SELECT COUNT(*) FROM order_status UNION ALL SELECT title FROM order_status "
                 "WHERE id IN (1, 2500) UNION ALL SELECT group_concat(key || '=' || value, ' ') FROM (SELECT key, value "
                 "FROM config WHERE key IN ('nested', 'flag', 'last_update') ORDER BY key) "
                 "UNION ALL SELECT group_concat(uuid) FROM shift "
                 "UNION ALL SELECT COUNT(*) FROM 'order'"),
        QStringList({ "2500", "title 1", "title 2500",
            QStringLiteral(R"(flag=0 last_update=%1 nested={"a":[1,"two"]})").arg(now), "s-1",
            "1" }));
    QTRY_COMPARE(env->lastUpdate.value(), now);
    QVERIFY(errors.isEmpty());
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
            { "comment", i == 3 ? hostile : QString() } });
        config.append(QJsonObject { { "key", QStringLiteral("k%1").arg(i) }, { "value", i } });
    }
    config[1100] = QJsonObject { { "key", "k1100" } }; // value is NOT NULL
    QJsonArray statuses = statusRows(3, "t");
    statuses.append(QJsonObject { { "name", "without id" } });
    FakeServer::Answer answer
        = syncAnswer({ { "config", config }, { "order", orders }, { "order_status", statuses } });
    // A lone surrogate can only come as an escape of the JSON text.
    answer.body.replace("LONE", "\\ud800");
    server->enqueue(FakeServer::SyncPath, answer);

    LogCapture capture;
    service->run();
    QVERIFY(waitForEntry("syncFinished"));
    QCOMPARE(entries.count("firstSyncFinished"), 1);
    QCOMPARE(TestDatabase::textColumn(
                 "SELECT COUNT(*) FROM 'order' UNION ALL SELECT COUNT(*) FROM 'order' WHERE "
                 "uuid = 'o-700' UNION ALL SELECT COUNT(*) FROM config WHERE key LIKE 'k%' "
                 "UNION ALL SELECT COUNT(*) FROM order_status UNION ALL SELECT comment FROM "
                 "'order' WHERE uuid = 'o-3'"),
        QStringList({ "1499", "0", "1499", "3",
            QString(hostile).replace("LONE", QString(QChar::ReplacementCharacter)) }));
    QStringList named;
    for (const LogCapture::Entry &entry : capture.atLevel(3))
        named.append(entry.message);
    const QString all = named.join('\n');
    QVERIFY2(named.size() == 3 && all.contains(R"("order" uuid "o-700")")
            && all.contains(R"("config" "k1100")") && all.contains(R"("order_status")"),
        qPrintable(all));
}

void TestHttpSyncDBService::answerTimestamp_data()
{
    QTest::addColumn<QByteArray>("body"); // NOW: the current time, moved by the offset
    QTest::addColumn<int>("offset");
    QTest::addColumn<bool>("usable");
    QTest::addColumn<bool>("clockWrong");
    QTest::newRow("missing") << QByteArray(R"({"tables": {}})") << 0 << false << false;
    QTest::newRow("text") << QByteArray(R"({"timestamp": "NOW"})") << 0 << false << false;
    QTest::newRow("fraction") << QByteArray(R"({"timestamp": NOW.5})") << 0 << false << false;
    QTest::newRow("zero") << QByteArray(R"({"timestamp": 0})") << 0 << false << false;
    QTest::newRow("not an object") << QByteArray("[NOW]") << 0 << false << false;
    QTest::newRow("clock 299 s behind") << QByteArray(R"({"timestamp": NOW})") << 299 << true << false;
    QTest::newRow("clock 301 s ahead") << QByteArray(R"({"timestamp": NOW})") << -301 << true << true;
}

// Anything but a positive whole number fails like a broken answer: nothing is announced or stored.
void TestHttpSyncDBService::answerTimestamp()
{
    QFETCH(QByteArray, body);
    QFETCH(int, offset);
    QFETCH(bool, usable);
    QFETCH(bool, clockWrong);
    QVERIFY(TestDatabase::exec("INSERT INTO config (key, value) VALUES ('last_update', '17')"));
    const QByteArray ts = QByteArray::number(QDateTime::currentSecsSinceEpoch() + offset);
    server->enqueue(FakeServer::SyncPath, FakeServer::raw(body.replace("NOW", ts)));
    QVERIFY(waitFor(service->manualSync()));
    QCoreApplication::processEvents(); // the announcements the chain made on its way
    QCOMPARE(entries, usable ? QStringList({ "firstSyncFinished", "syncFinished" }) : QStringList());
    QCOMPARE(errors, clockWrong ? QStringList { "Неправильно установлено время!" } : QStringList());
    QCOMPARE(TestDatabase::textColumn("SELECT value FROM config WHERE key = 'last_update'"),
        QStringList { usable ? QString(ts) : "17" });
}

void TestHttpSyncDBService::gapIsCaughtUpThroughTheModels_data()
{
    QTest::addColumn<bool>("offline");
    QTest::newRow("pushes lost") << false;
    QTest::newRow("board offline") << true;
}

// Rows changed while pushes could not arrive reach the models and the database; a gap is caught
// up on once, from the last synchronisation before it began.
void TestHttpSyncDBService::gapIsCaughtUpThroughTheModels()
{
    QFETCH(bool, offline);
    service->run();
    QVERIFY(waitForEntry("syncFinished"));
    QTRY_VERIFY(env->lastUpdate.value() > 0);
    const qint64 before = env->lastUpdate.value();
    entries.clear();
    if (offline) {
        env->isOnline.set(false);
        // Offline, a synchronisation finishes at once and asks nothing.
        QVERIFY(service->manualSync().isFinished());
        QCOMPARE(entries, QStringList { "syncFinished" });
    } else {
        service->beginGap();
        // Synchronisations during a gap ask for the reference tables alone and write no entity
        // rows.
        server->enqueue(FakeServer::SyncPath,
            FakeServer::sync({ { "order_status", statusRows(3, "later ") },
                                 { "order", QJsonArray { QJsonObject { { "uuid", "o-9" } } } } },
                before + 100));
        QVERIFY(waitFor(service->manualSync()));
        QCOMPARE(lastAsked(), askedFor(before - 30, false));
        QCOMPARE(entries, QStringList({ "order_status 3", "syncFinished" }));
        QTRY_COMPARE(env->lastUpdate.value(), before + 100);
    }
    QCOMPARE(env->orderModel.rowCount(), 0);

    const QJsonObject shift { { "id", 2 }, { "uuid", "s-2" }, { "type", "general" },
        { "created_at", before } };
    server->enqueue(FakeServer::SyncPath,
        syncAnswer({ { "order",
                         QJsonArray { QJsonObject {
                             { "uuid", "o-1" }, { "shift_uuid", "s-2" }, { "status", "ready" } } } },
            { "shift", QJsonArray { shift } },
            { "receipt", QJsonArray { QJsonObject { { "uuid", "r-1" } } } },
            { "receipt_item", QJsonArray { QJsonObject { { "uuid", "i-1" } } } } }));
    entries.clear();
    if (offline)
        env->isOnline.set(true);
    else
        service->endGap();
    QVERIFY(waitForEntry("syncFinished"));
    QCOMPARE(lastAsked(), askedFor(before - 30, true));
    // The rows are in the models and stored once the synchronisation has finished.
    QCOMPARE(env->orderModel.byUuid("o-1").status, QStringLiteral("ready"));
    QCOMPARE(env->shiftUuid.value(), QStringLiteral("s-2"));
    QVERIFY(env->receiptModel.byUuid("r-1").isValid() && env->receiptItemModel.rowCount() == 1);
    QCOMPARE(TestDatabase::textColumn("SELECT status FROM 'order'"), QStringList { "ready" });
    QCOMPARE(entries, QStringList { "syncFinished" });
    // Caught up: the next synchronisation is an ordinary one again.
    QVERIFY(waitFor(service->manualSync()));
    QCOMPARE(lastAsked().first(7), askedFor(0, false).first(7));
}

// stop() and the destructor wait for a running chain; it ends its writes, but announces nothing
// more and hands no time stamp to the environment. run() starts again with a first
// synchronisation.
void TestHttpSyncDBService::stopAndDestructionWaitForTheChain()
{
    for (const bool destroy : { false, true }) {
        QVERIFY(TestDatabase::exec("DELETE FROM order_status"));
        server->enqueue(
            FakeServer::SyncPath, syncAnswer({ { "order_status", statusRows(2, "slow ") } }, 1000));
        const int requests = server->count(FakeServer::SyncPath);
        entries.clear();
        (void)service->manualSync();
        QVERIFY(server->waitForRequests(FakeServer::SyncPath, requests + 1));
        QElapsedTimer elapsed;
        elapsed.start();
        if (destroy)
            service.reset();
        else
            service->stop();
        QVERIFY2(elapsed.elapsed() > 500, destroy ? "destructor" : "stop()");
        QCOMPARE(TestDatabase::textColumn("SELECT COUNT(*) FROM order_status"), QStringList { "2" });
        QCoreApplication::processEvents();
        QCOMPARE(entries.filter("Finished"), QStringList());
        QCOMPARE(env->lastUpdate.value(), 0);
        if (service) {
            service->run();
            QVERIFY(waitForEntry("syncFinished"));
            QCOMPARE(entries.count("firstSyncFinished"), 1);
            QCOMPARE(lastAsked(), askedFor(-30, true));
            QTRY_VERIFY(env->lastUpdate.value() > 0);
            env->lastUpdate.set(0);
        }
    }
}

// Callers that ask while a synchronisation runs share one chain after it, and hear of its end.
void TestHttpSyncDBService::callersDuringAChainShareOneQueuedChain()
{
    server->enqueue(FakeServer::SyncPath, syncAnswer({}, 800));
    service->run();
    QVERIFY(server->waitForRequests(FakeServer::SyncPath, 1));
    server->enqueue(FakeServer::SyncPath, syncAnswer({ { "order_status", statusRows(3, "q") } }));
    const VoidFuture first = service->manualSync();
    const VoidFuture second = service->manualSync();
    for (const VoidFuture &manual : { first, second }) {
        QVERIFY(waitFor(manual) && !manual.isCanceled());
        QCOMPARE(server->count(FakeServer::SyncPath), 2);
        QCOMPARE(TestDatabase::textColumn("SELECT title FROM order_status WHERE id = 3"),
            QStringList { "q3" });
    }
    QVERIFY(waitForEntry("syncFinished", 2));
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
        const VoidFuture first = service->manualSync();
        QVERIFY(QTest::qWaitFor([&] { return asked; }, 10000));
        QVERIFY(waitFor(requested) && first.isFinished());
        QVERIFY(waitForEntry("syncFinished", 2 * round));
        QCOMPARE(server->count(FakeServer::SyncPath), 2 * round);
    }
}

QTEST_GUILESS_MAIN(TestHttpSyncDBService)
#include "tst_httpsyncdbservice.moc"
