#include "core/appenv.h"
#include "services/kmapi/kmapiservice.h"
#include "services/kmapi/timezoneapi.h"
#include "shared/asynchttpreply.h"
#include "shared/kmapi.h"
#include "shared/kmapiexception.h"

#include "fakeserver.h"
#include "futurewait.h"
#include "testdatabase.h"
#include "testenvironment.h"

#include <QLoggingCategory>
#include <QSignalSpy>
#include <QTest>

namespace {

// The board, its API client and the service, wired to the server double as the command line
// ("--use-http", "--host") and the settings would do it.
struct Board
{
    Board(const FakeServer &server, int maxApiError = 6, int checkOnlineMs = 3600000)
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

// The texts of IService::error, "title / message" each.
QString errorsOf(const QSignalSpy &spy)
{
    QStringList out;
    for (const QList<QVariant> &args : spy)
        out.append(args.at(0).toString() + " / " + args.at(1).toString());
    return out.join(" | ");
}

} // namespace

// The point connection service: login with its offline allowance, the online check, the API
// error count and the device-clock check against the time-zone service, all on the double.
class TestKMApiService : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void init();
    void cleanup();

    void timeZoneExchange_data();
    void timeZoneExchange();
    void login_data();
    void login();
    void offlineChecksUntilOnline();
    void apiErrorThreshold();
    void clockCheck_data();
    void clockCheck();

private:
    std::unique_ptr<FakeServer> server;
};

void TestKMApiService::initTestCase()
{
    TestEnvironment::init();
    QLoggingCategory::setFilterRules(QStringLiteral("default.debug=false"));
    server = std::make_unique<FakeServer>();
    QVERIFY(server->isListening());
}

void TestKMApiService::init()
{
    server->resetAnswers();
    server->clearRequests();
    TimezoneApi::setServiceHost(server->timeZoneHost());
}

void TestKMApiService::cleanup()
{
    AsyncHttpReply::setTimeoutMs(0);
    TimezoneApi::setServiceHost(QString());
    TestDatabase::drainThreadPool();
}

void TestKMApiService::timeZoneExchange_data()
{
    QTest::addColumn<QString>("zone");
    QTest::addColumn<FakeServer::Answer>("answer");
    QTest::addColumn<QDateTime>("dateTime");
    const QDateTime wall(QDate(2026, 3, 1), QTime(9, 30, 15));
    QTest::newRow("plus sign stays a plus")
        << "Etc/GMT+3" << FakeServer::timeZone(wall, "Etc/GMT+3") << wall;
    QTest::newRow("not json") << "UTC" << FakeServer::raw("<html>ok</html>") << QDateTime();
    QTest::newRow("other time format")
        << "UTC" << FakeServer::json({ { "formatted", "01.03.2026 09:30" } }) << QDateTime();
}

void TestKMApiService::timeZoneExchange()
{
    QFETCH(QString, zone);
    QFETCH(FakeServer::Answer, answer);
    QFETCH(QDateTime, dateTime);

    server->setAnswer(FakeServer::TimeZonePath, answer);
    QFuture<TimezoneResponce> future = TimezoneApi().requestTime(zone);
    QVERIFY(waitFor(future));
    QCOMPARE(server->requests().size(), 1);
    QCOMPARE(server->requests()[0].method + server->requests()[0].path.toLatin1(),
        "GET" + QByteArray(FakeServer::TimeZonePath));
    const QList<QPair<QString, QString>> query { { "format", "json" }, { "by", "zone" },
        { "zone", zone }, { "key", "QX4BPW7NRK2M" } };
    QCOMPARE(server->requests()[0].queryItems(), query);
    QCOMPARE(future.result().dateTime(), dateTime);
    QCOMPARE(future.result().dateTime().timeSpec(), Qt::LocalTime);
    QVERIFY(dateTime.isValid() || !future.result().isDiffMoreOneHour()); // unreadable: no warning

    const QDateTime device(QDate(2026, 12, 6), QTime(12, 0, 0));
    const auto serviceAt = [&](qint64 secs) {
        const QString formatted = device.addSecs(secs).toString("yyyy-MM-dd hh:mm:ss");
        return TimezoneResponce(QJsonObject { { "formatted", formatted } });
    };
    QVERIFY(!serviceAt(3600).isDiffMoreOneHour(device));
    QVERIFY(serviceAt(-3601).isDiffMoreOneHour(device));
}

void TestKMApiService::login_data()
{
    QTest::addColumn<FakeServer::Answer>("answer");
    QTest::addColumn<qint64>("secsSinceSync"); // -1: never synchronised
    QTest::addColumn<QString>("expected"); // result, online flag, errors

    const FakeServer::Answer refused = FakeServer::error(403, 1003, "known device");
    const QString offline = "ok {} offline Не удалось подключиться к серверу / Работа в режиме "
                            "онлайн невозможна";
    const QString tooLong = "failed 1003 online Не удалось подключиться к серверу / Синхронизация "
                            "долго не проводилась. Работа в режиме офлайн невозможна";
    QTest::newRow("accepted") << FakeServer::token("a-1", "r-1", 3600) << qint64(-1)
                              << R"(ok {"access_token":"a-1","expires_in":3600,)"
                                 R"("refresh_token":"r-1","token_type":"Bearer"} online )";
    QTest::newRow("refused, synchronised exactly disable_period ago")
        << refused << qint64(86400) << offline;
    QTest::newRow("refused, synchronised a second too long ago")
        << refused << qint64(86401) << tooLong;
    QTest::newRow("refused, never synchronised") << refused << qint64(-1) << tooLong;
    QTest::newRow("no answer, synchronised recently")
        << FakeServer::silence() << qint64(10) << offline;
}

void TestKMApiService::login()
{
    QFETCH(FakeServer::Answer, answer);
    QFETCH(qint64, secsSinceSync);
    QFETCH(QString, expected);

    AsyncHttpReply::setTimeoutMs(300);
    Board board(*server);
    QSignalSpy logged(&board.service, &KMApiService::logged);
    QSignalSpy errors(&board.service, &IService::error);
    QVERIFY(logged.isValid() && errors.isValid());
    server->enqueue(FakeServer::TokenPath, answer);

    // At the boundary, start at the beginning of a second, so the test and the service read the
    // same whole second.
    if (secsSinceSync >= 86400)
        QVERIFY(QTest::qWaitFor([] { return QDateTime::currentMSecsSinceEpoch() % 1000 < 100; }));
    if (secsSinceSync >= 0)
        board.env.lastUpdate.set(QDateTime::currentSecsSinceEpoch() - secsSinceSync);
    const QString result = outcome(board.service.requestToken(server->domain()));
    QCOMPARE(result + (board.env.isOnline.value() ? " online " : " offline ") + errorsOf(errors),
        expected);
    QCOMPARE(logged.count(), board.service.isLogged() ? 1 : 0);
    QCOMPARE(board.service.isLogged(), result.startsWith("ok"));
    QCOMPARE(server->requests(FakeServer::TokenPath)[0].json()["uuid"].toString(), "dev-uuid");
}

// Offline, the check timer keeps trying silently, also after stop(); the check that gets through
// brings the board online, stores its token and ends the checks. A later login is announced.
void TestKMApiService::offlineChecksUntilOnline()
{
    Board board(*server, 6, 100);
    board.env.lastUpdate.set(QDateTime::currentSecsSinceEpoch());
    server->setAnswer(FakeServer::TokenPath, FakeServer::htmlError(502));
    QSignalSpy logged(&board.service, &KMApiService::logged);
    QVERIFY(logged.isValid());
    QCOMPARE(outcome(board.service.requestToken(server->domain())), "ok {}");
    QVERIFY(!board.env.isOnline.value() && board.service.isLogged());

    QSignalSpy errors(&board.service, &IService::error);
    QSignalSpy onlineChanged(&board.env.isOnline, &PrivateEnvVariable::changed);
    QVERIFY(errors.isValid() && onlineChanged.isValid());
    QVERIFY(server->waitForRequests(FakeServer::TokenPath, 3));
    board.service.stop();
    QVERIFY(!board.service.isLogged());
    QVERIFY(
        server->waitForRequests(FakeServer::TokenPath, server->count(FakeServer::TokenPath) + 2));
    QCOMPARE(errors.count() + onlineChanged.count(), 0);

    server->resetAnswers();
    QTRY_VERIFY(board.env.isOnline.value());
    QVERIFY(!server->waitForRequests(
        FakeServer::TokenPath, server->count(FakeServer::TokenPath) + 1, 400));
    QCOMPARE(outcome(board.api.requestSendLogs({})), "ok {}");
    QVERIFY(server->requests(FakeServer::LogsPath)[0]
                .header("Authorization")
                .startsWith("Bearer access-"));
    QVERIFY(outcome(board.service.requestToken(server->domain())).startsWith("ok"));
    QCOMPARE(onlineChanged.count(), 1);
    QCOMPARE(logged.count(), 2);
}

// Failed API calls count up to max_api_error; each call at or past it reports going offline, and
// a check that gets through starts the count again.
void TestKMApiService::apiErrorThreshold()
{
    Board board(*server, 2, 100);
    QVERIFY(outcome(board.service.requestToken(server->domain())).startsWith("ok"));
    QSignalSpy errors(&board.service, &IService::error);
    QVERIFY(errors.isValid());
    server->setAnswer(FakeServer::SyncPath, FakeServer::error(500, 2, "broken"));
    server->setAnswer(FakeServer::TokenPath, FakeServer::htmlError(502)); // checks fail too
    const auto failOnce = [&](bool online, int count) {
        QCOMPARE(outcome(board.api.requestSyncDB({}, 0)), "failed 2");
        QTRY_COMPARE(errors.count(), count); // the count arrives queued
        QCOMPARE(board.env.isOnline.value(), online);
    };
    failOnce(true, 0);
    failOnce(false, 1);
    failOnce(false, 2);
    QVERIFY(errorsOf(errors).endsWith("Программа переходит в режим офлайн"));

    server->resetAnswers();
    server->setAnswer(FakeServer::SyncPath, FakeServer::error(500, 2, "broken"));
    QTRY_VERIFY(board.env.isOnline.value());
    failOnce(true, 2);
    failOnce(false, 3);
}

void TestKMApiService::clockCheck_data()
{
    QTest::addColumn<QString>("zone");
    QTest::addColumn<FakeServer::Answer>("answer"); // no body: the double's own answer
    QTest::addColumn<QString>("expected"); // the error titles, then the failure pushes

    const QDateTime now = QDateTime::currentDateTime();
    const QString wrong = "Неправильно установлено время!";
    QTest::newRow("right time") << "UTC" << FakeServer::Answer() << "|";
    QTest::newRow("device two hours behind")
        << "UTC" << FakeServer::timeZone(now.addSecs(7200), "UTC") << wrong + '|';
    // The device runs on UTC while the point is six hours east: its wall clock is wrong there.
    QTest::newRow("device in another zone") << "Asia/Omsk" << FakeServer::Answer() << wrong + '|';
    QTest::newRow("unreadable answer") << "UTC" << FakeServer::raw("not json") << "|";
    QTest::newRow("service error")
        << "UTC" << FakeServer::htmlError(500) << "|Не удалось получить текущую дату";
    QTest::newRow("unreachable") << "UTC" << FakeServer::closeConnection()
                                 << "|Не удалось получить текущую дату";
}

void TestKMApiService::clockCheck()
{
    QFETCH(QString, zone);
    QFETCH(FakeServer::Answer, answer);
    QFETCH(QString, expected);

    Board board(*server);
    PointConfig point;
    point.id = 7; // a record equal to the held one in its JSON form would not be taken
    point.timezone = zone;
    board.env.pointConfig.set(point);
    if (answer.mode != FakeServer::Answer::Mode::Reply || !answer.body.isEmpty())
        server->setAnswer(FakeServer::TimeZonePath, answer);
    QSignalSpy errors(&board.service, &IService::error);
    QSignalSpy pushes(&board.service, &IService::push);
    QVERIFY(errors.isValid() && pushes.isValid());

    board.service.run();
    QVERIFY(server->waitForRequests(FakeServer::TimeZonePath, 1));
    TestDatabase::drainThreadPool(); // the check ends on a pool thread
    QStringList titles, failures;
    for (const QList<QVariant> &args : errors)
        titles << args[0].toString();
    for (const QList<QVariant> &args : pushes)
        failures << (args[0].value<PushType>() == PushFailure ? args[1].toString() : "other");
    QCOMPARE(titles.join(',') + '|' + failures.join(','), expected);
    QVERIFY(errors.isEmpty() || errors[0][1].toString().startsWith("Действительное время: "));
    QVERIFY(board.env.isOnline.value() && !board.service.isLogged());
}

QTEST_GUILESS_MAIN(TestKMApiService)
#include "tst_kmapiservice.moc"
