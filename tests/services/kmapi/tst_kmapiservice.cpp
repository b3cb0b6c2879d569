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

const QString noConnection = QStringLiteral("Не удалось подключиться к серверу");
const QString offlineImpossible
    = QStringLiteral("Синхронизация долго не проводилась. Работа в режиме офлайн невозможна");
const QString onlineImpossible = QStringLiteral("Работа в режиме онлайн невозможна");
const QString goingOffline = QStringLiteral("Программа переходит в режим офлайн");

// The board, its API client and the service, wired to the server double as the command line
// ("--use-http", "--host") and the settings would do it.
struct Board
{
    explicit Board(const FakeServer &server)
    {
        env.useHttps.set(false);
        env.host.set(server.host());
        env.uuid.set(QStringLiteral("dev-uuid"));
        env.domain.set(server.domain());
    }

    void configure(int maxApiError, int checkOnlineMs, qint64 disablePeriodSecs)
    {
        QueueConfig queue = env.queueConfig.value();
        queue.max_api_error = maxApiError;
        queue.check_online_timeout = checkOnlineMs;
        env.queueConfig.set(queue);
        CommonConfig common = env.commonConfig.value();
        common.disable_period = disablePeriodSecs;
        env.commonConfig.set(common);
    }

    AppEnv env;
    KMAPI api;
    KMApiService service { &env, &api };
};

// "ok <object>" or "failed <server code>".
QString outcome(APIFuture future)
{
    try {
        future.waitForFinished();
        return QStringLiteral("ok ")
            + QJsonDocument(future.result()).toJson(QJsonDocument::Compact);
    } catch (const KMAPIException &e) {
        return QStringLiteral("failed %1").arg(e.code());
    } catch (const NetworkException &e) {
        return QStringLiteral("network %1").arg(int(e.networkError()));
    } catch (...) {
        return QStringLiteral("other");
    }
}

QStringList messages(const QSignalSpy &spy)
{
    QStringList out;
    for (const QList<QVariant> &args : spy)
        out.append(args.at(0).toString() + QStringLiteral(" / ") + args.at(1).toString());
    return out;
}

// Waits until the current second has just begun, so a test can compare whole seconds with the
// service's own reading of the clock.
[[nodiscard]] bool alignToSecondStart()
{
    return QTest::qWaitFor([] { return QDateTime::currentMSecsSinceEpoch() % 1000 < 100; }, 2000);
}

} // namespace

class TestKMApiService : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void init();
    void cleanup();

    void login_data();
    void login();
    void offlineLoginReturnsOnlineWithoutSecondLogged();
    void offlineChecksAndStop();
    void apiErrorThreshold();
    void registrationPassesThrough();
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

void TestKMApiService::login_data()
{
    QTest::addColumn<FakeServer::Answer>("answer");
    QTest::addColumn<qint64>("secsSinceSync"); // -1: never synchronised
    QTest::addColumn<QString>("result");
    QTest::addColumn<bool>("online");
    QTest::addColumn<int>("loggedCount");
    QTest::addColumn<QStringList>("errors");

    const qint64 day = 86400;
    const FakeServer::Answer refused = FakeServer::error(403, 1003, "known device");
    const FakeServer::Answer accepted = FakeServer::token("a-1", "r-1", 3600);
    const QString tokenJson
        = R"({"access_token":"a-1","expires_in":3600,"refresh_token":"r-1","token_type":"Bearer"})";

    QTest::newRow("accepted") << accepted << qint64(-1) << "ok " + tokenJson << true << 1
                              << QStringList();
    QTest::newRow("refused, synchronised exactly disable_period ago")
        << refused << day << QStringLiteral("ok {}") << false << 1
        << QStringList { noConnection + " / " + onlineImpossible };
    QTest::newRow("refused, synchronised a second too long ago")
        << refused << day + 1 << QStringLiteral("failed 1003") << true << 0
        << QStringList { noConnection + " / " + offlineImpossible };
    QTest::newRow("refused, never synchronised")
        << refused << qint64(-1) << QStringLiteral("failed 1003") << true << 0
        << QStringList { noConnection + " / " + offlineImpossible };
    QTest::newRow("no answer, synchronised recently")
        << FakeServer::silence() << qint64(10) << QStringLiteral("ok {}") << false << 1
        << QStringList { noConnection + " / " + onlineImpossible };
}

void TestKMApiService::login()
{
    QFETCH(FakeServer::Answer, answer);
    QFETCH(qint64, secsSinceSync);
    QFETCH(QString, result);
    QFETCH(bool, online);
    QFETCH(int, loggedCount);
    QFETCH(QStringList, errors);

    AsyncHttpReply::setTimeoutMs(300);
    Board board(*server);
    board.configure(6, 3600000, 86400);
    QSignalSpy logged(&board.service, &KMApiService::logged);
    QSignalSpy errorSpy(&board.service, &IService::error);
    QVERIFY(logged.isValid() && errorSpy.isValid());
    server->enqueue(FakeServer::TokenPath, answer);

    QVERIFY(alignToSecondStart());
    if (secsSinceSync >= 0)
        board.env.lastUpdate.set(QDateTime::currentSecsSinceEpoch() - secsSinceSync);
    APIFuture token = board.service.requestToken(server->domain());
    QVERIFY(waitFor(token));

    QCOMPARE(outcome(token), result);
    QCOMPARE(board.env.isOnline.value(), online);
    QCOMPARE(logged.count(), loggedCount);
    QCOMPARE(board.service.isLogged(), loggedCount > 0);
    QCOMPARE(messages(errorSpy), errors);
    // The service's client follows the environment's address and device id.
    QCOMPARE(server->requests(FakeServer::TokenPath).value(0).json()["uuid"].toString(),
        QStringLiteral("dev-uuid"));
}

void TestKMApiService::offlineLoginReturnsOnlineWithoutSecondLogged()
{
    Board board(*server);
    board.configure(6, 150, 86400);
    board.env.lastUpdate.set(QDateTime::currentSecsSinceEpoch());
    QSignalSpy logged(&board.service, &KMApiService::logged);
    QSignalSpy onlineChanged(&board.env.isOnline, &PrivateEnvVariable::changed);
    QVERIFY(logged.isValid() && onlineChanged.isValid());
    // The login and the first check fail; the second check gets through.
    server->enqueue(FakeServer::TokenPath, FakeServer::htmlError(502));
    server->enqueue(FakeServer::TokenPath, FakeServer::htmlError(502));

    APIFuture token = board.service.requestToken(server->domain());
    QVERIFY(waitFor(token));
    QCOMPARE(outcome(token), QStringLiteral("ok {}"));
    QCOMPARE(board.env.isOnline.value(), false);

    QTRY_VERIFY_WITH_TIMEOUT(board.env.isOnline.value(), 5000);
    QCOMPARE(server->count(FakeServer::TokenPath), 3);
    QCOMPARE(logged.count(), 1);
    QCOMPARE(onlineChanged.count(), 2); // offline, then online again
    // The timer stopped with the successful check.
    QTest::qWait(500);
    QCOMPARE(server->count(FakeServer::TokenPath), 3);
    // The check stored the new token: uploads carry it.
    APIFuture logs = board.api.requestSendLogs({});
    QVERIFY(waitFor(logs));
    QVERIFY(server->requests(FakeServer::LogsPath)
                .first()
                .header("Authorization")
                .startsWith("Bearer access-"));
}

// While offline the check timer keeps trying: failed checks stay silent, stop() ends the login
// but not the checks, and a login while already online changes no flag but is still announced.
void TestKMApiService::offlineChecksAndStop()
{
    Board board(*server);
    board.configure(6, 100, 86400);
    board.env.lastUpdate.set(QDateTime::currentSecsSinceEpoch());
    server->setAnswer(FakeServer::TokenPath, FakeServer::error(500, 1, "down"));
    APIFuture token = board.service.requestToken(server->domain());
    QVERIFY(waitFor(token));
    QVERIFY(!board.env.isOnline.value() && board.service.isLogged());

    QSignalSpy errorSpy(&board.service, &IService::error);
    QSignalSpy onlineChanged(&board.env.isOnline, &PrivateEnvVariable::changed);
    QSignalSpy logged(&board.service, &KMApiService::logged);
    QVERIFY(errorSpy.isValid() && onlineChanged.isValid() && logged.isValid());
    QVERIFY(server->waitForRequests(FakeServer::TokenPath, 4));
    board.service.stop();
    QVERIFY(!board.service.isLogged());
    QVERIFY(
        server->waitForRequests(FakeServer::TokenPath, server->count(FakeServer::TokenPath) + 2));
    QCOMPARE(errorSpy.count() + onlineChanged.count() + logged.count(), 0);
    QVERIFY(!board.env.isOnline.value());

    server->resetAnswers();
    QTRY_VERIFY(board.env.isOnline.value());
    onlineChanged.clear();
    APIFuture again = board.service.requestToken(server->domain());
    QVERIFY(waitFor(again));
    QCOMPARE(onlineChanged.count(), 0);
    QCOMPARE(logged.count(), 1);
    QVERIFY(board.service.isLogged());
}

// Failed API calls count up to max_api_error; each call at or past it reports going offline,
// and a check that gets through starts the count again.
void TestKMApiService::apiErrorThreshold()
{
    Board board(*server);
    board.configure(2, 100, 86400);
    APIFuture token = board.service.requestToken(server->domain());
    QVERIFY(waitFor(token));
    QSignalSpy errorSpy(&board.service, &IService::error);
    QVERIFY(errorSpy.isValid());
    server->setAnswer(FakeServer::SyncPath, FakeServer::error(500, 2, "broken"));
    server->setAnswer(FakeServer::TokenPath, FakeServer::htmlError(502)); // checks fail too
    const auto failOnce = [&](bool online, int errors) {
        APIFuture sync = board.api.requestSyncDB({}, 0);
        QVERIFY(waitFor(sync));
        QVERIFY(outcome(sync).startsWith(QStringLiteral("failed")));
        QTest::qWait(50); // the count arrives queued
        QCOMPARE(errorSpy.count(), errors);
        QCOMPARE(board.env.isOnline.value(), online);
    };

    failOnce(true, 0);
    failOnce(false, 1);
    failOnce(false, 2);
    QCOMPARE(messages(errorSpy).last(), noConnection + " / " + goingOffline);

    server->resetAnswers();
    server->setAnswer(FakeServer::SyncPath, FakeServer::error(500, 2, "broken"));
    QTRY_VERIFY(board.env.isOnline.value()); // the check got through
    failOnce(true, 2);
    failOnce(false, 3);
}

void TestKMApiService::registrationPassesThrough()
{
    Board board(*server);
    QSignalSpy logged(&board.service, &KMApiService::logged);
    QVERIFY(logged.isValid());
    server->enqueue(FakeServer::RegistrationPath, FakeServer::error(409, 1002, "sent already"));
    APIFuture refused = board.service.requestRegistration(server->domain());
    QVERIFY(waitFor(refused));
    QCOMPARE(outcome(refused), QStringLiteral("failed 1002"));

    APIFuture accepted = board.service.requestRegistration(server->domain());
    QVERIFY(waitFor(accepted));
    QVERIFY(outcome(accepted).startsWith(QStringLiteral("ok ")));
    QCOMPARE(server->requests(FakeServer::RegistrationPath).last().json()["uuid"].toString(),
        QStringLiteral("dev-uuid"));
    QCOMPARE(logged.count(), 0);
    QVERIFY(!board.service.isLogged());
    QCOMPARE(board.env.isOnline.value(), true);
}

void TestKMApiService::clockCheck_data()
{
    QTest::addColumn<QString>("zone");
    QTest::addColumn<FakeServer::Answer>("answer");
    QTest::addColumn<bool>("reachable");
    QTest::addColumn<QString>("errorTitle");
    QTest::addColumn<int>("pushes");

    const QDateTime now = QDateTime::currentDateTime();
    QTest::newRow("right time") << QStringLiteral("UTC") << FakeServer::timeZone(now, "UTC") << true
                                << QString() << 0;
    QTest::newRow("device two hours behind")
        << QStringLiteral("UTC") << FakeServer::timeZone(now.addSecs(7200), "UTC") << true
        << QStringLiteral("Неправильно установлено время!") << 0;
    // The device runs on UTC; the point is six hours east, so its wall clock differs although
    // the device's UTC time is right.
    QTest::newRow("device in another zone")
        << QStringLiteral("Asia/Omsk") << FakeServer::Answer() << true
        << QStringLiteral("Неправильно установлено время!") << 0;
    QTest::newRow("unreadable answer")
        << QStringLiteral("UTC") << FakeServer::raw("not json") << true << QString() << 0;
    QTest::newRow("service error")
        << QStringLiteral("UTC") << FakeServer::htmlError(500) << true << QString() << 1;
    QTest::newRow("unreachable") << QStringLiteral("UTC") << FakeServer::Answer() << false
                                 << QString() << 1;
}

void TestKMApiService::clockCheck()
{
    QFETCH(QString, zone);
    QFETCH(FakeServer::Answer, answer);
    QFETCH(bool, reachable);
    QFETCH(QString, errorTitle);
    QFETCH(int, pushes);

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

    QCOMPARE(errorSpy.count(), errorTitle.isEmpty() ? 0 : 1);
    if (!errorTitle.isEmpty()) {
        QCOMPARE(errorSpy.first().at(0).toString(), errorTitle);
        QVERIFY(
            errorSpy.first().at(1).toString().startsWith(QStringLiteral("Действительное время: ")));
        QVERIFY(errorSpy.first().at(1).toString().contains(QStringLiteral(". На устройстве: ")));
    }
    QCOMPARE(pushSpy.count(), pushes);
    if (pushes > 0) {
        QCOMPARE(pushSpy.first().at(0).value<PushType>(), PushFailure);
        QCOMPARE(
            pushSpy.first().at(1).toString(), QStringLiteral("Не удалось получить текущую дату"));
    }
    QCOMPARE(board.env.isOnline.value(), true);
    QVERIFY(!board.service.isLogged());
}

QTEST_GUILESS_MAIN(TestKMApiService)
#include "tst_kmapiservice.moc"
