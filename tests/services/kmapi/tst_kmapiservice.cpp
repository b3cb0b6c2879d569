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

#include <QDateTime>
#include <QLoggingCategory>
#include <QSignalSpy>
#include <QTest>

namespace {

const QString noConnection = QStringLiteral("Не удалось подключиться к серверу / ");
const QString offlineImpossible
    = QStringLiteral("Синхронизация долго не проводилась. Работа в режиме офлайн невозможна");
const QString onlineImpossible = QStringLiteral("Работа в режиме онлайн невозможна");

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

// "ok <object>", "failed <server code>" or "network <error>".
QString outcome(const APIFuture &future)
{
    if (!waitFor(future))
        return QStringLiteral("still running");
    try {
        return QStringLiteral("ok ")
            + QJsonDocument(future.result()).toJson(QJsonDocument::Compact);
    } catch (const KMAPIException &e) {
        return QStringLiteral("failed %1").arg(e.code());
    } catch (const NetworkException &e) {
        return QStringLiteral("network %1").arg(int(e.networkError()));
    }
}

QStringList messages(const QSignalSpy &spy)
{
    QStringList out;
    for (const QList<QVariant> &args : spy)
        out.append(args.at(0).toString() + QStringLiteral(" / ") + args.at(1).toString());
    return out;
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
    QTest::newRow("region") << "Asia/Omsk" << FakeServer::timeZone(wall, "Asia/Omsk") << wall;
    QTest::newRow("plus sign stays a plus")
        << "Etc/GMT+3" << FakeServer::timeZone(wall, "Etc/GMT+3") << wall;
    QTest::newRow("not json") << "UTC" << FakeServer::raw("<html>ok</html>", 200, "text/html")
                              << QDateTime();
    QTest::newRow("other time format")
        << "UTC" << FakeServer::json({ { "formatted", "01.03.2026 09:30" }, { "zoneName", "UTC" } })
        << QDateTime();
}

void TestKMApiService::timeZoneExchange()
{
    QFETCH(QString, zone);
    QFETCH(FakeServer::Answer, answer);
    QFETCH(QDateTime, dateTime);

    server->setAnswer(FakeServer::TimeZonePath, answer);
    QFuture<TimezoneResponce> future = TimezoneApi().requestTime(zone);
    QVERIFY(waitFor(future));
    const QList<RecordedRequest> requests = server->requests();
    QCOMPARE(requests.size(), 1);
    QCOMPARE(requests[0].method + ' ' + requests[0].path.toLatin1(),
        "GET " + QByteArray(FakeServer::TimeZonePath));
    const QList<QPair<QString, QString>> query { { "format", "json" }, { "by", "zone" },
        { "zone", zone }, { "key", "QX4BPW7NRK2M" } };
    QCOMPARE(requests[0].queryItems(), query);
    QCOMPARE(future.result().dateTime(), dateTime);
    QCOMPARE(future.result().dateTime().timeSpec(), Qt::LocalTime);
    if (!dateTime.isValid())
        QVERIFY(!future.result().isDiffMoreOneHour()); // no warning from an unreadable answer

    const QDateTime device(QDate(2026, 12, 6), QTime(12, 0, 0));
    const auto serviceAt = [&](qint64 secs) {
        return TimezoneResponce(QJsonObject { { "formatted",
            device.addSecs(secs).toString(QStringLiteral("yyyy-MM-dd hh:mm:ss")) } });
    };
    QVERIFY(!serviceAt(3600).isDiffMoreOneHour(device));
    QVERIFY(serviceAt(-3601).isDiffMoreOneHour(device));
}

void TestKMApiService::login_data()
{
    QTest::addColumn<FakeServer::Answer>("answer");
    QTest::addColumn<qint64>("secsSinceSync"); // -1: never synchronised
    QTest::addColumn<QString>("result");
    QTest::addColumn<bool>("online");
    QTest::addColumn<QStringList>("errors");

    const FakeServer::Answer refused = FakeServer::error(403, 1003, "known device");
    QTest::newRow("accepted")
        << FakeServer::token("a-1", "r-1", 3600) << qint64(-1)
        << R"(ok {"access_token":"a-1","expires_in":3600,"refresh_token":"r-1","token_type":"Bearer"})"
        << true << QStringList();
    QTest::newRow("refused, synchronised exactly disable_period ago")
        << refused << qint64(86400) << "ok {}" << false
        << QStringList { noConnection + onlineImpossible };
    QTest::newRow("refused, synchronised a second too long ago")
        << refused << qint64(86401) << "failed 1003" << true
        << QStringList { noConnection + offlineImpossible };
    QTest::newRow("refused, never synchronised")
        << refused << qint64(-1) << "failed 1003" << true
        << QStringList { noConnection + offlineImpossible };
    QTest::newRow("no answer, synchronised recently")
        << FakeServer::silence() << qint64(10) << "ok {}" << false
        << QStringList { noConnection + onlineImpossible };
}

void TestKMApiService::login()
{
    QFETCH(FakeServer::Answer, answer);
    QFETCH(qint64, secsSinceSync);
    QFETCH(QString, result);
    QFETCH(bool, online);
    QFETCH(QStringList, errors);

    AsyncHttpReply::setTimeoutMs(300);
    Board board(*server);
    QSignalSpy logged(&board.service, &KMApiService::logged);
    QSignalSpy errorSpy(&board.service, &IService::error);
    QVERIFY(logged.isValid() && errorSpy.isValid());
    server->enqueue(FakeServer::TokenPath, answer);

    // Start of a second, so the test and the service read the same whole second.
    QVERIFY(QTest::qWaitFor([] { return QDateTime::currentMSecsSinceEpoch() % 1000 < 100; }, 2000));
    if (secsSinceSync >= 0)
        board.env.lastUpdate.set(QDateTime::currentSecsSinceEpoch() - secsSinceSync);
    QCOMPARE(outcome(board.service.requestToken(server->domain())), result);
    QCOMPARE(board.env.isOnline.value(), online);
    QCOMPARE(logged.count(), result.startsWith("ok") ? 1 : 0);
    QCOMPARE(board.service.isLogged(), result.startsWith("ok"));
    QCOMPARE(messages(errorSpy), errors);
    QCOMPARE(
        server->requests(FakeServer::TokenPath).value(0).json()["uuid"].toString(), "dev-uuid");
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

    QSignalSpy errorSpy(&board.service, &IService::error);
    QSignalSpy onlineChanged(&board.env.isOnline, &PrivateEnvVariable::changed);
    QVERIFY(errorSpy.isValid() && onlineChanged.isValid());
    QVERIFY(server->waitForRequests(FakeServer::TokenPath, 3));
    board.service.stop();
    QVERIFY(!board.service.isLogged());
    QVERIFY(
        server->waitForRequests(FakeServer::TokenPath, server->count(FakeServer::TokenPath) + 2));
    QCOMPARE(errorSpy.count() + onlineChanged.count(), 0);

    server->resetAnswers();
    QTRY_VERIFY(board.env.isOnline.value());
    const int checks = server->count(FakeServer::TokenPath);
    QVERIFY(!server->waitForRequests(FakeServer::TokenPath, checks + 1, 400));
    QCOMPARE(outcome(board.api.requestSendLogs({})), "ok {}");
    QVERIFY(server->requests(FakeServer::LogsPath)[0]
                .header("Authorization")
                .startsWith("Bearer access-"));

    QCOMPARE(outcome(board.service.requestToken(server->domain())).left(2), "ok");
    QCOMPARE(onlineChanged.count(), 1);
    QCOMPARE(logged.count(), 2);
}

// Failed API calls count up to max_api_error; each call at or past it reports going offline, and
// a check that gets through starts the count again.
void TestKMApiService::apiErrorThreshold()
{
    Board board(*server, 2, 100);
    QCOMPARE(outcome(board.service.requestToken(server->domain())).left(2), "ok");
    QSignalSpy errorSpy(&board.service, &IService::error);
    QVERIFY(errorSpy.isValid());
    server->setAnswer(FakeServer::SyncPath, FakeServer::error(500, 2, "broken"));
    server->setAnswer(FakeServer::TokenPath, FakeServer::htmlError(502)); // checks fail too
    const auto failOnce = [&](bool online, int errors) {
        QCOMPARE(outcome(board.api.requestSyncDB({}, 0)), "failed 2");
        QTRY_COMPARE(errorSpy.count(), errors); // the count arrives queued
        QCOMPARE(board.env.isOnline.value(), online);
    };
    failOnce(true, 0);
    failOnce(false, 1);
    failOnce(false, 2);
    QCOMPARE(messages(errorSpy).last(), noConnection + "Программа переходит в режим офлайн");

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
    QTest::addColumn<bool>("reachable");
    QTest::addColumn<bool>("warns");
    QTest::addColumn<bool>("fails");

    const QDateTime now = QDateTime::currentDateTime();
    QTest::newRow("right time") << "UTC" << FakeServer::Answer() << true << false << false;
    QTest::newRow("device two hours behind")
        << "UTC" << FakeServer::timeZone(now.addSecs(7200), "UTC") << true << true << false;
    // The device runs on UTC while the point is six hours east: its wall clock is wrong there.
    QTest::newRow("device in another zone")
        << "Asia/Omsk" << FakeServer::Answer() << true << true << false;
    QTest::newRow("unreadable answer")
        << "UTC" << FakeServer::raw("not json") << true << false << false;
    QTest::newRow("service error") << "UTC" << FakeServer::htmlError(500) << true << false << true;
    QTest::newRow("unreachable") << "UTC" << FakeServer::Answer() << false << false << true;
}

void TestKMApiService::clockCheck()
{
    QFETCH(QString, zone);
    QFETCH(FakeServer::Answer, answer);
    QFETCH(bool, reachable);
    QFETCH(bool, warns);
    QFETCH(bool, fails);

    Board board(*server);
    PointConfig point;
    point.id = 7; // a record equal to the held one in its JSON form would not be taken
    point.timezone = zone;
    board.env.pointConfig.set(point);
    if (!reachable)
        TimezoneApi::setServiceHost(QStringLiteral("127.0.0.1:%1").arg(FakeServer::unusedPort()));
    else if (!answer.body.isEmpty())
        server->setAnswer(FakeServer::TimeZonePath, answer);
    QSignalSpy errorSpy(&board.service, &IService::error);
    QSignalSpy pushSpy(&board.service, &IService::push);
    QVERIFY(errorSpy.isValid() && pushSpy.isValid());

    board.service.run();
    if (reachable)
        QVERIFY(server->waitForRequests(FakeServer::TimeZonePath, 1));
    TestDatabase::drainThreadPool(); // the check ends on a pool thread

    QCOMPARE(errorSpy.count(), warns ? 1 : 0);
    if (warns) {
        QCOMPARE(errorSpy[0][0].toString(), "Неправильно установлено время!");
        QVERIFY(errorSpy[0][1].toString().startsWith("Действительное время: "));
    }
    QCOMPARE(pushSpy.count(), fails ? 1 : 0);
    if (fails)
        QCOMPARE(pushSpy[0][0].value<PushType>(), PushFailure);
    QCOMPARE(board.env.isOnline.value(), true);
    QVERIFY(!board.service.isLogged());
}

QTEST_GUILESS_MAIN(TestKMApiService)
#include "tst_kmapiservice.moc"
