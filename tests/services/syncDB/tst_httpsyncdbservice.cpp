#include "core/appenv.h"
#include "services/syncDB/entityrowhandler.h"
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
#include <QSemaphore>
#include <QSignalSpy>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTest>
#include <QThread>

#include <algorithm>
#include <memory>
#include <thread>

namespace {

// A status row as the server sends it, with a column the local table does not have.
QJsonObject status(int id, const QString &title)
{
    return { { "id", id }, { "name", QString::number(id) }, { "title", title }, { "extra", 1 } };
}

// What the server is asked for: the tables, then "updated after".
const QString references = "config department hall menu order_status table user_general ";
const QString entities = "order receipt receipt_item shift ";

// A synchronisation of an earlier run.
constexpr qint64 lastUpdateStored = 1700000000;

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
        QJsonArray statuses { QJsonObject { { "id", 9999 }, { "title", "no name" } } };
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

    void rowsWithoutWhatIdentifiesThemAreSkipped_data()
    {
        QTest::addColumn<QStringList>("setup");
        QTest::addColumn<QString>("table");
        QTest::addColumn<QJsonArray>("rows");
        QTest::addColumn<QString>("select"); // the table's rows, one text each
        QTest::addColumn<QStringList>("stored");
        QTest::addColumn<QStringList>("logged"); // how the level-3 lines begin
        const QString statuses = "SELECT id || ' ' || name || ' ' || title FROM order_status";
        const QString skipped = R"(row without its key not stored: "%1" row %2 key "%3")";
        QTest::newRow("status without id: stored by its name, numbered by SQLite")
            << QStringList { "INSERT INTO order_status (id, name, title) VALUES (4, 'ready', 'a')" }
            << "order_status"
            << QJsonArray { QJsonObject { { "name", "ready" }, { "title", "b" } } } << statuses
            << QStringList { "5 ready b" } << QStringList();
        QTest::newRow("status without name: skipped, even with an id")
            << QStringList() << "order_status"
            << QJsonArray { QJsonObject { { "id", 7 }, { "title", "a" } },
                   QJsonObject { { "name", "ready" }, { "title", "b" } } }
            << statuses << QStringList { "1 ready b" }
            << QStringList { skipped.arg("order_status").arg(0).arg("name") };
        QTest::newRow("refused status: named by its name")
            << QStringList { "CREATE TRIGGER refuse BEFORE INSERT ON order_status WHEN NEW.title "
                             "= 'a' BEGIN SELECT RAISE(ABORT, 'no'); END" }
            << "order_status"
            << QJsonArray { QJsonObject { { "id", 3 }, { "name", "ready" }, { "title", "a" } } }
            << statuses << QStringList()
            << QStringList { R"(row not stored: "order_status" "ready")" };
        QTest::newRow("config without key: its primary key, declared unique as well")
            << QStringList() << "config"
            << QJsonArray { QJsonObject { { "value", "a" } },
                   QJsonObject { { "key", "k" }, { "value", "b" } } }
            << "SELECT key || '=' || value FROM config WHERE key NOT IN ('last_update', "
               "'catch_up_since')"
            << QStringList { "k=b" } << QStringList { skipped.arg("config").arg(0).arg("key") };
        QTest::newRow("composite primary key: every part, an INTEGER one too")
            << QStringList { "CREATE TABLE hall (a TEXT, b INTEGER, c TEXT, PRIMARY KEY (b, a))" }
            << "hall"
            << QJsonArray { QJsonObject { { "a", "x" }, { "c", "no b" } },
                   QJsonObject { { "b", 1 }, { "c", "no a" } },
                   QJsonObject { { "a", "x" }, { "b", 1 }, { "c", "both" } } }
            << "SELECT a || b || ' ' || c FROM hall" << QStringList { "x1 both" }
            << QStringList { skipped.arg("hall").arg(0).arg("a,b"),
                   skipped.arg("hall").arg(1).arg("a,b") };
        QTest::newRow("INT primary key: not filled by SQLite")
            << QStringList { "CREATE TABLE department (id INT PRIMARY KEY, title TEXT)" }
            << "department"
            << QJsonArray { QJsonObject { { "title", "a" } },
                   QJsonObject { { "id", 2 }, { "title", "b" } } }
            << "SELECT id || ' ' || title FROM department" << QStringList { "2 b" }
            << QStringList { skipped.arg("department").arg(0).arg("id") };
        QTest::newRow("INTEGER primary key alone: filled by SQLite")
            << QStringList { R"(CREATE TABLE "table" (id INTEGER PRIMARY KEY, title TEXT))" }
            << "table"
            << QJsonArray { QJsonObject { { "id", 5 }, { "title", "a" } },
                   QJsonObject { { "title", "b" } } }
            << R"(SELECT id || ' ' || title FROM "table" ORDER BY id)"
            << QStringList { "5 a", "6 b" } << QStringList();
        QTest::newRow("several unique constraints: the columns of all of them")
            << QStringList { "CREATE TABLE menu (id INTEGER PRIMARY KEY, code TEXT UNIQUE, name "
                             "TEXT, hall TEXT, UNIQUE (hall, name))" }
            << "menu"
            << QJsonArray { QJsonObject { { "id", 1 }, { "code", "c1" }, { "name", "tea" } },
                   QJsonObject { { "id", 2 }, { "name", "tea" }, { "hall", "h" } },
                   QJsonObject { { "code", "c3" }, { "name", "tea" }, { "hall", "h" } } }
            << "SELECT id || ' ' || code || name || hall FROM menu" << QStringList { "1 c3teah" }
            << QStringList { skipped.arg("menu").arg(0).arg("code,name,hall"),
                   skipped.arg("menu").arg(1).arg("code,name,hall") };
    }

    // A row is stored when it has what identifies it in its table: the columns of the table's
    // UNIQUE constraints, else its primary key unless SQLite fills it. Otherwise it is skipped, and
    // the lines about a table's rows name them by those columns.
    void rowsWithoutWhatIdentifiesThemAreSkipped()
    {
        QFETCH(QStringList, setup);
        QFETCH(QString, table);
        QFETCH(QJsonArray, rows);
        QFETCH(QString, select);
        QFETCH(QStringList, stored);
        QFETCH(QStringList, logged);
        for (const QString &statement : setup)
            QVERIFY(TestDatabase::exec(statement));
        enqueue({ { table, rows } });
        LogCapture log;
        QVERIFY(waitFor(s->service->manualSync()));
        QCOMPARE(TestDatabase::textColumn(select), stored);
        QStringList lines;
        for (const LogCapture::Entry &entry : log.atLevel(3)) {
            const QString &start = logged.value(lines.size());
            lines.append(entry.message.startsWith(start) ? start : entry.message);
        }
        QCOMPARE(lines, logged);
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

    // Rows changed while pushes could not arrive reach the models and the database: every
    // synchronisation during a gap asks for the entity tables changed since it began, and once
    // its rows are stored the gap goes on from its time stamp, which is kept beside "last_update".
    // The synchronisation after pushes came back ends the gap.
    void gapIsCaughtUpThroughTheModels()
    {
        AppEnv &env = s->env;
        const auto storedPoint = [] {
            return TestDatabase::textColumn(
                "SELECT value FROM config WHERE key = 'catch_up_since'");
        };
        s->service->run();
        QVERIFY(waitForEntry("syncFinished"));
        QTRY_VERIFY_WITH_TIMEOUT(env.lastUpdate.value() > 0, TestEnvironment::patienceMs);
        const qint64 before = env.lastUpdate.value();
        s->service->beginGap(s->env.lastUpdate.value());
        const QJsonObject given { { "uuid", "o-9" }, { "shift_uuid", "s-2" },
            { "status", "given" } };
        enqueue({ { "order", QJsonArray { given } } }, 0, before + 100);
        entries.clear();
        QVERIFY(waitFor(s->service->manualSync()));
        QCOMPARE(lastAsked(), references + entities + QString::number(before - 30));
        QCOMPARE(env.orderModel.byUuid("o-9").status, QStringLiteral("given"));
        QCOMPARE(storedPoint(), QStringList { QString::number(before + 100) });
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
        QCOMPARE(lastAsked(), references + entities + QString::number(before + 100 - 30));
        // The rows are in the models and stored once the synchronisation has finished.
        QCOMPARE(env.orderModel.byUuid("o-1").status + env.shiftUuid.value(),
            QStringLiteral("readys-2"));
        QVERIFY(env.receiptModel.byUuid("r-1").isValid() && env.receiptItemModel.rowCount() == 1);
        QCOMPARE(TestDatabase::textColumn("SELECT uuid || status FROM 'order' ORDER BY uuid"),
            QStringList({ "o-1ready", "o-9given" }));
        QCOMPARE(entries, QStringList({ "syncFinished", "syncFinished" }));
        QCOMPARE(storedPoint(), QStringList { "" });
        // Caught up: the next synchronisation is an ordinary one again.
        QVERIFY(waitFor(s->service->manualSync()));
        QVERIFY(lastAsked().startsWith(references) && !lastAsked().contains(entities));
    }

    void aPointThatCannotBeReadIsNotTakenForNone_data()
    {
        QTest::addColumn<bool>("readLater");
        QTest::newRow("read when the synchronisation starts") << true;
        QTest::newRow("never read") << false;
    }

    // The point the board stopped with cannot be read when the service starts (another
    // connection holds the database): it is not taken for none. The first synchronisation asks
    // from it once it can be read, or, when it never could be, for every change; only then is the
    // point written over.
    void aPointThatCannotBeReadIsNotTakenForNone()
    {
        QFETCH(bool, readLater);
        const qint64 now = QDateTime::currentSecsSinceEpoch();
        const qint64 point = now - 3000;
        QVERIFY(TestDatabase::exec(
            QStringLiteral("INSERT INTO config (key, value) VALUES ('catch_up_since', '%1')")
                .arg(point)));
        s->env.lastUpdate.set(now - 60);
        enqueue({}, 0, now);
        LogCapture log;
        const QString notRead = QStringLiteral("the point to catch up from is not read");
        FakeServer &server = s->server;
        QSemaphore locked;
        // Another connection, on a thread of its own, holds the database until the board has
        // failed to read the point, or until the board has asked the server.
        std::thread holder([&locked, &log, &notRead, &server, readLater] {
            {
                QSqlDatabase database = QSqlDatabase::addDatabase(
                    QStringLiteral("QSQLITE"), QStringLiteral("holder"));
                database.setDatabaseName(TestDatabase::path());
                QSqlQuery query(database);
                if (database.open() && query.exec(QStringLiteral("BEGIN EXCLUSIVE")))
                    locked.release();
                const QDeadlineTimer patience(TestEnvironment::patienceMs);
                while (!patience.hasExpired()) {
                    const QList<LogCapture::Entry> entries = log.entries();
                    const bool failed = std::any_of(entries.cbegin(), entries.cend(),
                        [&notRead](const auto &e) { return e.message.contains(notRead); });
                    if (readLater ? failed : server.count(FakeServer::SyncPath) > 0)
                        break;
                    QThread::msleep(10);
                }
                query.exec(QStringLiteral("COMMIT"));
                database.close();
            }
            QSqlDatabase::removeDatabase(QStringLiteral("holder"));
        });
        const bool wasLocked = locked.tryAcquire(1, TestEnvironment::patienceMs);
        if (wasLocked)
            s->service->run();
        holder.join();
        QVERIFY(wasLocked);
        QVERIFY(waitForEntry("firstSyncFinished"));
        QCOMPARE(
            lastAsked(), references + entities + QString::number(readLater ? point - 30 : -30));
        // Asked for, the changes since the point are covered: it moves on to the answer's time.
        settle();
        QCOMPARE(TestDatabase::textColumn("SELECT value FROM config WHERE key = 'catch_up_since'"),
            QStringList { QString::number(now) });
    }

    void aGapOfUnknownTimeOpensFromWhatIsStored_data()
    {
        QTest::addColumn<QString>("opener");
        QTest::addColumn<QString>("point"); // stored; null: none
        QTest::addColumn<bool>("synchronised"); // "last_update" stored
        QTest::addColumn<QString>("pointAfter"); // once opened
        QTest::addColumn<QString>("askedFrom"); // by the catch-up back online, less the period

        const QString lastUpdate = QString::number(lastUpdateStored);
        const QString earlier = QString::number(lastUpdateStored - 3000);
        const QString everything = QStringLiteral("0");
        for (const char *opener :
            { "offline", "push link lost", "push not stored", "subscribed" }) {
            QTest::addRow("%s, nothing synchronised", opener)
                << opener << QString() << false << QString() << everything;
            QTest::addRow("%s, synchronised, no point", opener)
                << opener << QString() << true << lastUpdate << lastUpdate;
            QTest::addRow("%s, an earlier point", opener)
                << opener << earlier << true << earlier << earlier;
        }
        const QString unusable = QStringLiteral("x");
        QTest::newRow("offline, every change missing")
            << "offline" << everything << true << everything << everything;
        QTest::newRow("offline, an unusable point")
            << "offline" << unusable << true << unusable << everything;
    }

    // A gap opens while the settings are not loaded, or before anything was synchronised: the
    // caller passes a time of 0, which says neither "nothing is missing" nor "missing since 1970".
    // The gap opens from the last synchronisation stored, never later than the stored point, and
    // where nothing was synchronised every change is asked for, by a synchronisation that is not
    // the first as well.
    void aGapOfUnknownTimeOpensFromWhatIsStored()
    {
        QFETCH(QString, opener);
        QFETCH(QString, point);
        QFETCH(bool, synchronised);
        QFETCH(QString, pointAfter);
        QFETCH(QString, askedFrom);
        const auto storedPoint = [] {
            return TestDatabase::textColumn(
                "SELECT value FROM config WHERE key = 'catch_up_since'");
        };
        if (synchronised) {
            QVERIFY(TestDatabase::exec(
                QStringLiteral("INSERT INTO config (key, value) VALUES ('last_update', '%1')")
                    .arg(lastUpdateStored)));
        }
        if (!point.isNull()) {
            QVERIFY(TestDatabase::exec(
                QStringLiteral("INSERT INTO config (key, value) VALUES ('catch_up_since', '%1')")
                    .arg(point)));
        }
        AppEnv &env = s->env;
        QCOMPARE(env.lastUpdate.value(), 0); // the settings are not loaded
        if (opener == QLatin1String("offline"))
            env.isOnline.set(false);
        else if (opener == QLatin1String("push link lost"))
            s->service->beginGap(0);
        else if (opener == QLatin1String("push not stored"))
            s->service->missedSince(0);
        else
            s->service->endGap();
        settle();
        QCOMPARE(storedPoint(), pointAfter.isNull() ? QStringList() : QStringList { pointAfter });

        // The settings come in; the board is offline (which ends its first synchronisation
        // without one) and back.
        if (synchronised)
            env.lastUpdate.set(lastUpdateStored);
        env.isOnline.set(false);
        env.isOnline.set(true);
        QVERIFY(s->server.waitForRequests(FakeServer::SyncPath, 1));
        QVERIFY(waitForEntry("syncFinished", 2));
        QCOMPARE(lastAsked(), references + entities + QString::number(askedFrom.toLongLong() - 30));
        QCOMPARE(entries.count("firstSyncFinished"), 1);
    }

    // Caught-up rows that the database does not take (it is locked here) are asked for again by
    // the next synchronisation, from where the gap began.
    void caughtUpRowsNotStoredAreAskedForAgain()
    {
        s->service->run();
        QVERIFY(waitForEntry("syncFinished"));
        QTRY_VERIFY_WITH_TIMEOUT(s->env.lastUpdate.value() > 0, TestEnvironment::patienceMs);
        const qint64 before = s->env.lastUpdate.value();
        const QJsonObject order { { "uuid", "o-1" }, { "shift_uuid", "s-1" },
            { "status", "ready" } };
        s->server.setAnswer(FakeServer::SyncPath,
            FakeServer::sync({ { "order", QJsonArray { order } } }, before + 100));
        s->service->beginGap(s->env.lastUpdate.value());
        QVERIFY(TestDatabase::exec(QStringLiteral("BEGIN EXCLUSIVE")));
        s->service->endGap();
        QVERIFY(s->server.waitForRequests(FakeServer::SyncPath, 2));
        settle(); // the writes have given up on the lock
        QVERIFY(TestDatabase::exec(QStringLiteral("COMMIT")));
        QCOMPARE(TestDatabase::textColumn("SELECT uuid FROM 'order'"), QStringList());

        QVERIFY(waitFor(s->service->manualSync()));
        QCOMPARE(lastAsked(), references + entities + QString::number(before - 30));
        QCOMPARE(TestDatabase::textColumn("SELECT uuid || status FROM 'order'"),
            QStringList { "o-1ready" });
        QCOMPARE(s->env.orderModel.byUuid("o-1").status, QStringLiteral("ready"));
        // Caught up: the next synchronisation is an ordinary one again.
        QVERIFY(waitFor(s->service->manualSync()));
        QVERIFY(!lastAsked().contains(entities));
    }

    // A push that lands while the catch-up answer is on its way is newer than that answer's row
    // of the same uuid: the older row changes neither the model nor the database, and an older
    // open shift does not open the board's shift again. A caught-up row that is not older
    // replaces; one older than a stored row the model does not show is not shown either.
    void caughtUpRowsDoNotOverwriteNewerPushes()
    {
        AppEnv &env = s->env;
        s->service->run();
        QVERIFY(waitForEntry("syncFinished"));
        QVERIFY(TestDatabase::exec("INSERT INTO 'order' (uuid, shift_uuid, status, updated_at) "
                                   "VALUES ('o-stored', 's-1', 'ready', 500)"));
        const auto row = [](const char *uuid, const char *status, int updated) {
            return QJsonObject { { "uuid", uuid }, { "shift_uuid", "s-1" }, { "status", status },
                { "type", "general" }, { "number", 1 }, { "created_at", 1 },
                { "updated_at", updated } };
        };
        HeldAnswer held(s->server, FakeServer::SyncPath,
            FakeServer::sync(
                { { "order",
                      QJsonArray { row("o-pushed", "cooking", 200), row("o-same", "cooking", 300),
                          row("o-new", "cooking", 200), row("o-stored", "cooking", 400) } },
                    { "shift", QJsonArray { row("s-1", "", 200) } } },
                QDateTime::currentSecsSinceEpoch()));
        s->service->beginGap(s->env.lastUpdate.value());
        s->service->endGap();
        QVERIFY(s->server.waitForRequests(FakeServer::SyncPath, 2));

        EntityRowHandler pushes(&env);
        QJsonObject closed = row("s-1", "", 300);
        closed.insert("closed_at", 2);
        for (const QJsonObject &pushed :
            { row("o-pushed", "ready", 300), row("o-same", "ready", 300) })
            QVERIFY(waitFor(pushes.apply("order", pushed)));
        QVERIFY(waitFor(pushes.apply("shift", closed)));
        QVERIFY(!env.isShiftOpen.value());
        held.release();
        QVERIFY(waitForEntry("syncFinished", 2));

        QStringList shown;
        for (const char *uuid : { "o-pushed", "o-same", "o-new", "o-stored" })
            shown.append(uuid + (":" + env.orderModel.byUuid(uuid).status));
        QCOMPARE(shown,
            QStringList({ "o-pushed:ready", "o-same:cooking", "o-new:cooking", "o-stored:" }));
        QCOMPARE(
            TestDatabase::textColumn("SELECT uuid || ':' || status FROM 'order' ORDER BY uuid"),
            QStringList({ "o-new:cooking", "o-pushed:ready", "o-same:cooking", "o-stored:ready" }));
        QVERIFY(!env.isShiftOpen.value());
        QCOMPARE(TestDatabase::textColumn("SELECT closed_at FROM shift"), QStringList { "2" });
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
        // As the settings loader found it stored.
        QVERIFY(TestDatabase::exec(QStringLiteral(
            "INSERT INTO config (key, value) VALUES ('last_update', '1700000000')")));
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
