#include "config/commonconfig.h"
#include "config/envrepo.h"
#include "config/timerinterval.h"
#include "core/appenv.h"
#include "services/db/dbservice.h"
#include "services/env/envservice.h"
#include "services/kmapi/kmapiservice.h"
#include "services/kmapi/timezoneapi.h"
#include "services/logs/logservice.h"
#include "services/rotationDB/rotationdbservice.h"
#include "shared/asynchttpreply.h"
#include "shared/kmapi.h"
#include "shared/kmapiexception.h"
#include "shared/logger.h"

#include "fakeserver.h"
#include "futurewait.h"
#include "testdatabase.h"
#include "testenvironment.h"

#include <QJsonArray>
#include <QLoggingCategory>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QSysInfo>
#include <QTest>
#include <QThread>

#include <memory>

namespace {

// "ok <object>" or "failed <server code>".
QString outcome(const APIFuture &future)
{
    if (!waitFor(future))
        return QStringLiteral("still running");
    try {
        return "ok " + QJsonDocument(future.result()).toJson(QJsonDocument::Compact);
    } catch (const KMAPIException &e) {
        return QStringLiteral("failed %1").arg(e.code());
    }
}

// The point connection service on the server double, wired as the command line and the
// settings would do it.
struct Board
{
    explicit Board(const FakeServer &server, int maxApiError = 6, int checkOnlineMs = 0)
    {
        env.useHttps.set(false);
        env.host.set(server.host());
        env.uuid.set(QStringLiteral("dev-uuid"));
        env.domain.set(server.domain());
        QueueConfig queue;
        queue.max_api_error = maxApiError;
        queue.check_online_timeout = checkOnlineMs;
        env.queueConfig.set(queue);
        CommonConfig common;
        common.disable_period = 86400;
        env.commonConfig.set(common);
    }

    AppEnv env;
    KMAPI api;
    KMApiService service { &env, &api };
};

// The log capture and upload over a fresh database, signed in to the server double.
struct Uploads
{
    Uploads()
    {
        api.useHttps(false);
        api.setHost(server.host());
        signedIn = waitFor(api.requestToken(server.domain(), QStringLiteral("device-1")));
    }

    TestDatabase db;
    FakeServer server;
    KMAPI api;
    AppEnv env;
    std::unique_ptr<LogService> service = std::make_unique<LogService>(&api, &env);
    bool signedIn = false;
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

QAtomicInt failLines;
QtMessageHandler serviceHandler = nullptr;

// Counts the reports of failed statements on their way to the service's own handler.
void countFailLines(QtMsgType type, const QMessageLogContext &context, const QString &text)
{
    if (text.startsWith(QLatin1String("FAIL QUERY:")))
        failLines.ref();
    serviceHandler(type, context, text);
}

QString tableCounts()
{
    QStringList out;
    for (const QString &table : TestDatabase::textColumn(
             "SELECT name FROM sqlite_master WHERE type = 'table' AND name NOT LIKE 'sqlite_%' "
             "ORDER BY name"))
        out.append(table + '='
            + TestDatabase::textColumn(QStringLiteral("SELECT COUNT(*) FROM '%1'").arg(table))
                  .value(0));
    return out.join(' ');
}

QString ago(qint64 days)
{
    return QString::number(QDateTime::currentSecsSinceEpoch() - days * 86400);
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
        AsyncHttpReply::setTimeoutMs(1000);
    }

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
        QTest::newRow("refused, never synchronised") << refused << qint64(-1) << "failed 1003 1 1 0";
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
        FakeServer server;
        Board board(server);
        QSignalSpy logged(&board.service, &KMApiService::logged);
        QSignalSpy errors(&board.service, &IService::error);
        server.enqueue(FakeServer::TokenPath, answer);
        // At the boundary, start at the beginning of a second, so the test and the service read
        // the same whole second.
        if (secsSinceSync >= 86400)
            QVERIFY(
                QTest::qWaitFor([] { return QDateTime::currentMSecsSinceEpoch() % 1000 < 100; }));
        if (secsSinceSync >= 0)
            board.env.lastUpdate.set(QDateTime::currentSecsSinceEpoch() - secsSinceSync);
        const QString result = outcome(board.service.requestToken(server.domain()));
        QCOMPARE(QStringLiteral("%1 %2 %3 %4")
                     .arg(result)
                     .arg(board.env.isOnline.value())
                     .arg(errors.count())
                     .arg(logged.count()),
            expected);
        QCOMPARE(board.service.isLogged(), result.startsWith("ok"));
        QCOMPARE(server.requests(FakeServer::TokenPath)[0].json()["uuid"].toString(), "dev-uuid");
        QVERIFY(!server.waitForRequests(FakeServer::TokenPath, 2, 200));
    }

    // Failed API calls count up to max_api_error; each at or past it reports going offline, and
    // a check that gets through ends the checks and starts the count again.
    void apiErrorThreshold()
    {
        FakeServer server;
        Board board(server, 2, 100);
        QVERIFY(outcome(board.service.requestToken(server.domain())).startsWith("ok"));
        QSignalSpy errors(&board.service, &IService::error);
        server.setAnswer(FakeServer::SyncPath, FakeServer::error(500, 2, "broken"));
        server.enqueue(FakeServer::TokenPath, FakeServer::htmlError(502)); // the first check fails
        const auto failOnce = [&](bool online, int count) {
            QCOMPARE(outcome(board.api.requestSyncDB({}, 0)), "failed 2");
            QTRY_COMPARE(errors.count(), count); // the count arrives queued
            QCOMPARE(board.env.isOnline.value(), online);
        };
        failOnce(true, 0);
        failOnce(false, 1);
        failOnce(false, 2);
        QTRY_VERIFY(board.env.isOnline.value());
        QVERIFY(!server.waitForRequests(
            FakeServer::TokenPath, server.count(FakeServer::TokenPath) + 1, 300));
        failOnce(true, 2);
        failOnce(false, 3);
    }

    void clockCheck_data()
    {
        QTest::addColumn<QString>("zone");
        QTest::addColumn<FakeServer::Answer>("answer"); // no body: the double's time in the zone
        QTest::addColumn<QString>("expected"); // warnings, failure pushes
        // clang-format off
        QTest::newRow("right time") << "UTC" << FakeServer::Answer() << "0 0";
        QTest::newRow("device two hours behind") << "UTC" << FakeServer::timeZone(QDateTime::currentDateTime().addSecs(7200), "UTC") << "1 0";
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
        FakeServer server;
        TimezoneApi::setServiceHost(server.timeZoneHost());
        Board board(server);
        PointConfig point;
        point.id = 7; // a record equal to the held one in its JSON form would not be taken
        point.timezone = zone;
        board.env.pointConfig.set(point);
        if (answer.mode != FakeServer::Answer::Mode::Reply || !answer.body.isEmpty())
            server.setAnswer(FakeServer::TimeZonePath, answer);
        QSignalSpy errors(&board.service, &IService::error);
        QSignalSpy pushes(&board.service, &IService::push);
        board.service.run();
        QVERIFY(server.waitForRequests(FakeServer::TimeZonePath, 1));
        TestDatabase::drainThreadPool(); // the check ends on a pool thread
        QCOMPARE(QStringLiteral("%1 %2").arg(errors.count()).arg(pushes.count()), expected);
        // A bare "+" would reach the service as a blank.
        QCOMPARE(server.requests()[0].queryItems().value(2).second, zone);
        const QDateTime device(QDate(2026, 12, 6), QTime(12, 0));
        const auto serviceAt = [&](int secs) {
            const QString formatted = device.addSecs(secs).toString("yyyy-MM-dd hh:mm:ss");
            return TimezoneResponce(QJsonObject { { "formatted", formatted } });
        };
        QVERIFY(!serviceAt(3600).isDiffMoreOneHour(device));
        QVERIFY(serviceAt(-3601).isDiffMoreOneHour(device));
    }

    void commandLine_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<QString>("machineId");
        QTest::addColumn<QString>("changes"); // what differs from a bare command line
        // clang-format off
        QTest::newRow("flags") << QStringList { "--use-virtual-keyboard", "--use-fullscreen", "--ignore-ssl-error", "--use-http" } << "m-1" << "https=0 ssl=1 vk=1 fs=1";
        QTest::newRow("host twice: the first wins") << QStringList { "-h", "a:8443", "--host", "b" } << "m-1" << "host=a:8443";
        QTest::newRow("host as last argument") << QStringList { "--use-http", "--host" } << "m-1" << "https=0";
        QTest::newRow("mqtt, port not a number") << QStringList { "--mqtt", "h", "x", "u", "pw" } << "m-1" << "mqtt=1,h,0,u,pw";
        QTest::newRow("mqtt with too few values") << QStringList { "--mqtt", "h", "1883", "--use-http" } << "m-1" << "https=0";
        QTest::newRow("uuid; unknown and case-different options") << QStringList { "--HOST", "a", "-H", "--uuid", "u-2" } << "m-1" << "uuid=u-2";
        QTest::newRow("empty machine id") << QStringList() << "" << "uuid=";
        // clang-format on
    }

    void commandLine()
    {
        QFETCH(QStringList, arguments);
        QFETCH(QString, machineId);
        QFETCH(QString, changes);
        const auto state = [](const QStringList &arguments, const QString &machineId) {
            AppEnv env;
            ENVService::applyArguments(&env, QStringList { "km4" } + arguments, machineId);
            const SyncConfig &s = env.syncConfig.value();
            return QStringList { "host=" + env.host.value(),
                QStringLiteral("https=%1").arg(env.useHttps.value()),
                QStringLiteral("ssl=%1").arg(env.ignoreSslErrors.value()),
                QStringLiteral("vk=%1").arg(env.useVirtualKeyboard.value()),
                QStringLiteral("fs=%1").arg(env.useFullscreen.value()), "uuid=" + env.uuid.value(),
                QStringLiteral("mqtt=%1,%2,%3,%4,%5")
                    .arg(s.mqtt_enabled)
                    .arg(s.mqtt_host)
                    .arg(s.mqtt_port)
                    .arg(s.mqtt_login, s.mqtt_password) };
        };
        const QStringList bare = state({}, "m-1");
        QStringList changed = state(arguments, machineId);
        changed.removeIf([&bare](const QString &field) { return bare.contains(field); });
        QCOMPARE(changed.join(' '), changes);
    }

    // Rows are read on a pool thread and applied on the GUI thread, with the command line at the
    // first load that succeeds; a failed load, or one that stop() overtook, applies nothing.
    void settingsLoad()
    {
        TestDatabase db(false); // no table config yet
        AppEnv env;
        ENVService service(&env);
        QSignalSpy loaded(&service, &ENVService::loaded);
        const auto load = [&service] {
            QFuture<bool> loading = service.load();
            return waitFor(loading) && loading.result();
        };
        QVERIFY(!load());
        db.service().run();
        ENVRepo::insertENV("domain", "o'cafe");
        ENVRepo::insertENV("last_update", "5000000000");
        ENVRepo::insertENV("common", R"({"disable_period":"2"})");
        QFuture<bool> stale = service.load();
        service.stop(); // the local data is being wiped
        QVERIFY(waitFor(stale) && !stale.result());
        QVERIFY(env.domain.value().isEmpty() && !env.uuid.isSet() && loaded.isEmpty());

        QThread *appliedOn = nullptr;
        connect(
            &env.domain, &PrivateEnvVariable::changed, &env.domain,
            [&appliedOn] { appliedOn = QThread::currentThread(); }, Qt::DirectConnection);
        QVERIFY(load());
        QCOMPARE(appliedOn, QThread::currentThread());
        QCOMPARE(loaded.count(), 1);
        QCOMPARE(QStringLiteral("%1 %2 %3 %4")
                     .arg(env.domain.value())
                     .arg(env.lastUpdate.value())
                     .arg(env.commonConfig.value().disable_period)
                     .arg(env.uuid.value()),
            "o'cafe 5000000000 172800 " + QSysInfo::machineUniqueId());
    }

    // The migration builds the whole schema once; the wipe drops the account's tables and keeps
    // logs, statuses, receipts and items, and the next run gives an empty account on them.
    void migrationAndWipe()
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
        QCOMPARE(tableCounts(), "logs=1 order_status=1 receipt=1 receipt_item=1");
        db.service().run();
        QCOMPARE(tableCounts(),
            "config=0 logs=1 migrations=1 order=0 order_status=1 receipt=1 receipt_item=1 shift=0");
    }

    void failedMigrationIsUndone()
    {
        TestDatabase db(false);
        // An index holding the name of the fifth table makes its CREATE fail.
        QVERIFY(TestDatabase::exec("CREATE TABLE other (a INTEGER)"));
        QVERIFY(TestDatabase::exec("CREATE INDEX order_status ON other (a)"));
        QTest::ignoreMessage(
            QtWarningMsg, QRegularExpression("already an index named order_status"));
        db.service().run();
        QCOMPARE(tableCounts(), "other=0");
    }

    // Orders go first, while their shifts still tell which are old; then shifts, then receipts
    // of removed orders and items of removed receipts. Logs go before yesterday (UTC).
    void rotation()
    {
        TestDatabase db;
        const QString yesterday
            = QDateTime::currentDateTimeUtc().date().addDays(-1).toString(Qt::ISODate);
        // clang-format off
        for (const QString &sql : {
                 QStringLiteral("INSERT INTO shift (uuid, type, number, created_at, closed_at) VALUES ('s10', 'general', 10, %1, %1), ('s11', 'general', 11, %2, %2), ('s11b', 'bar', 11, %2, %2), ('s13', 'general', 13, %3, NULL)").arg(ago(6), ago(4), ago(1)),
                 QStringLiteral("INSERT INTO 'order' (uuid, shift_uuid, created_at, closed_at, deleted_at) VALUES ('o-old', 's10', %1, %1, NULL), ('o-deleted', 's13', %1, NULL, %2), ('o-open', 's13', %2, NULL, NULL)").arg(ago(6), ago(1)),
                 QStringLiteral("INSERT INTO receipt (uuid, shift_uuid, order_uuid, created_at, deleted_at) VALUES ('r-old', 's10', 'o-old', %1, NULL), ('r-open', 's13', 'o-open', %1, NULL), ('r-deleted', 's13', 'o-open', %1, %1)").arg(ago(6)),
                 QStringLiteral("INSERT INTO receipt_item (uuid, receipt_uuid, deleted_at) VALUES ('i-old', 'r-old', NULL), ('i-deleted', 'r-open', 5), ('i-live', 'r-open', NULL)"),
                 QStringLiteral("INSERT INTO logs (timestamp, level, message, line, function, is_sync) VALUES (DATE('%1', '-1 day') || ' 23:59:59', 3, 'l-old', 1, 'g', 1), ('%1 00:00:00', 3, 'l-yesterday', 1, 'g', 0)").arg(yesterday) })
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
        QTRY_COMPARE(errors.count(), 1);
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
        QTest::newRow("logger level 2 below 3") << 3 << 12 << "x" << QByteArray("f") << "";
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
        Uploads board;
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

    // Lines about a failed log INSERT are not stored: each failure would feed the next.
    void failingInsertDoesNotFeedItself()
    {
        Uploads board;
        QVERIFY(TestDatabase::exec("DROP TABLE logs"));
        ILogService::lvlToWrite = 0;
        QLoggingCategory::setFilterRules(
            QStringLiteral("default.debug=true")); // failures say so in debug
        failLines = 0;
        serviceHandler = qInstallMessageHandler(countFailLines);
        Logger::debugInfo(QStringLiteral("first"), "f", "g", 1, 2);
        QTRY_COMPARE(failLines.loadRelaxed(), 1);
        QVERIFY(!QTest::qWaitFor([] { return failLines.loadRelaxed() > 1; }, 200));
        qInstallMessageHandler(serviceHandler);
        QLoggingCategory::setFilterRules(QStringLiteral("default.debug=false"));
    }

    // At most 1,000 unsent rows, oldest first; a failed upload keeps its rows for the next tick.
    void uploadSendsTheOldestThousand()
    {
        Uploads board;
        QVERIFY(board.signedIn && addLogRows(1, 1002));
        QVERIFY(TestDatabase::exec("UPDATE logs SET is_sync = 1 WHERE id = 1"));
        QSignalSpy pushes(board.service.get(), &IService::push);
        board.service->run();
        QTRY_COMPARE(TestDatabase::textColumn(unsentLogs), QStringList("1002"));
        const QJsonArray sent = board.server.requests(FakeServer::LogsPath).value(0).json().array();
        QCOMPARE(sent.size(), 1000);
        QCOMPARE(sent.first(),
            QJsonObject(
                { { "timestamp", "2026-03-01 10:00:00" }, { "level", 3 }, { "message", "row 2" },
                    { "file", "kmapi.cpp" }, { "line", 2 }, { "function", "requestSyncDB" } }));
        QCOMPARE(sent.last()["message"], "row 1001");
        board.server.enqueue(FakeServer::LogsPath, FakeServer::error(500, 0, "down"));
        board.service->update();
        QTRY_COMPARE(pushes.count(), 1);
        QCOMPARE(TestDatabase::textColumn(unsentLogs), QStringList("1002"));
        board.service->update();
        QTRY_COMPARE(TestDatabase::textColumn(unsentLogs), QStringList());
    }

    // A tick during an upload is skipped; the upload marks only the rows it sent, and the
    // service's end waits for it.
    void uploadsNeverOverlap()
    {
        Uploads board;
        QVERIFY(board.signedIn && addLogRows(1, 1));
        board.server.enqueue(FakeServer::LogsPath, FakeServer::json({}).withDelay(500));
        board.service->update();
        QVERIFY(board.server.waitForRequests(FakeServer::LogsPath, 1));
        QVERIFY(addLogRows(2, 2));
        board.service->update();
        board.service.reset();
        QCOMPARE(TestDatabase::textColumn(unsentLogs), QStringList("2"));
        QCOMPARE(board.server.count(FakeServer::LogsPath), 1);
    }

    // Coming online uploads at once, an upload period of 0 takes the default, and a stopped
    // service waits for run() whatever the online state does.
    void uploadFollowsTheOnlineState()
    {
        Uploads board;
        LogConfig config;
        config.period_push_ms = 0;
        board.env.logConfig.set(config);
        board.service->run();
        TestDatabase::drainThreadPool(); // the first upload finds nothing to send
        board.env.isOnline.set(false);
        QVERIFY(board.signedIn && addLogRows(1, 1));
        board.env.isOnline.set(true);
        QTRY_COMPARE(TestDatabase::textColumn(unsentLogs), QStringList());
        const auto uploads = [&board] { return board.server.count(FakeServer::LogsPath); };
        QVERIFY(addLogRows(2, 2));
        QVERIFY(!QTest::qWaitFor([&] { return uploads() > 1; }, 300));
        board.service->stop();
        board.env.isOnline.set(false);
        board.env.isOnline.set(true);
        QVERIFY(!QTest::qWaitFor([&] { return uploads() > 1; }, 300));
        board.service->run();
        QTRY_COMPARE(TestDatabase::textColumn(unsentLogs), QStringList());
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
        QTest::newRow("not a number") << QJsonValue("abc") << qint64(0);
        QTest::newRow("a JSON fraction") << QJsonValue(1.5) << qint64(0);
        QTest::newRow("a JSON number outside int") << QJsonValue(3e9) << qint64(0);
        QTest::newRow("text outside int") << QJsonValue("3000000000") << qint64(0);
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
        QCOMPARE(TimerInterval::orDefault(5000, 30000), 5000);
        QCOMPARE(TimerInterval::orDefault(0, 30000), 30000);
        QCOMPARE(TimerInterval::orDefault(-1, 30000), 30000);
    }
};

QTEST_GUILESS_MAIN(TestServices)
#include "tst_services.moc"
