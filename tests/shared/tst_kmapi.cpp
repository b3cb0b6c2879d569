#include "shared/asynchttpreply.h"
#include "shared/kmapi.h"
#include "shared/kmapiexception.h"

#include "fakeserver.h"
#include "futurewait.h"
#include "testdatabase.h"
#include "testenvironment.h"

#include <QFile>
#include <QLoggingCategory>
#include <QProcess>
#include <QSignalSpy>
#include <QSslKey>
#include <QSslServer>
#include <QSysInfo>
#include <QTemporaryDir>
#include <QTest>
#include <QtConcurrent>

namespace {

using Error = QNetworkReply::NetworkError;

QString network(Error error)
{
    return QStringLiteral("network %1").arg(int(error));
}

QString serverError(Error error, int code)
{
    return QStringLiteral("kmapi %1 %2").arg(int(error)).arg(code);
}

// The requests the tables name, with the arguments their wire formats show.
APIFuture send(KMAPI &api, const QString &request)
{
    if (request == "login")
        return api.requestToken("127", "dev-2");
    if (request == "refresh")
        return api.requestRefresh();
    if (request == "registration")
        return api.requestRegistration("127", "dev-3");
    if (request == "sync")
        return api.requestSyncDB({}, 1700000000, { "config", "order_status" });
    if (request == "sync all")
        return api.requestSyncDB({ { "a", 1 } }, 0);
    return api.requestSendLogs({ QJsonObject { { "lvl", 3 } } });
}

// "success", or what the request failed with, after waiting with the event loop running.
QString outcome(const APIFuture &future)
{
    if (!waitFor(future))
        return QStringLiteral("still running");
    try {
        future.result();
        return QStringLiteral("success");
    } catch (const KMAPIException &e) {
        return serverError(e.networkError(), e.code());
    } catch (const NetworkException &e) {
        return network(e.networkError());
    }
}

} // namespace

// The server API client and the HTTP exchanges under it, against the loopback double.
class TestKMAPI : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void init();
    void cleanup();

    void wireFormat_data();
    void wireFormat();
    void refreshAtMostOncePerCall_data();
    void refreshAtMostOncePerCall();
    void onlyAnHttpStatusIsAServerError_data();
    void onlyAnHttpStatusIsAServerError();
    void domainThatLeavesTheServerIsRefused_data();
    void domainThatLeavesTheServerIsRefused();
    void parallelRequestsFromPoolThreads();

private:
    // Points the client at the double; a registration gives it the domain without a token.
    void pointAtServer(KMAPI &api, bool logIn);

    std::unique_ptr<FakeServer> server;
    QSslServer secure; // a self-signed certificate; answers {} to every request
    QTemporaryDir certificateDir;
};

void TestKMAPI::initTestCase()
{
    TestEnvironment::init();
    QLoggingCategory::setFilterRules(QStringLiteral("default.debug=false"));
    server = std::make_unique<FakeServer>();
    QVERIFY(server->isListening());

    const QString cert = certificateDir.filePath("cert.pem"),
                  key = certificateDir.filePath("key.pem");
    QProcess openssl;
    openssl.start("openssl",
        { "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-keyout", key, "-out", cert, "-days",
            "1", "-subj", "/CN=127.0.0.1" });
    QVERIFY(openssl.waitForFinished(60000) && openssl.exitCode() == 0);
    QFile keyFile(key);
    QVERIFY(keyFile.open(QIODevice::ReadOnly));
    QSslConfiguration tls = QSslConfiguration::defaultConfiguration();
    tls.setLocalCertificate(QSslCertificate::fromPath(cert).value(0));
    tls.setPrivateKey(QSslKey(keyFile.readAll(), QSsl::Rsa));
    secure.setSslConfiguration(tls);
    connect(&secure, &QSslServer::pendingConnectionAvailable, this, [this] {
        QTcpSocket *socket = secure.nextPendingConnection();
        connect(socket, &QTcpSocket::readyRead, socket, [socket] {
            socket->write("HTTP/1.1 200 OK\r\nContent-Length: 2\r\nConnection: close\r\n\r\n{}");
            socket->disconnectFromHost();
        });
    });
    QVERIFY(secure.listen(QHostAddress::LocalHost));
}

void TestKMAPI::init()
{
    server->resetAnswers();
    server->clearRequests();
}

void TestKMAPI::cleanup()
{
    AsyncHttpReply::setTimeoutMs(0);
    TestDatabase::drainThreadPool(); // their network managers go with the pool threads
}

void TestKMAPI::pointAtServer(KMAPI &api, bool logIn)
{
    api.useHttps(false);
    api.setHost(server->host());
    QVERIFY(waitFor(api.requestRegistration(server->domain(), QStringLiteral("dev-0"))));
    if (logIn) {
        server->enqueue(FakeServer::TokenPath, FakeServer::token("access-1", "refresh-1"));
        QCOMPARE(outcome(api.requestToken(server->domain(), QStringLiteral("dev-1"))), "success");
    }
    server->clearRequests();
}

void TestKMAPI::wireFormat_data()
{
    QTest::addColumn<QString>("call");
    QTest::addColumn<QString>("request"); // method, path, query and body as sent
    QTest::addColumn<bool>("bearer");
    const auto row = [](const char *call, const char *request, bool bearer) {
        QTest::newRow(call) << call << request << bearer;
    };
    row("login", R"(POST /terminal/v1/oauth/token {"grant_type":"uuid","uuid":"dev-2"})", false);
    row("refresh",
        R"(POST /terminal/v1/oauth/token {"grant_type":"refresh_token","refresh_token":"refresh-1"})",
        false);
    row("registration", R"(POST /terminal/v1/registration {"uuid":"dev-3"})", false);
    row("sync",
        "POST /terminal/v1/sync-db?return_only[]=config&return_only[]=order_status"
        "&updated_after=1700000000 {}",
        true);
    row("sync all", R"(POST /terminal/v1/sync-db?updated_after=0 {"a":1})", true);
    row("logs", R"(POST /terminal/v1/logs [{"lvl":3}])", true);
}

void TestKMAPI::wireFormat()
{
    QFETCH(QString, call);
    QFETCH(QString, request);
    QFETCH(bool, bearer);

    KMAPI api;
    api.setVersion(QStringLiteral("1.0.0"), QStringLiteral("9"));
    pointAtServer(api, true);
    QCOMPARE(outcome(send(api, call)), "success");
    const QList<RecordedRequest> requests = server->requests();
    QCOMPARE(requests.size(), 1);
    const RecordedRequest &r = requests.first();
    QCOMPARE(
        r.method + ' ' + r.path.toUtf8() + (r.query.isEmpty() ? "" : '?' + r.query) + ' ' + r.body,
        request.toUtf8());
    QByteArrayList ours;
    for (const auto &[name, value] : r.headers)
        if (name.toLower() == "authorization" || name.toLower() == "content-type"
            || name.startsWith("X-"))
            ours.append(name + ": " + value);
    const QByteArray device = "X-Os: " + QSysInfo::kernelVersion().toLocal8Bit()
        + "|X-Model: " + QSysInfo::productType().toLocal8Bit()
        + "|X-Architecture: " + QSysInfo::currentCpuArchitecture().toLocal8Bit() + '|';
    QCOMPARE(ours.join('|'),
        "Content-Type: application/json|"
            + QByteArray(bearer ? "Authorization: Bearer access-1|" : "")
            + "X-Version-Name: 1.0.0|X-Version-Code: 9|" + (bearer ? "" : device)
            + "X-App: kitchen");
}

// An expired or missing token is refreshed once before the request; a refreshed token that is
// still expired is used as it is, and a failed refresh sends nothing.
void TestKMAPI::refreshAtMostOncePerCall_data()
{
    QTest::addColumn<int>("lifetime"); // of the first token; -1: the login was refused
    QTest::addColumn<FakeServer::Answer>("answer"); // to every refresh
    QTest::addColumn<QString>("result"); // of the call, then the refresh token sent

    const FakeServer::Answer fresh = FakeServer::token("a-new", "r-new", 3600);
    QTest::newRow("never logged in") << -1 << fresh << "success ";
    // Tokens count as expired a minute early: 59 s has run out before it starts.
    QTest::newRow("token expired") << 59 << fresh << "success r-old";
    QTest::newRow("refreshed token still expired")
        << 59 << FakeServer::token("a-new", "r-new", 0) << "success r-old";
    QTest::newRow("refresh refused")
        << 59 << FakeServer::error(401, 7, "bad refresh token")
        << serverError(Error::AuthenticationRequiredError, 7) + " r-old";
}

void TestKMAPI::refreshAtMostOncePerCall()
{
    QFETCH(int, lifetime);
    QFETCH(FakeServer::Answer, answer);
    QFETCH(QString, result);

    KMAPI api;
    api.useHttps(false);
    api.setHost(server->host());
    // The login gives the client its domain even when the server refuses it.
    server->enqueue(FakeServer::TokenPath,
        lifetime < 0 ? FakeServer::error(403, 1003, "known")
                     : FakeServer::token("a-old", "r-old", lifetime));
    QVERIFY(waitFor(api.requestToken(server->domain(), QStringLiteral("dev"))));
    server->clearRequests();
    server->setAnswer(FakeServer::TokenPath, answer);
    QSignalSpy errors(&api, &KMAPI::errorRequest);
    QVERIFY(errors.isValid());

    const QString sent = outcome(api.requestSyncDB({}, 42, { QStringLiteral("config") }));
    const QList<RecordedRequest> tokens = server->requests(FakeServer::TokenPath);
    QCOMPARE(tokens.size(), 1);
    QCOMPARE(sent + ' ' + tokens[0].json()["refresh_token"].toString(), result);
    const QList<RecordedRequest> syncs = server->requests(FakeServer::SyncPath);
    QCOMPARE(syncs.size(), result.startsWith("success") ? 1 : 0);
    QVERIFY(syncs.isEmpty() || syncs[0].header("Authorization") == "Bearer a-new");
    QCOMPARE(errors.count(), 0); // a failed refresh is no failed "/sync-db"
}

// Only a server that answered with a status of 400 or more gives KMAPIException; everything else
// is a NetworkException. "/sync-db" and "/logs" count each failure. Certificates are checked
// unless the board was told to ignore their errors.
void TestKMAPI::onlyAnHttpStatusIsAServerError_data()
{
    QTest::addColumn<QString>("call");
    QTest::addColumn<FakeServer::Answer>("answer");
    QTest::addColumn<QString>("target"); // the double by default; "closed": nobody listens
    QTest::addColumn<QString>("failure");
    QTest::addColumn<int>("errorRequests");

    const FakeServer::Answer none;
    QTest::newRow("logs 401") << "logs" << FakeServer::error(401, 401, "token expired") << ""
                              << serverError(Error::AuthenticationRequiredError, 401) << 1;
    QTest::newRow("sync html error page") << "sync" << FakeServer::htmlError(502) << ""
                                          << serverError(Error::UnknownServerError, 0) << 1;
    QTest::newRow("registration refused with code")
        << "registration" << FakeServer::error(409, 1002, "already requested") << ""
        << serverError(Error::ContentConflictError, 1002) << 0;
    QTest::newRow("sync time-out")
        << "sync" << FakeServer::silence() << "" << network(Error::TimeoutError) << 1;
    QTest::newRow("sync connection dropped") << "sync" << FakeServer::closeConnection() << ""
                                             << network(Error::RemoteHostClosedError) << 1;
    QTest::newRow("sync answer cut short") << "sync" << FakeServer::truncated() << ""
                                           << network(Error::RemoteHostClosedError) << 1;
    QTest::newRow("logs, nobody listens")
        << "logs" << none << "closed" << network(Error::ConnectionRefusedError) << 1;
    QTest::newRow("TLS to a plain HTTP server")
        << "login" << none << "https lenient" << network(Error::SslHandshakeFailedError) << 0;
    QTest::newRow("self-signed certificate refused")
        << "login" << none << "tls https" << network(Error::SslHandshakeFailedError) << 0;
    QTest::newRow("certificate errors ignored") << "login" << none << "tls https lenient"
                                                << "success" << 0;
}

void TestKMAPI::onlyAnHttpStatusIsAServerError()
{
    QFETCH(QString, call);
    QFETCH(FakeServer::Answer, answer);
    QFETCH(QString, target);
    QFETCH(QString, failure);
    QFETCH(int, errorRequests);

    KMAPI api;
    pointAtServer(api, true);
    api.useHttps(target.contains("https"));
    api.useIgnoreSslError(target.contains("lenient"));
    if (target.contains("tls") || target.contains("closed"))
        api.setHost(
            QStringLiteral("0.0.1:%1")
                .arg(target.contains("tls") ? secure.serverPort() : FakeServer::unusedPort()));
    QSignalSpy errors(&api, &KMAPI::errorRequest);
    QVERIFY(errors.isValid());
    AsyncHttpReply::setTimeoutMs(500);
    for (const char *path :
        { FakeServer::SyncPath, FakeServer::LogsPath, FakeServer::RegistrationPath })
        server->setAnswer(path, answer);

    QCOMPARE(outcome(send(api, call)), failure);
    QCOMPARE(errors.count(), errorRequests);
    if (failure != "success") // a failure keeps the token
        QVERIFY(api.tokenExpiresAt() > QDateTime::currentSecsSinceEpoch());
}

void TestKMAPI::domainThatLeavesTheServerIsRefused_data()
{
    QTest::addColumn<QString>("domain");
    QTest::newRow("path and query in the domain") << QStringLiteral("evil.example/x?");
    QTest::newRow("fragment") << QStringLiteral("evil.example#");
    QTest::newRow("user info") << QStringLiteral("user:pw@evil");
    QTest::newRow("blank") << QStringLiteral("my cafe");
    QTest::newRow("empty") << QString();
    // Would turn the request into one to this double on another path, handing it the uuid.
    QTest::newRow("redirect to the double")
        << QStringLiteral("127.0.0.1:%1/terminal/v1/oauth/token?");
}

void TestKMAPI::domainThatLeavesTheServerIsRefused()
{
    QFETCH(QString, domain);
    domain = domain.arg(server->port());

    KMAPI api;
    pointAtServer(api, true);
    QCOMPARE(outcome(api.requestToken(domain, QStringLiteral("secret-uuid"))),
        network(Error::HostNotFoundError));
    QVERIFY(outcome(api.requestRegistration(domain, QStringLiteral("secret-uuid"))) != "success");
    // With a valid token, "/sync-db" to such a domain fails as a counted network failure.
    QSignalSpy errors(&api, &KMAPI::errorRequest);
    QVERIFY(errors.isValid());
    QCOMPARE(outcome(api.requestSyncDB({}, 0)), network(Error::HostNotFoundError));
    QCOMPARE(errors.count(), 1);
    QCOMPARE(server->requests().size(), 0);
}

// Requests from pool threads while logins replace the tokens: each takes one consistent set.
void TestKMAPI::parallelRequestsFromPoolThreads()
{
    KMAPI api;
    pointAtServer(api, false);
    QList<QFuture<APIFuture>> started;
    for (int i = 0; i < 16; ++i) {
        started.append(QtConcurrent::run([&api, i] {
            return i % 4 == 0 ? api.requestToken("127", "dev") : api.requestSendLogs({ i });
        }));
    }
    for (QFuture<APIFuture> &outer : started)
        QVERIFY(waitFor(outer) && outcome(outer.result()) == "success");
    QCOMPARE(server->count(FakeServer::LogsPath), 12);
    for (const RecordedRequest &r : server->requests(FakeServer::LogsPath))
        QVERIFY2(r.header("Authorization").startsWith("Bearer access-"), r.header("Authorization"));
}

QTEST_GUILESS_MAIN(TestKMAPI)
#include "tst_kmapi.moc"
