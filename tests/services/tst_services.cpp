#include "config/envrepo.h"
#include "config/timerinterval.h"
#include "core/appenv.h"
#include "services/db/dbservice.h"
#include "services/env/envservice.h"
#include "services/kmapi/kmapiservice.h"
#include "services/logs/logservice.h"
#include "services/rotationDB/rotationdbservice.h"
#include "shared/asynchttpreply.h"
#include "shared/kmapiexception.h"
#include "shared/logger.h"

#include "fakeserver.h"
#include "futurewait.h"
#include "heldanswer.h"
#include "testdatabase.h"
#include "testenvironment.h"

#include <QElapsedTimer>
#include <QLoggingCategory>
#include <QScopeGuard>
#include <QSemaphore>
#include <QSignalSpy>
#include <QSysInfo>
#include <QTest>
#include <QThread>
#include <QtConcurrent>

#include <algorithm>
#include <atomic>
#include <memory>

namespace {

// "ok <object>" or "failed <server code>".
QString outcome(const APIFuture &future)
{
    try {
        if (waitFor(future))
            return "ok " + QJsonDocument(future.result()).toJson(QJsonDocument::Compact);
        return QStringLiteral("still running");
    } catch (const KMAPIException &e) {
        return QStringLiteral("failed %1").arg(e.code());
    }
}

// One point on a fresh database and the server double: the connection service and the log
// service over one API client, wired as the command line and the settings would do it.
struct Point
{
    explicit Point(int maxApiError = 6, int checkOnlineMs = 0)
    {
        TimezoneApi::setServiceHost(server.timeZoneHost());
        env.useHttps.set(false);
        env.host.set(server.host());
        env.uuid.set(QStringLiteral("dev-uuid"));
        env.domain.set(server.domain());
        env.queueConfig.set(QueueConfig(QJsonObject {
            { "max_api_error", maxApiError }, { "check_online_timeout", checkOnlineMs } }));
        env.commonConfig.set(CommonConfig(QJsonObject { { "disable_period", 1 } })); // a day
    }

    bool signIn() { return outcome(service.requestToken(server.domain())).startsWith("ok"); }

    TestDatabase db;
    FakeServer server;
    AppEnv env;
    KMAPI api;
    KMApiService service { &env, &api };
    std::unique_ptr<LogService> logs = std::make_unique<LogService>(&api, &env);
};

const QString unsentLogs = QStringLiteral("SELECT id FROM logs WHERE is_sync = 0 ORDER BY id");

bool addLogRows(int first, int last)
{
    return TestDatabase::exec(
        QStringLiteral("WITH RECURSIVE n(i) AS (SELECT %1 UNION ALL SELECT i + 1 FROM n WHERE i "
                       "< %2) INSERT INTO logs (id, timestamp, level, message, file, line, "
                       "function, is_sync) SELECT i, '2026-03-01 10:00:00', 3, 'row ' || i, "
                       "'kmapi.cpp', i, 'requestSyncDB', 0 FROM n")
            .arg(first)
            .arg(last));
}

QString tableCounts()
{
    QStringList out;
    for (const QString &table : TestDatabase::textColumn(
             "SELECT name FROM sqlite_master WHERE type = 'table' AND name NOT LIKE 'sqlite_%' "
             "ORDER BY name"))
        out.append(
            table + '=' + TestDatabase::textColumn("SELECT COUNT(*) FROM '" + table + "'")[0]);
    return out.join(' ');
}

} // namespace

// The point's services on a real database file and the loopback server double: the point
// connection, the settings loader, the migrations, the rotation and the log capture and upload,
// with the configuration records they read.
class TestServices : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase()
    {
        TestEnvironment::init();
        QLoggingCategory::setFilterRules(QStringLiteral("default.debug=false"));
    }

    // An exchange may take a busy machine's time; only a test of a server that does not answer
    // waits less.
    void init() { AsyncHttpReply::setTimeoutMs(TestEnvironment::patienceMs); }
    void cleanup() { TestDatabase::drainThreadPool(); }

    void login_data()
    {
        QTest::addColumn<FakeServer::Answer>("answer");
        QTest::addColumn<qint64>("secsSinceSync"); // -1: never synchronised
        QTest::addColumn<QString>("expected"); // result, online, errors, logged
        const FakeServer::Answer refused = FakeServer::error(403, 1003, "known device");
        // clang-format off
        QTest::newRow("accepted") << FakeServer::token("a-1", "r-1", 3600) << qint64(-1) << R"(ok {"access_token":"a-1","expires_in":3600,"refresh_token":"r-1","token_type":"Bearer"} 1 0 1)";
        QTest::newRow("refused, synchronised exactly disable_period ago") << refused << qint64(86400) << "ok {} 0 1 1";
        QTest::newRow("refused, a second too long ago") << refused << qint64(86401) << "failed 1003 1 1 0";
        QTest::newRow("no answer, synchronised recently") << FakeServer::silence() << qint64(10) << "ok {} 0 1 1";
        // clang-format on
    }

    // Offline within disable_period of the last synchronisation; the online checks then run at
    // the default interval, as check_online_timeout is 0.
    void login()
    {
        QFETCH(FakeServer::Answer, answer);
        QFETCH(qint64, secsSinceSync);
        QFETCH(QString, expected);
        if (answer.mode == FakeServer::Answer::Mode::Silence)
            AsyncHttpReply::setTimeoutMs(1000);
        // At the boundary the test and the service must read the same whole second: the login
        // starts at the beginning of a second, and one that still ran into the next second tells
        // nothing and is tried again.
        for (int attempt = 1; attempt <= 10; ++attempt) {
            Point board;
            QSignalSpy logged(&board.service, &KMApiService::logged);
            QSignalSpy errors(&board.service, &IService::error);
            board.server.enqueue(FakeServer::TokenPath, answer);
            if (secsSinceSync >= 86400)
                QVERIFY(QTest::qWaitFor(
                    [] { return QDateTime::currentMSecsSinceEpoch() % 1000 < 100; }));
            const qint64 started = QDateTime::currentSecsSinceEpoch();
            if (secsSinceSync >= 0)
                board.env.lastUpdate.set(started - secsSinceSync);
            QElapsedTimer took;
            took.start();
            const QString result = outcome(board.service.requestToken(board.server.domain()));
            if (secsSinceSync >= 86400 && attempt < 10
                && QDateTime::currentSecsSinceEpoch() != started)
                continue;
            QCOMPARE(result
                    + QString::asprintf(" %d %d %d", board.env.isOnline.value(),
                        int(errors.count()), int(logged.count())),
                expected);
            QCOMPARE(board.server.requests(FakeServer::TokenPath)[0].json()["uuid"].toString(),
                "dev-uuid");
            // No check follows within twice the time the login took on this machine.
            QVERIFY(!board.server.waitForRequests(
                FakeServer::TokenPath, 2, int(std::max<qint64>(200, 2 * took.elapsed()))));
            return;
        }
    }

    // Failed API calls count up to max_api_error; each at or past it reports going offline, and
    // a check that gets through ends the checks and starts the count again.
    void apiErrorThreshold()
    {
        Point board(2, 100);
        QVERIFY(board.signIn());
        QSignalSpy errors(&board.service, &IService::error);
        board.server.setAnswer(FakeServer::SyncPath, FakeServer::error(500, 2, "broken"));
        // The checks fail until the test lets them through.
        const auto checksFail = std::make_shared<std::atomic<bool>>(true);
        board.server.setResponder(FakeServer::TokenPath, [checksFail](const RecordedRequest &) {
            return *checksFail ? FakeServer::htmlError(502) : FakeServer::token("a-2", "r-2");
        });
        const auto failOnce = [&](bool online, int count) {
            QCOMPARE(outcome(board.api.requestSyncDB({}, 0)), "failed 2");
            // The failure is counted through this thread's queue, where it was posted before the
            // request finished.
            QCoreApplication::sendPostedEvents();
            QCOMPARE(errors.count(), count);
            QCOMPARE(board.env.isOnline.value(), online);
        };
        failOnce(true, 0);
        failOnce(false, 1);
        failOnce(false, 2);
        QVERIFY(board.server.waitForRequests(FakeServer::TokenPath, 2)); // a check, after the login
        settle();
        QVERIFY(!board.env.isOnline.value());
        checksFail->store(false);
        QTRY_VERIFY_WITH_TIMEOUT(board.env.isOnline.value(), TestEnvironment::patienceMs);
        failOnce(true, 2);
        failOnce(false, 3);
    }

    void clockCheck_data()
    {
        QTest::addColumn<QString>("zone");
        QTest::addColumn<FakeServer::Answer>("answer"); // no body: the double's time in the zone
        QTest::addColumn<QString>("expected"); // warnings, failure pushes
        const QDateTime now = QDateTime::currentDateTime();
        // clang-format off
        QTest::newRow("right time") << "UTC" << FakeServer::Answer() << "0 0";
        QTest::newRow("device two hours behind") << "UTC" << FakeServer::timeZone(now.addSecs(7200), "UTC") << "1 0";
        QTest::newRow("device 59 minutes behind") << "UTC" << FakeServer::timeZone(now.addSecs(3540), "UTC") << "0 0";
        QTest::newRow("device 61 minutes ahead") << "UTC" << FakeServer::timeZone(now.addSecs(-3660), "UTC") << "1 0";
        // The device runs on UTC, three hours off the point's wall clock.
        QTest::newRow("plus sign in the zone") << "Etc/GMT+3" << FakeServer::Answer() << "1 0";
        QTest::newRow("unreadable answer") << "UTC" << FakeServer::raw("not json") << "0 0";
        QTest::newRow("service error") << "UTC" << FakeServer::htmlError(500) << "0 1";
        // clang-format on
    }

    void clockCheck()
    {
        QFETCH(QString, zone);
        QFETCH(FakeServer::Answer, answer);
        QFETCH(QString, expected);
        Point board;
        // The id differs from the held record's: a record equal in its JSON form is not taken.
        board.env.pointConfig.set(PointConfig(QJsonObject { { "id", 7 }, { "timezone", zone } }));
        if (answer.mode != FakeServer::Answer::Mode::Reply || !answer.body.isEmpty())
            board.server.setAnswer(FakeServer::TimeZonePath, answer);
        QSignalSpy errors(&board.service, &IService::error);
        QSignalSpy pushes(&board.service, &IService::push);
        board.service.run();
        QVERIFY(board.server.waitForRequests(FakeServer::TimeZonePath, 1));
        TestDatabase::drainThreadPool(); // the check ends on a pool thread
        QCOMPARE(QString::asprintf("%d %d", int(errors.count()), int(pushes.count())), expected);
        // A bare "+" would reach the service as a blank.
        QCOMPARE(board.server.requests()[0].queryItems().value(2).second, zone);
    }

    void commandLine_data()
    {
        QTest::addColumn<QStringList>("arguments");
        // https, ignore SSL errors, virtual keyboard, fullscreen | host | uuid | broker, if given
        QTest::addColumn<QString>("state");
        // clang-format off
        QTest::newRow("flags") << QStringList { "--use-virtual-keyboard", "--use-fullscreen", "--ignore-ssl-error", "--use-http" } << "0111||m-1|-";
        QTest::newRow("host twice: the first wins") << QStringList { "-h", "a:8443", "--host", "b" } << "1000|a:8443|m-1|-";
        QTest::newRow("host as last argument") << QStringList { "--use-http", "--host" } << "0000||m-1|-";
        QTest::newRow("mqtt, port not a number") << QStringList { "--mqtt", "h", "x", "u", "pw" } << "1000||m-1|h,0,u,pw";
        QTest::newRow("mqtt with too few values") << QStringList { "--mqtt", "h", "1883", "--use-http" } << "0000||m-1|-";
        QTest::newRow("uuid; unknown and case-different options") << QStringList { "--HOST", "a", "-H", "--uuid", "u-2" } << "1000||u-2|-";
        // clang-format on
    }

    void commandLine()
    {
        QFETCH(QStringList, arguments);
        QFETCH(QString, state);
        AppEnv env;
        ENVService::applyArguments(&env, QStringList { "km4" } + arguments, "m-1");
        const SyncConfig &s = env.syncConfig.value();
        const QStringList mqtt { s.mqtt_host, QString::number(s.mqtt_port), s.mqtt_login,
            s.mqtt_password };
        const QString flags = QString::asprintf("%d%d%d%d", env.useHttps.value(),
            env.ignoreSslErrors.value(), env.useVirtualKeyboard.value(), env.useFullscreen.value());
        QCOMPARE(QStringList({ flags, env.host.value(), env.uuid.value(),
                                 s.mqtt_login == SyncConfig().mqtt_login ? "-" : mqtt.join(',') })
                     .join('|'),
            state);
    }

    // Rows are read on a pool thread and applied on the GUI thread, with the command line at the
    // first load that succeeds; a failed load, or one that stop() overtook, applies nothing.
    void settingsLoad()
    {
        TestDatabase db(false); // no table config yet
        AppEnv env;
        ENVService service(&env);
        QSignalSpy loaded(&service, &ENVService::loaded);
        QFuture<bool> failed = service.load();
        QVERIFY(waitFor(failed) && !failed.result());
        db.service().run();
        ENVRepo::insertENV("domain", "o'cafe %2 %3");
        ENVRepo::insertENV("last_update", "5000000000");
        // The read waits behind a task that holds the pool's only thread: had it ended before
        // load() returned, the rows would be applied inside load(), before any stop().
        QThreadPool *pool = QThreadPool::globalInstance();
        const auto restore = qScopeGuard(
            [pool, threads = pool->maxThreadCount()] { pool->setMaxThreadCount(threads); });
        pool->setMaxThreadCount(1);
        QSemaphore busy;
        const QFuture<void> holder = QtConcurrent::run([&busy] { busy.acquire(); });
        QFuture<bool> stale = service.load();
        service.stop(); // the local data is being wiped
        busy.release();
        QVERIFY(waitFor(holder) && waitFor(stale) && !stale.result());
        QVERIFY(env.domain.value().isEmpty() && !env.uuid.isSet() && loaded.isEmpty());

        QThread *appliedOn = nullptr;
        connect(
            &env.domain, &PrivateEnvVariable::changed, &env.domain,
            [&appliedOn] { appliedOn = QThread::currentThread(); }, Qt::DirectConnection);
        QFuture<bool> applied = service.load();
        QVERIFY(waitFor(applied) && applied.result());
        QCOMPARE(appliedOn, QThread::currentThread());
        QCOMPARE(loaded.count(), 1);
        QCOMPARE(env.domain.value(), "o'cafe %2 %3");
        QCOMPARE(env.lastUpdate.value(), 5000000000LL);
        QCOMPARE(env.uuid.value(), QString::fromUtf8(QSysInfo::machineUniqueId()));
    }

    // The migration builds the whole schema once, and its rollback drops all of it: the wipe
    // leaves no table of the account. A run that fails (an index holds the name of a table it
    // creates) is undone, and the next run gives an empty account.
    void migrations()
    {
        TestDatabase db;
        db.service().run();
        // clang-format off
        for (const char *sql : { "INSERT INTO 'config' (key, value) VALUES ('domain', 'cafe')",
                 "INSERT INTO shift (uuid, type, number, created_at) VALUES ('s', 'general', 1, 1)",
                 "INSERT INTO 'order' (uuid, shift_uuid) VALUES ('o', 's')",
                 "INSERT INTO order_status (name) VALUES ('ready')",
                 "INSERT INTO receipt (uuid, shift_uuid, order_uuid) VALUES ('r', 's', 'o')",
                 "INSERT INTO receipt_item (uuid, receipt_uuid) VALUES ('i', 'r')" })
            // clang-format on
            QVERIFY(TestDatabase::exec(sql));
        QVERIFY(addLogRows(1, 1));
        QCOMPARE(tableCounts(),
            "config=1 logs=1 migrations=1 order=1 order_status=1 receipt=1 receipt_item=1 shift=1");
        db.service().downAllMigrations();
        QCOMPARE(tableCounts(), QString());
        QVERIFY(TestDatabase::exec("CREATE TABLE other (level INTEGER)"));
        QVERIFY(TestDatabase::exec("CREATE INDEX 'order' ON other (level)"));
        db.service().run();
        QCOMPARE(tableCounts(), "other=0");
        QVERIFY(TestDatabase::exec("DROP INDEX 'order'"));
        db.service().run();
        QCOMPARE(tableCounts(),
            "config=0 logs=0 migrations=1 order=0 order_status=0 other=0 receipt=0 "
            "receipt_item=0 shift=0");
    }

    // Orders go first, while their shifts still tell which are old; then shifts, then receipts
    // of removed orders and items of removed receipts. Logs go before yesterday (UTC).
    void rotation()
    {
        TestDatabase db;
        // clang-format off
        for (const char *sql : {
                 "INSERT INTO shift (uuid, type, number, created_at, closed_at) VALUES ('s10', 'general', 10, strftime('%s', 'now', '-6 day'), strftime('%s', 'now', '-6 day')), ('s11', 'general', 11, strftime('%s', 'now', '-4 day'), strftime('%s', 'now', '-4 day')), ('s11b', 'bar', 11, strftime('%s', 'now', '-4 day'), strftime('%s', 'now', '-4 day')), ('s13', 'general', 13, strftime('%s', 'now', '-1 day'), NULL)",
                 "INSERT INTO 'order' (uuid, shift_uuid, created_at, closed_at, deleted_at) VALUES ('o-old', 's10', strftime('%s', 'now', '-6 day'), strftime('%s', 'now', '-6 day'), NULL), ('o-deleted', 's13', strftime('%s', 'now', '-6 day'), NULL, strftime('%s', 'now', '-1 day')), ('o-open', 's13', strftime('%s', 'now', '-1 day'), NULL, NULL)",
                 "INSERT INTO receipt (uuid, shift_uuid, order_uuid, created_at, deleted_at) VALUES ('r-old', 's10', 'o-old', strftime('%s', 'now', '-6 day'), NULL), ('r-open', 's13', 'o-open', strftime('%s', 'now', '-6 day'), NULL), ('r-deleted', 's13', 'o-open', strftime('%s', 'now', '-6 day'), strftime('%s', 'now', '-6 day'))",
                 "INSERT INTO receipt_item (uuid, receipt_uuid, deleted_at) VALUES ('i-old', 'r-old', NULL), ('i-deleted', 'r-open', 5), ('i-live', 'r-open', NULL)",
                 "INSERT INTO logs (timestamp, level, message, line, function, is_sync) VALUES (DATE('now', '-2 day') || ' 23:59:59', 3, 'l-old', 1, 'g', 1), (DATE('now', '-1 day') || ' 00:00:00', 3, 'l-yesterday', 1, 'g', 0)" })
            // clang-format on
            QVERIFY(TestDatabase::exec(sql));
        AppEnv env;
        RotationDBService service(&env);
        QSignalSpy errors(&service, &IService::error);
        service.run();
        TestDatabase::drainThreadPool();
        QCOMPARE(TestDatabase::textColumn(
                     "SELECT uuid FROM shift UNION ALL SELECT uuid FROM 'order' UNION ALL SELECT "
                     "uuid FROM receipt UNION ALL SELECT uuid FROM receipt_item UNION ALL SELECT "
                     "message FROM logs ORDER BY 1"),
            QStringList({ "i-live", "l-yesterday", "o-open", "r-open", "s11", "s11b", "s13" }));
        QVERIFY(errors.isEmpty());
        QVERIFY(TestDatabase::exec("DROP TABLE logs"));
        service.run();
        QTRY_COMPARE_WITH_TIMEOUT(errors.count(), 1, TestEnvironment::patienceMs);
    }

    void capture_data()
    {
        QTest::addColumn<int>("threshold");
        QTest::addColumn<int>("kind"); // a QtMsgType, or 10 + a logger level
        QTest::addColumn<QString>("message");
        QTest::addColumn<QByteArray>("file"); // null: no origin
        QTest::addColumn<QString>("stored"); // "level|message|file|function|line", or its start
        // clang-format off
        QTest::newRow("debug below the threshold") << 2 << int(QtDebugMsg) << "d" << QByteArray() << "";
        QTest::newRow("warning at the threshold") << 2 << int(QtWarningMsg) << "w" << QByteArray() << "2|w|";
        QTest::newRow("critical while storage is off") << 100 << int(QtCriticalMsg) << "c" << QByteArray() << "";
        QTest::newRow("sql text and markers") << 0 << 13 << "'); DROP TABLE logs; -- %1 ?" << QByteArray("it's.cpp") << "3|'); DROP TABLE logs; -- %1 ?|it's.cpp|fn'()|321";
        QTest::newRow("nul inside") << 0 << 13 << QString::fromUtf16(u"a\0b", 3) << QByteArray("n") << QString::fromUtf16(u"3|a\0b|n|fn'()|321", 17);
        QTest::newRow("no origin") << 0 << 13 << "Не удалось" << QByteArray() << "3|Не удалось|||321";
        // clang-format on
    }

    void capture()
    {
        QFETCH(int, threshold);
        QFETCH(int, kind);
        QFETCH(QString, message);
        QFETCH(QByteArray, file);
        QFETCH(QString, stored);
        Point board;
        ILogService::lvlToWrite = threshold;
        if (kind < 10)
            qt_message_output(QtMsgType(kind), QMessageLogContext(), message);
        else
            Logger::debugInfo(message, file.isNull() ? nullptr : file.constData(),
                file.isNull() ? nullptr : "fn'()", 321, kind - 10);
        TestDatabase::drainThreadPool();
        const QStringList lines
            = TestDatabase::textColumn("SELECT level || '|' || message || '|' || file || '|' || "
                                       "function || '|' || line FROM logs");
        QCOMPARE(lines.size(), stored.isEmpty() ? 0 : 1);
        QCOMPARE(lines.value(0).left(stored.size()), stored);
    }

    // Lines about a failed log INSERT are not stored: each failure would feed the next. The
    // failures are told in debug lines, counted here on their way to the service's handler.
    void failingInsertDoesNotFeedItself()
    {
        static QAtomicInt failLines;
        static QtMessageHandler serviceHandler;
        Point board;
        QVERIFY(TestDatabase::exec("DROP TABLE logs"));
        ILogService::lvlToWrite = 0;
        QLoggingCategory::setFilterRules(QStringLiteral("default.debug=true"));
        serviceHandler = qInstallMessageHandler(
            [](QtMsgType type, const QMessageLogContext &context, const QString &text) {
                if (text.startsWith(QLatin1String("FAIL QUERY:")))
                    failLines.ref();
                serviceHandler(type, context, text);
            });
        Logger::debugInfo(QStringLiteral("first"), "f", "g", 1, 2);
        // A failure that fed itself would keep the pool busy with the next one.
        QVERIFY(QThreadPool::globalInstance()->waitForDone(TestEnvironment::patienceMs));
        QCOMPARE(failLines.loadRelaxed(), 1);
        QLoggingCategory::setFilterRules(QStringLiteral("default.debug=false"));
    }

    // An upload sends at most 1,000 unsent rows, oldest first, and marks them sent; a failed one
    // keeps its rows for the next tick. Coming online uploads at once; a stopped service waits
    // for run() whatever the online state does. A tick during an upload is skipped, the upload
    // marks only the rows it sent, and the service's end waits for it and ends the capture.
    void uploads()
    {
        Point board;
        QSignalSpy pushes(board.logs.get(), &IService::push);
        const auto unsent = [] { return TestDatabase::textColumn(unsentLogs); };
        QVERIFY(board.signIn() && addLogRows(1, 1002));
        QVERIFY(TestDatabase::exec("UPDATE logs SET is_sync = 1 WHERE id = 1"));
        board.logs->run();
        QTRY_COMPARE_WITH_TIMEOUT(unsent(), QStringList("1002"), TestEnvironment::patienceMs);
        const QJsonArray sent = board.server.requests(FakeServer::LogsPath).value(0).json().array();
        QCOMPARE(sent.size(), 1000);
        QCOMPARE(sent.first(),
            QJsonObject(
                { { "timestamp", "2026-03-01 10:00:00" }, { "level", 3 }, { "message", "row 2" },
                    { "file", "kmapi.cpp" }, { "line", 2 }, { "function", "requestSyncDB" } }));
        QCOMPARE(sent.last()["message"], "row 1001");
        board.server.enqueue(FakeServer::LogsPath, FakeServer::error(500, 0, "down"));
        board.logs->update();
        QTRY_COMPARE_WITH_TIMEOUT(pushes.count(), 1, TestEnvironment::patienceMs);
        QCOMPARE(unsent(), QStringList("1002"));

        board.env.isOnline.set(false);
        board.env.isOnline.set(true);
        QTRY_COMPARE_WITH_TIMEOUT(unsent(), QStringList(), TestEnvironment::patienceMs);
        board.logs->stop();
        QVERIFY(addLogRows(1003, 1003));
        board.env.isOnline.set(false);
        board.env.isOnline.set(true);
        settle(); // an upload would have run its course
        QCOMPARE(unsent(), QStringList("1003"));

        // The upload's answer waits until the tick has come, and then leaves half a second later.
        HeldAnswer held(board.server, FakeServer::LogsPath, FakeServer::json({}).withDelay(500));
        board.logs->run();
        QVERIFY(board.server.waitForRequests(FakeServer::LogsPath, 4));
        QVERIFY(addLogRows(1004, 1004));
        board.logs->update();
        held.release();
        board.logs.reset();
        QCOMPARE(unsent(), QStringList("1004"));
        QCOMPARE(board.server.count(FakeServer::LogsPath), 4);
        Logger::debugInfo(QStringLiteral("after the end"), "f", "g", 1, 3); // capture ended too
        TestDatabase::drainThreadPool();
        QCOMPARE(unsent(), QStringList("1004"));
    }

    // Whole days, as a number or its text; a fraction or a number out of range gives 0.
    void disablePeriod_data()
    {
        QTest::addColumn<QJsonValue>("days");
        QTest::addColumn<qint64>("seconds");
        // clang-format off
        QTest::newRow("text") << QJsonValue("3") << qint64(259200);
        QTest::newRow("a JSON number") << QJsonValue(3) << qint64(259200);
        QTest::newRow("beyond 32 bits in seconds") << QJsonValue("30000") << qint64(30000) * 86400;
        QTest::newRow("a JSON fraction") << QJsonValue(1.5) << qint64(0);
        QTest::newRow("a JSON number outside int") << QJsonValue(3e9) << qint64(0);
        // clang-format on
    }

    void disablePeriod()
    {
        QFETCH(QJsonValue, days);
        QFETCH(qint64, seconds);
        QCOMPARE(CommonConfig(QJsonObject { { "disable_period", days } }).disable_period, seconds);
    }

    void timerIntervalFallsBackForZeroAndBelow()
    {
        const auto interval
            = [](int configured) { return TimerInterval::orDefault(configured, 30); };
        QCOMPARE(QList<int>({ interval(5), interval(0), interval(-1) }), QList<int>({ 5, 30, 30 }));
    }
};

QTEST_GUILESS_MAIN(TestServices)
#include "tst_services.moc"
