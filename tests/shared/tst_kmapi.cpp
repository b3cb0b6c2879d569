#include "shared/asynchttpreply.h"
#include "shared/kmapi.h"
#include "shared/kmapiexception.h"
#include "shared/networkexception.h"

#include "fakeserver.h"
#include "futurewait.h"
#include "testdatabase.h"
#include "testenvironment.h"

#include <QDateTime>
#include <QJsonArray>
#include <QJsonDocument>
#include <QLoggingCategory>
#include <QSignalSpy>
#include <QSysInfo>
#include <QTest>
#include <QtConcurrent>

#include <functional>

namespace {

using Call = std::function<APIFuture(KMAPI &)>;

// The exception a finished future failed with; null when it succeeded.
std::exception_ptr failureOf(APIFuture future)
{
    try {
        future.waitForFinished();
        future.result();
    } catch (...) {
        return std::current_exception();
    }
    return nullptr;
}

// Outcomes as texts that compare at a glance: "success", "kmapi <network error> <server code>"
// or "network <network error>".
const QString success = QStringLiteral("success");

QString network(QNetworkReply::NetworkError error)
{
    return QStringLiteral("network %1").arg(int(error));
}

QString serverError(QNetworkReply::NetworkError error, int code)
{
    return QStringLiteral("kmapi %1 %2").arg(int(error)).arg(code);
}

QString describe(const std::exception_ptr &failure)
{
    if (!failure)
        return success;
    try {
        std::rethrow_exception(failure);
    } catch (const KMAPIException &e) {
        return serverError(e.networkError(), e.code());
    } catch (const NetworkException &e) {
        return network(e.networkError());
    } catch (...) {
        return QStringLiteral("other");
    }
}

// Waits for a request with the event loop running; "success", or what its failure was.
QString outcome(const APIFuture &future)
{
    if (!waitFor(future))
        return QStringLiteral("still running");
    return describe(failureOf(future));
}

QList<QByteArray> ourHeaders(const RecordedRequest &request)
{
    static const QList<QByteArray> ours { "authorization", "x-version-name", "x-version-code",
        "x-os", "x-model", "x-architecture", "x-app" };
    QList<QByteArray> names;
    for (const QByteArray &name : request.headerNames()) {
        if (ours.contains(name))
            names.append(name);
    }
    return names;
}

} // namespace

class TestKMAPI : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void init();
    void cleanup();

    void buildsAccountUrl();
    void wireFormat_data();
    void wireFormat();
    void tokenLifetimeIsStored();
    void loginStoresDomainEvenWhenRefused();
    void expiredTokenRefreshesFirst_data();
    void expiredTokenRefreshesFirst();
    void refreshedTokenStillExpiredIsNotRefreshedAgain();
    void failedRefreshSendsNothingAndCountsNothing();
    void errorMapping_data();
    void errorMapping();
    void domainThatLeavesTheServerIsRefused_data();
    void domainThatLeavesTheServerIsRefused();
    void parallelRequestsFromPoolThreads();

private:
    void pointAtServer(KMAPI &api);
    void login(KMAPI &api);

    std::unique_ptr<FakeServer> server;
};

void TestKMAPI::initTestCase()
{
    TestEnvironment::init();
    QLoggingCategory::setFilterRules(QStringLiteral("default.debug=false"));
    server = std::make_unique<FakeServer>();
    QVERIFY(server->isListening());
}

void TestKMAPI::init()
{
    server->resetAnswers();
    server->clearRequests();
}

void TestKMAPI::cleanup()
{
    AsyncHttpReply::setTimeoutMs(0);
    TestDatabase::drainThreadPool();
}

// Also gives the client the double's domain, as a registration request does, without a token.
void TestKMAPI::pointAtServer(KMAPI &api)
{
    api.useHttps(false);
    api.setHost(server->host());
    QVERIFY(waitFor(api.requestRegistration(server->domain(), QStringLiteral("dev-0"))));
    server->clearRequests();
}

void TestKMAPI::login(KMAPI &api)
{
    server->enqueue(FakeServer::TokenPath, FakeServer::token("access-1", "refresh-1"));
    QCOMPARE(outcome(api.requestToken(server->domain(), QStringLiteral("dev-1"))), success);
    server->clearRequests();
}

void TestKMAPI::buildsAccountUrl()
{
    KMAPI api;
    pointAtServer(api); // the domain arrives with a request
    api.setHost(QStringLiteral("example.org:8080"));
    QCOMPARE(api.buildUrl(QStringLiteral("/logs")),
        QUrl(QStringLiteral("http://127.example.org:8080/terminal/v1/logs")));
    api.useHttps(true);
    api.setHost(QStringLiteral("kolmira.ru"));
    QCOMPARE(api.buildUrl(QStringLiteral("/sync-db")),
        QUrl(QStringLiteral("https://127.kolmira.ru/terminal/v1/sync-db")));
}

void TestKMAPI::wireFormat_data()
{
    QTest::addColumn<Call>("call");
    QTest::addColumn<QString>("path");
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<QByteArray>("query");
    QTest::addColumn<bool>("bearer");

    QTest::newRow("login") << Call([](KMAPI &api) {
        return api.requestToken(QStringLiteral("127"), QStringLiteral("dev-2"));
    }) << FakeServer::TokenPath
                           << QByteArray(R"({"grant_type":"uuid","uuid":"dev-2"})") << QByteArray()
                           << false;
    QTest::newRow("refresh") << Call([](KMAPI &api) { return api.requestRefresh(); })
                             << FakeServer::TokenPath
                             << QByteArray(
                                    R"({"grant_type":"refresh_token","refresh_token":"refresh-1"})")
                             << QByteArray() << false;
    QTest::newRow("registration") << Call([](KMAPI &api) {
        return api.requestRegistration(QStringLiteral("127"), QStringLiteral("dev-3"));
    }) << FakeServer::RegistrationPath
                                  << QByteArray(R"({"uuid":"dev-3"})") << QByteArray() << false;
    QTest::newRow("sync with tables") << Call([](KMAPI &api) {
        return api.requestSyncDB(QJsonObject(), 1700000000,
            { QStringLiteral("config"), QStringLiteral("order_status") });
    }) << FakeServer::SyncPath << QByteArray("{}")
                                      << QByteArray(
                                             "return_only[]=config&return_only[]=order_status"
                                             "&updated_after=1700000000")
                                      << true;
    QTest::newRow("sync without tables") << Call([](KMAPI &api) {
        return api.requestSyncDB(QJsonObject { { QStringLiteral("a"), 1 } }, 0);
    }) << FakeServer::SyncPath << QByteArray(R"({"a":1})")
                                         << QByteArray("updated_after=0") << true;
    QTest::newRow("logs") << Call([](KMAPI &api) {
        return api.requestSendLogs(QJsonArray { QJsonObject { { QStringLiteral("lvl"), 3 } } });
    }) << FakeServer::LogsPath
                          << QByteArray(R"([{"lvl":3}])") << QByteArray() << true;
}

void TestKMAPI::wireFormat()
{
    QFETCH(Call, call);
    QFETCH(QString, path);
    QFETCH(QByteArray, body);
    QFETCH(QByteArray, query);
    QFETCH(bool, bearer);

    KMAPI api;
    pointAtServer(api);
    api.setVersion(QStringLiteral("1.0.0"), QStringLiteral("9"));
    login(api); // issues access-1 / refresh-1

    QCOMPARE(outcome(call(api)), success);

    const QList<RecordedRequest> requests = server->requests();
    QCOMPARE(requests.size(), 1);
    const RecordedRequest &r = requests.first();
    QCOMPARE(r.method, QByteArray("POST"));
    QCOMPARE(r.path, path);
    QCOMPARE(r.query, query);
    QCOMPARE(r.body, body);
    QCOMPARE(r.header("Content-Type"), QByteArray("application/json"));
    QCOMPARE(r.header("X-Version-Name"), QByteArray("1.0.0"));
    QCOMPARE(r.header("X-Version-Code"), QByteArray("9"));
    QCOMPARE(r.header("X-App"), QByteArray("kitchen"));
    if (bearer) {
        QCOMPARE(ourHeaders(r),
            QList<QByteArray>({ "authorization", "x-version-name", "x-version-code", "x-app" }));
        QCOMPARE(r.header("Authorization"), QByteArray("Bearer access-1"));
    } else {
        QCOMPARE(ourHeaders(r),
            QList<QByteArray>({ "x-version-name", "x-version-code", "x-os", "x-model",
                "x-architecture", "x-app" }));
        QCOMPARE(r.header("X-Os"), QSysInfo::kernelVersion().toLocal8Bit());
        QCOMPARE(r.header("X-Model"), QSysInfo::productType().toLocal8Bit());
        QCOMPARE(r.header("X-Architecture"), QSysInfo::currentCpuArchitecture().toLocal8Bit());
    }
}

void TestKMAPI::tokenLifetimeIsStored()
{
    KMAPI api;
    pointAtServer(api);
    server->enqueue(FakeServer::TokenPath, FakeServer::token("a-7", "r-7", 3600));
    const qint64 before = QDateTime::currentSecsSinceEpoch();
    APIFuture token = api.requestToken(server->domain(), QStringLiteral("dev"));
    QVERIFY(waitFor(token));
    const qint64 after = QDateTime::currentSecsSinceEpoch();
    QVERIFY(api.tokenExpiresAt() >= before + 3540 && api.tokenExpiresAt() <= after + 3540);

    // An answer without the token keys leaves empty tokens that count as expired at once.
    server->enqueue(FakeServer::TokenPath, FakeServer::json({}));
    QCOMPARE(outcome(api.requestToken(server->domain(), QStringLiteral("dev"))), success);
    QVERIFY(api.tokenExpiresAt() <= QDateTime::currentSecsSinceEpoch() - 60);
}

void TestKMAPI::loginStoresDomainEvenWhenRefused()
{
    KMAPI api;
    pointAtServer(api);
    server->enqueue(FakeServer::TokenPath, FakeServer::error(403, 1003, "known"));
    QCOMPARE(outcome(api.requestToken(server->domain(), QStringLiteral("dev"))),
        serverError(QNetworkReply::ContentAccessDenied, 1003));
    QCOMPARE(api.currentDomain(), server->domain());
    QCOMPARE(api.tokenExpiresAt(), 0); // a failed login changes no token

    // The same subdomain is addressed by the next request.
    QCOMPARE(outcome(api.requestSyncDB({}, 0)), success);
    QCOMPARE(server->count(FakeServer::SyncPath), 1);
}

void TestKMAPI::expiredTokenRefreshesFirst_data()
{
    QTest::addColumn<bool>("loggedIn");
    QTest::addColumn<QString>("refreshToken");
    QTest::newRow("never logged in") << false << QString();
    QTest::newRow("token expired") << true << QStringLiteral("r-old");
}

void TestKMAPI::expiredTokenRefreshesFirst()
{
    QFETCH(bool, loggedIn);
    QFETCH(QString, refreshToken);

    KMAPI api;
    pointAtServer(api);
    if (loggedIn) {
        // A lifetime of 59 s expires before it starts.
        server->enqueue(FakeServer::TokenPath, FakeServer::token("a-old", "r-old", 59));
        APIFuture token = api.requestToken(server->domain(), QStringLiteral("dev"));
        QVERIFY(waitFor(token));
        server->clearRequests();
        QTRY_VERIFY(QDateTime::currentSecsSinceEpoch() > api.tokenExpiresAt());
    }
    server->enqueue(FakeServer::TokenPath, FakeServer::token("a-new", "r-new", 3600));

    QCOMPARE(outcome(api.requestSyncDB({}, 42, { QStringLiteral("config") })), success);

    const QList<RecordedRequest> requests = server->requests();
    QCOMPARE(requests.size(), 2);
    QCOMPARE(requests[0].path, FakeServer::TokenPath);
    QCOMPARE(requests[0].json()["grant_type"].toString(), "refresh_token");
    QCOMPARE(requests[0].json()["refresh_token"].toString(), refreshToken);
    QCOMPARE(requests[1].query, QByteArray("return_only[]=config&updated_after=42"));
    QCOMPARE(requests[1].header("Authorization"), QByteArray("Bearer a-new"));

    // Fresh now: the next request goes out at once.
    QVERIFY(waitFor(api.requestSendLogs({})));
    QCOMPARE(server->count(FakeServer::TokenPath), 1);
}

// A server that hands out tokens of 60 s or less must not make one request refresh forever.
void TestKMAPI::refreshedTokenStillExpiredIsNotRefreshedAgain()
{
    KMAPI api;
    pointAtServer(api);
    server->setAnswer(FakeServer::TokenPath, FakeServer::token("a-short", "r-short", 0));

    QCOMPARE(outcome(api.requestSyncDB({}, 1)), success);
    QCOMPARE(outcome(api.requestSendLogs({})), success);

    QCOMPARE(server->count(FakeServer::TokenPath), 2);
    QCOMPARE(server->count(FakeServer::SyncPath), 1);
    QCOMPARE(server->count(FakeServer::LogsPath), 1);
    QCOMPARE(server->requests(FakeServer::SyncPath).first().header("Authorization"),
        QByteArray("Bearer a-short"));
}

void TestKMAPI::failedRefreshSendsNothingAndCountsNothing()
{
    KMAPI api;
    pointAtServer(api);
    QSignalSpy errors(&api, &KMAPI::errorRequest);
    QVERIFY(errors.isValid());
    server->enqueue(FakeServer::TokenPath, FakeServer::error(401, 7, "bad refresh token"));

    QCOMPARE(outcome(api.requestSyncDB({}, 1)),
        serverError(QNetworkReply::AuthenticationRequiredError, 7));
    QCOMPARE(server->count(FakeServer::SyncPath), 0);
    QCOMPARE(errors.count(), 0);
}

void TestKMAPI::errorMapping_data()
{
    QTest::addColumn<Call>("call");
    QTest::addColumn<QString>("path");
    QTest::addColumn<FakeServer::Answer>("answer");
    QTest::addColumn<QString>("failure");
    QTest::addColumn<int>("errorRequests");
    QTest::addColumn<QJsonObject>("serverBody");

    const Call logs = [](KMAPI &api) { return api.requestSendLogs(QJsonArray()); };
    const Call sync = [](KMAPI &api) { return api.requestSyncDB({}, 0); };
    const Call registration = [](KMAPI &api) {
        return api.requestRegistration(QStringLiteral("127"), QStringLiteral("dev"));
    };
    const QJsonObject unauthorized { { QStringLiteral("code"), 401 },
        { QStringLiteral("message"), QStringLiteral("token expired") } };

    QTest::newRow("logs 401 with error object")
        << logs << FakeServer::LogsPath << FakeServer::json(unauthorized, 401)
        << serverError(QNetworkReply::AuthenticationRequiredError, 401) << 1 << unauthorized;
    QTest::newRow("sync html error page")
        << sync << FakeServer::SyncPath << FakeServer::htmlError(502)
        << serverError(QNetworkReply::UnknownServerError, 0) << 1 << QJsonObject();
    QTest::newRow("sync time-out") << sync << FakeServer::SyncPath << FakeServer::silence()
                                   << network(QNetworkReply::TimeoutError) << 1 << QJsonObject();
    QTest::newRow("sync connection dropped")
        << sync << FakeServer::SyncPath << FakeServer::closeConnection()
        << network(QNetworkReply::RemoteHostClosedError) << 1 << QJsonObject();
    QTest::newRow("registration refused with code")
        << registration << FakeServer::RegistrationPath
        << FakeServer::error(409, 1002, "already requested")
        << serverError(QNetworkReply::ContentConflictError, 1002) << 0
        << QJsonObject { { QStringLiteral("code"), 1002 },
               { QStringLiteral("message"), QStringLiteral("already requested") } };
}

void TestKMAPI::errorMapping()
{
    QFETCH(Call, call);
    QFETCH(QString, path);
    QFETCH(FakeServer::Answer, answer);
    QFETCH(QString, failure);
    QFETCH(int, errorRequests);
    QFETCH(QJsonObject, serverBody);

    KMAPI api;
    pointAtServer(api);
    login(api);
    QSignalSpy errors(&api, &KMAPI::errorRequest);
    QVERIFY(errors.isValid());
    AsyncHttpReply::setTimeoutMs(500);
    server->setAnswer(path, answer);

    APIFuture future = call(api);
    QVERIFY(waitFor(future));
    const std::exception_ptr thrown = failureOf(future);
    QCOMPARE(describe(thrown), failure);
    try {
        std::rethrow_exception(thrown);
    } catch (const KMAPIException &e) {
        QCOMPARE(e.body(), serverBody);
    } catch (...) { }
    QCOMPARE(errors.count(), errorRequests);
    QCOMPARE(api.tokenExpiresAt() > QDateTime::currentSecsSinceEpoch(), true);
}

// Refused, unreachable or TLS-broken exchanges carry no HTTP status and are network failures.
void TestKMAPI::domainThatLeavesTheServerIsRefused_data()
{
    QTest::addColumn<QString>("domain");
    QTest::newRow("path and query in the domain") << QStringLiteral("evil.example/x?");
    QTest::newRow("fragment") << QStringLiteral("evil.example#");
    QTest::newRow("user info") << QStringLiteral("user:pw@evil");
    QTest::newRow("blank") << QStringLiteral("my cafe");
    QTest::newRow("empty") << QString();
}

void TestKMAPI::domainThatLeavesTheServerIsRefused()
{
    QFETCH(QString, domain);

    KMAPI api;
    pointAtServer(api);
    // A domain that, if it were sent, would turn the request into one to this double on another
    // path and hand it the device uuid.
    const QString redirect
        = QStringLiteral("127.0.0.1:%1/terminal/v1/oauth/token?").arg(server->port());
    for (const QString &d : { domain, redirect }) {
        QCOMPARE(outcome(api.requestToken(d, QStringLiteral("secret-uuid"))),
            network(QNetworkReply::HostNotFoundError));
        QVERIFY(outcome(api.requestRegistration(d, QStringLiteral("secret-uuid"))) != success);
    }
    QCOMPARE(server->requests().size(), 0);

    // With a valid token, "/sync-db" to such a domain fails as a counted network failure.
    api.useHttps(false);
    login(api);
    QVERIFY(waitFor(api.requestRegistration(domain, QStringLiteral("secret-uuid"))));
    QSignalSpy errors(&api, &KMAPI::errorRequest);
    QVERIFY(errors.isValid());
    QCOMPARE(outcome(api.requestSyncDB({}, 0)), network(QNetworkReply::HostNotFoundError));
    QCOMPARE(errors.count(), 1);
    QCOMPARE(server->requests().size(), 0);

    // A refused connection is a network failure too, not a server answer.
    api.setHost(QStringLiteral("0.0.1:%1").arg(FakeServer::unusedPort()));
    QCOMPARE(outcome(api.requestToken(QStringLiteral("127"), QStringLiteral("dev"))),
        network(QNetworkReply::ConnectionRefusedError));

    // So is a TLS handshake with a server that speaks plain HTTP.
    api.setHost(server->host());
    api.useHttps(true);
    QCOMPARE(outcome(api.requestToken(QStringLiteral("127"), QStringLiteral("dev"))),
        network(QNetworkReply::SslHandshakeFailedError));
}

void TestKMAPI::parallelRequestsFromPoolThreads()
{
    KMAPI api;
    pointAtServer(api);
    QList<QFuture<APIFuture>> started;
    for (int i = 0; i < 16; ++i) {
        started.append(QtConcurrent::run([&api, i] {
            if (i % 4 == 0)
                return api.requestToken(QStringLiteral("127"), QStringLiteral("dev"));
            return api.requestSendLogs(QJsonArray { i });
        }));
    }
    for (QFuture<APIFuture> &outer : started) {
        QVERIFY(waitFor(outer));
        QCOMPARE(outcome(outer.result()), success);
    }
    // Every upload carried a token that the double had issued.
    for (const RecordedRequest &r : server->requests(FakeServer::LogsPath))
        QVERIFY2(r.header("Authorization").startsWith("Bearer access-"), r.header("Authorization"));
    QCOMPARE(server->count(FakeServer::LogsPath), 12);
}

QTEST_GUILESS_MAIN(TestKMAPI)
#include "tst_kmapi.moc"
