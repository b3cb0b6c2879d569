#include "core/appenv.h"
#include "services/syncDB/httpsyncdbservice.h"
#include "shared/kmapi.h"

#include "fakeserver.h"
#include "futurewait.h"
#include "heldanswer.h"
#include "logcapture.h"
#include "testdatabase.h"
#include "testenvironment.h"

#include <QDateTime>
#include <QElapsedTimer>
#include <QJsonArray>
#include <QSignalSpy>
#include <QTest>

#include <algorithm>
#include <memory>

namespace {

// A status row as the server sends it, with a column the local table does not have.
QJsonObject status(int id, const QString &title)
{
    return { { "id", id }, { "name", QString::number(id) }, { "title", title }, { "extra", 1 } };
}

// What the server is asked for: the tables, then "updated after".
const QString references = "config department hall menu order_status table user_general ";
const QString entities = "order receipt receipt_item shift ";

// A fresh database, server double, signed-in client and environment for each test.
struct Stack
{
    TestDatabase database;
    FakeServer server;
    KMAPI api;
    AppEnv env;
    std::unique_ptr<HttpSyncDBService> service = std::make_unique<HttpSyncDBService>(&api, &env);
};

} // namespace

class TestHttpSyncDBService : public QObject
{
    Q_OBJECT

    std::unique_ptr<Stack> s;
    // The service's announcements, on the thread where the program's receivers live.
    QStringList entries;

    [[nodiscard]] bool waitForEntry(const QString &entry, int count = 1)
    {
        return QTest::qWaitFor(
            [&] { return entries.count(entry) >= count; }, TestEnvironment::patienceMs);
    }
    void enqueue(const QJsonObject &tables, int delayMs = 0, qint64 ts = 0)
    {
        ts = ts ? ts : QDateTime::currentSecsSinceEpoch();
        s->server.enqueue(FakeServer::SyncPath, FakeServer::sync(tables, ts).withDelay(delayMs));
    }
    QString lastAsked() const
    {
        QString asked;
        for (const auto &item : s->server.requests(FakeServer::SyncPath).last().queryItems())
            asked += item.second + " ";
        return asked.trimmed();
    }

private Q_SLOTS:
    void initTestCase() { TestEnvironment::init(); }
    void init()
    {
        s = std::make_unique<Stack>();
        s->api.useHttps(false);
        s->api.setHost(s->server.host());
        QVERIFY(waitFor(s->api.requestToken(s->server.domain(), "device-1")));
        HttpSyncDBService *service = s->service.get();
        entries.clear();
        connect(service, &HttpSyncDBService::firstSyncFinished, this,
            [this] { entries.append("firstSyncFinished"); });
        connect(service, &HttpSyncDBService::syncFinished, this,
            [this] { entries.append("syncFinished"); });
    }
    void cleanup() { s.reset(); }

    // A first synchronisation: a row the local tables refuse is skipped and named; every other row
    // of its chunk, its table and the synchronisation is stored, and the board is told the first
    // synchronisation has finished. Texts that used to end the statement are stored as received,
    // nested values as compact JSON. A status stored before is replaced (a server sends every
    // status every time, and a restarted board must not stay on its loading page); a shift the
    // local table cannot hold is skipped.
    void poisonedRowsAreSkipped()
    {
        QVERIFY(TestDatabase::exec(
            "INSERT INTO order_status (id, name, title) VALUES (1, 'status-1', 'old')"));
        QVERIFY(TestDatabase::exec("CREATE TRIGGER refuse BEFORE INSERT ON 'order' WHEN "
                                   "NEW.uuid = 'o-700' BEGIN SELECT RAISE(ABORT, 'no'); END"));
        const QString hostile = QStringLiteral("it's'); DROP TABLE shift; -- ") + QChar(0)
            + QStringLiteral("LONE'new");
        QJsonArray orders;
        QJsonArray config { QJsonObject { { "key", "flag" }, { "value", false } },
            QJsonObject { { "key", "nested" }, { "value", QJsonObject { { "a", "b" } } } } };
        QJsonArray statuses { QJsonObject { { "name", "no id" } } };
        for (int i = 0; i < 2500; ++i) {
            statuses.append(status(i + 1, QStringLiteral("t%1").arg(i + 1)));
            if (i >= 1500)
                continue;
            const QJsonValue text = i == 3 ? QJsonValue(hostile) : QJsonValue(QString());
            orders.append(
                QJsonObject { { "uuid", QStringLiteral("o-%1").arg(i) }, { "comment", text } });
            config.append(QJsonObject {
                { "key", QStringLiteral("k%1").arg(i) }, { "value", i == 3 ? text : i } });
        }
        config[1102] = QJsonObject { { "key", "k1100" } }; // value is NOT NULL
        const qint64 now = QDateTime::currentSecsSinceEpoch();
        const QJsonArray shifts { QJsonObject { { "uuid", "s-1" }, { "created_at", now } },
            QJsonObject { { "uuid", "s-without-creation-time" } } };
        FakeServer::Answer answer
            = FakeServer::sync({ { "config", config }, { "order", orders },
                                   { "order_status", statuses }, { "shift", shifts } },
                now);
        // A lone surrogate can only come as an escape of the JSON text.
        answer.body.replace("LONE", "\\ud800");
        s->server.enqueue(FakeServer::SyncPath, answer);

        const QString stored
            = QString(hostile).replace("LONE", QString(QChar::ReplacementCharacter));
        LogCapture log;
        s->service->run();
        QVERIFY(waitForEntry("syncFinished"));
        QCOMPARE(lastAsked(), references + entities + "-30");
        QCOMPARE(entries, QStringList({ "firstSyncFinished", "syncFinished" }));
        QCOMPARE(TestDatabase::textColumn(
                     "SELECT COUNT(*) FROM 'order' UNION ALL SELECT COUNT(*) FROM 'order' WHERE "
                     "uuid = 'o-700' UNION ALL SELECT comment FROM 'order' WHERE uuid = 'o-3' "
                     "UNION ALL SELECT value FROM config WHERE key = 'k3' "
                     "UNION ALL SELECT COUNT(*) FROM config WHERE key LIKE 'k%' UNION ALL SELECT * "
                     "FROM (SELECT value FROM config WHERE key IN ('flag', 'last_update', "
                     "'nested') ORDER BY key) UNION ALL SELECT COUNT(*) FROM order_status UNION "
                     "ALL SELECT title FROM order_status WHERE id IN (1, 2500) UNION ALL SELECT "
                     "group_concat(uuid) FROM shift"),
            QStringList({ "1499", "0", stored, stored, "1499", "0", QString::number(now),
                R"({"a":"b"})", "2500", "t1", "t2500", "s-1" }));
        QTRY_COMPARE_WITH_TIMEOUT(s->env.lastUpdate.value(), now, TestEnvironment::patienceMs);
        QString named;
        for (const LogCapture::Entry &entry : log.atLevel(3))
            named += entry.message + "\n";
        QVERIFY2(named.count("\n") == 3 && named.contains(R"("order" uuid "o-700")")
                && named.contains(R"("config" "k1100")") && named.contains(R"("order_status")"),
            qPrintable(named));
    }

    void answerTimestamp_data()
    {
        QTest::addColumn<QByteArray>("body"); // NOW: the current time, moved by the offset
        QTest::addColumn<int>("offset");
        QTest::addColumn<bool>("usable"); // and told that the clock is wrong past 300 s
        QTest::newRow("missing") << QByteArray(R"({"tables": {}})") << 0 << false;
        QTest::newRow("text") << QByteArray(R"({"timestamp": "NOW"})") << 0 << false;
        QTest::newRow("fraction") << QByteArray(R"({"timestamp": NOW.5})") << 0 << false;
        QTest::newRow("zero") << QByteArray(R"({"timestamp": 0})") << 0 << false;
        QTest::newRow("not an object") << QByteArray("[NOW]") << 0 << false;
        QTest::newRow("clock 299 s behind") << QByteArray(R"({"timestamp": NOW})") << 299 << true;
        QTest::newRow("clock 301 s ahead") << QByteArray(R"({"timestamp": NOW})") << -301 << true;
    }

    // Anything but a positive whole number fails like a broken answer: nothing is announced or
    // stored.
    void answerTimestamp()
    {
        QFETCH(QByteArray, body);
        QFETCH(int, offset);
        QFETCH(bool, usable);
        QVERIFY(TestDatabase::exec("INSERT INTO config (key, value) VALUES ('last_update', '17')"));
        QSignalSpy errors(s->service.get(), &IService::error);
        const QByteArray ts = QByteArray::number(QDateTime::currentSecsSinceEpoch() + offset);
        s->server.enqueue(FakeServer::SyncPath, FakeServer::raw(body.replace("NOW", ts)));
        QVERIFY(waitFor(s->service->manualSync()));
        QCoreApplication::processEvents(); // the announcements the chain made on its way
        QCOMPARE(
            entries, usable ? QStringList({ "firstSyncFinished", "syncFinished" }) : QStringList());
        QCOMPARE(errors.size(), qAbs(offset) > 300 ? 1 : 0);
        QCOMPARE(TestDatabase::textColumn("SELECT value FROM config WHERE key = 'last_update'"),
            QStringList { usable ? QString(ts) : "17" });
    }

    // Rows changed while pushes could not arrive reach the models and the database; a gap is
    // caught up on once, from the last synchronisation before it began.
    void gapIsCaughtUpThroughTheModels()
    {
        AppEnv &env = s->env;
        s->service->run();
        QVERIFY(waitForEntry("syncFinished"));
        QTRY_VERIFY_WITH_TIMEOUT(env.lastUpdate.value() > 0, TestEnvironment::patienceMs);
        const qint64 before = env.lastUpdate.value();
        s->service->beginGap();
        // Synchronisations during a gap ask for the reference tables alone, write no entity rows.
        enqueue({ { "order", QJsonArray { QJsonObject { { "uuid", "o-9" } } } } }, 0, before + 100);
        entries.clear();
        QVERIFY(waitFor(s->service->manualSync()));
        QCOMPARE(lastAsked(), references + QString::number(before - 30));
        QTRY_COMPARE_WITH_TIMEOUT(
            env.lastUpdate.value(), before + 100, TestEnvironment::patienceMs);

        const QJsonObject shift { { "id", 2 }, { "uuid", "s-2" }, { "type", "general" },
            { "created_at", before } };
        const QJsonObject order { { "uuid", "o-1" }, { "shift_uuid", "s-2" },
            { "status", "ready" } };
        enqueue({ { "order", QJsonArray { order } }, { "shift", QJsonArray { shift } },
            { "receipt", QJsonArray { QJsonObject { { "uuid", "r-1" } } } },
            { "receipt_item", QJsonArray { QJsonObject { { "uuid", "i-1" } } } } });
        s->service->endGap();
        QVERIFY(waitForEntry("syncFinished", 2));
        QCOMPARE(lastAsked(), references + entities + QString::number(before - 30));
        // The rows are in the models and stored once the synchronisation has finished.
        QCOMPARE(env.orderModel.byUuid("o-1").status + env.shiftUuid.value(),
            QStringLiteral("readys-2"));
        QVERIFY(env.receiptModel.byUuid("r-1").isValid() && env.receiptItemModel.rowCount() == 1);
        QCOMPARE(TestDatabase::textColumn("SELECT uuid || status FROM 'order'"),
            QStringList { "o-1ready" });
        QCOMPARE(entries, QStringList({ "syncFinished", "syncFinished" }));
        // Caught up: the next synchronisation is an ordinary one again.
        QVERIFY(waitFor(s->service->manualSync()));
        QVERIFY(lastAsked().startsWith(references) && !lastAsked().contains(entities));
    }

    // stop() and the destructor wait for a running chain; it ends its writes, but announces
    // nothing more and hands no time stamp to the environment. run() starts again with a first
    // synchronisation.
    void stopAndDestructionWaitForTheChain()
    {
        for (const bool destroy : { false, true }) {
            QVERIFY(TestDatabase::exec("DELETE FROM order_status"));
            enqueue({ { "order_status", QJsonArray { status(1, "") } } }, 1000);
            (void)s->service->manualSync();
            QVERIFY(s->server.waitForRequests(FakeServer::SyncPath, destroy ? 3 : 1));
            const QElapsedTimer arrived = s->server.requests(FakeServer::SyncPath).last().arrived;
            destroy ? s->service.reset() : s->service->stop();
            // The answer left a second after the request had come in, and the chain needed it.
            QVERIFY2(arrived.elapsed() >= 990, destroy ? "destructor" : "stop()");
            QCOMPARE(
                TestDatabase::textColumn("SELECT COUNT(*) FROM order_status"), QStringList { "1" });
            QCoreApplication::processEvents();
            QCOMPARE(entries.filter("Finished"), QStringList());
            QCOMPARE(s->env.lastUpdate.value(), 0);
            if (!destroy) {
                s->service->run();
                QVERIFY(waitForEntry("firstSyncFinished"));
                QCOMPARE(lastAsked(), references + entities + "-30");
                QTRY_VERIFY_WITH_TIMEOUT(
                    s->env.lastUpdate.value() > 0, TestEnvironment::patienceMs);
                s->env.lastUpdate.set(0);
                entries.clear();
            }
        }
    }

    // A period of 0 leaves the timer its compiled default (it would fire on every pass of the
    // event loop), while "updated after" still takes the configured period.
    void periodOfZero()
    {
        SyncConfig config;
        config.http_sync_ms = 0;
        s->env.syncConfig.set(config);
        s->env.lastUpdate.set(1700000000);
        QElapsedTimer took;
        took.start();
        s->service->run();
        QVERIFY(waitForEntry("syncFinished"));
        QCOMPARE(lastAsked(), references + entities + "1700000000");
        // Twice as long as a synchronisation took on this machine, for the next one to come.
        QVERIFY(!s->server.waitForRequests(
            FakeServer::SyncPath, 2, int(std::max<qint64>(200, 2 * took.elapsed()))));
    }

    // The news of a chain that ended just before stop() is dropped on its way to the GUI thread:
    // after a wipe it would start the removed account's services again.
    void newsOfAChainOvertakenOnItsWayIsDropped()
    {
        enqueue({});
        (void)s->service->manualSync();
        // The GUI thread's events must not run before stop(), as on a busy screen: the chain,
        // which runs on the pool alone, is awaited there.
        TestDatabase::drainThreadPool();
        QCOMPARE(TestDatabase::textColumn("SELECT COUNT(*) FROM config WHERE key = 'last_update'"),
            QStringList { "1" });
        s->service->stop();
        QVERIFY(!QTest::qWaitFor([this] { return !entries.isEmpty(); }, 300));
    }

    // Callers that ask while a synchronisation runs share one chain after it, and hear of its end.
    void callersDuringAChainShareOneQueuedChain()
    {
        HeldAnswer held(s->server, FakeServer::SyncPath,
            FakeServer::sync({}, QDateTime::currentSecsSinceEpoch()));
        s->service->run();
        QVERIFY(s->server.waitForRequests(FakeServer::SyncPath, 1));
        enqueue({ { "order_status", QJsonArray { status(3, "q3") } } });
        const VoidFuture first = s->service->manualSync();
        const VoidFuture second = s->service->manualSync();
        held.release();
        for (const VoidFuture &manual : { first, second }) {
            QVERIFY(waitFor(manual) && !manual.isCanceled());
            QCOMPARE(s->server.count(FakeServer::SyncPath), 2);
            QCOMPARE(TestDatabase::textColumn("SELECT title FROM order_status WHERE id = 3"),
                QStringList { "q3" });
        }
    }

    // syncFinished is emitted before its chain has ended.
    void manualSyncFromASyncFinishedHandlerIsSent()
    {
        VoidFuture requested;
        bool asked = false;
        connect(s->service.get(), &HttpSyncDBService::syncFinished, this, [&] {
            if (!std::exchange(asked, true))
                requested = s->service->manualSync();
        });
        for (int round = 1; round <= 20; ++round) {
            asked = false;
            const VoidFuture first = s->service->manualSync();
            QVERIFY(QTest::qWaitFor([&] { return asked; }, TestEnvironment::patienceMs));
            QVERIFY(waitFor(requested) && first.isFinished());
            QVERIFY(waitForEntry("syncFinished", 2 * round));
            QCOMPARE(s->server.count(FakeServer::SyncPath), 2 * round);
        }
    }
};

QTEST_GUILESS_MAIN(TestHttpSyncDBService)
#include "tst_httpsyncdbservice.moc"
