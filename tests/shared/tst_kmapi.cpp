#include "shared/asynchttpreply.h"
#include "shared/kmapi.h"
#include "shared/kmapiexception.h"

#include "fakeserver.h"
#include "futurewait.h"
#include "testdatabase.h"
#include "testenvironment.h"

#include <QMetaEnum>
#include <QSignalSpy>
#include <QTest>
#include <QtConcurrent>

namespace {

using Answer = FakeServer::Answer;

// "success", or what the request failed with, after waiting with the event loop running.
QString outcome(const APIFuture &future)
{
    if (!waitFor(future))
        return QStringLiteral("still running");
    try {
        future.result();
        return QStringLiteral("success");
    } catch (const KMAPIException &e) {
        return QStringLiteral("kmapi %1").arg(e.code());
    } catch (const NetworkException &e) {
        const QMetaEnum errors = QMetaEnum::fromType<QNetworkReply::NetworkError>();
        return QStringLiteral("network ") + errors.valueToKey(e.networkError());
    }
}

// The requests the table names; "login" and "registration" may name their domain after a blank.
APIFuture send(KMAPI &api, const QString &call)
{
    const QString domain = call.contains(' ') ? call.section(' ', 1) : QStringLiteral("127");
    if (call.startsWith("login"))
        return api.requestToken(domain, "dev2");
    if (call.startsWith("registration"))
        return api.requestRegistration(domain, "dev3");
    if (call == "sync")
        return api.requestSyncDB({ { "a", 1 } }, 1700000000, { "config", "order_status" });
    return api.requestSendLogs({ QJsonObject { { "lvl", 3 } } });
}

// What the double received: request line, the headers the server reads and the body. The device
// headers describe this machine, so only their names are shown.
QString received(const FakeServer &server)
{
    QStringList lines;
    for (const RecordedRequest &r : server.requests()) {
        QByteArray line
            = r.method + ' ' + r.path.toUtf8() + (r.query.isEmpty() ? "" : '?' + r.query);
        for (const auto &[name, value] : r.headers) {
            if (name == "X-Os" || name == "X-Model" || name == "X-Architecture")
                line += '|' + name;
            else if (name == "Authorization" || name == "Content-Type" || name.startsWith("X-"))
                line += '|' + name + ": " + value;
        }
        lines << QString::fromUtf8(line + ' ' + r.body);
    }
    return lines.join('\n');
}

} // namespace

// The server API client and the HTTP exchanges under it, against the loopback double.
class TestKMAPI : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase() { TestEnvironment::init(); }
    // An exchange may take a busy machine's time; only the row about time-outs waits less.
    void init() { AsyncHttpReply::setTimeoutMs(TestEnvironment::patienceMs); }

    void cleanupTestCase() { TestDatabase::drainThreadPool(); }

    void requests_data()
    {
        QTest::addColumn<Answer>("login"); // before the calls; gives the client its domain
        QTest::addColumn<Answer>("answer"); // then to every request
        QTest::addColumn<QString>("calls");
        QTest::addColumn<QString>("outcomes");
        QTest::addColumn<QString>("seen"); // by the double after the login; "-": not compared
        QTest::addColumn<int>("errorRequests");
        const auto row = [](const char *name, const Answer &login, const Answer &answer,
                             const char *calls, const QString &outcomes, const QString &seen,
                             int errorRequests = 0) {
            QTest::newRow(name) << login << answer << calls << outcomes << seen << errorRequests;
        };
        const Answer ok = FakeServer::token("access-1", "refresh-1"), any;
        const QString json = "|Content-Type: application/json",
                      version = "|X-Version-Name: 0.0.1|X-Version-Code: 1",
                      device = json + version + "|X-Os|X-Model|X-Architecture|X-App: kitchen ",
                      token = "POST /terminal/v1/oauth/token" + device,
                      sync = "POST /terminal/v1/sync-db?return_only[]=config"
                             "&return_only[]=order_status&updated_after=1700000000";
        const auto bearer = [&](const char *t) {
            return json + "|Authorization: Bearer " + t + version + "|X-App: kitchen ";
        };
        // clang-format off
        // The wire format of each request.
        row("login", ok, ok, "login", "success", token + R"({"grant_type":"uuid","uuid":"dev2"})");
        row("registration", ok, any, "registration", "success",
            "POST /terminal/v1/registration" + device + R"({"uuid":"dev3"})");
        row("sync", ok, any, "sync", "success", sync + bearer("access-1") + R"({"a":1})");
        row("logs", ok, any, "logs", "success",
            "POST /terminal/v1/logs" + bearer("access-1") + R"([{"lvl":3}])");

        // An expired token is refreshed once before the request; a refreshed token that is still
        // expired is used as it is; a failed refresh sends nothing and counts nothing. Tokens
        // count as expired a minute early: 59 s has run out before it starts.
        const Answer old = FakeServer::token("a-old", "r-old", 59);
        const QString refresh = token + R"({"grant_type":"refresh_token","refresh_token":"r-old"})",
                      syncNew = '\n' + sync + bearer("a-new") + R"({"a":1})";
        row("token expired", old, FakeServer::token("a-new", "r-new"), "sync", "success",
            refresh + syncNew);
        row("refreshed token still expired", old, FakeServer::token("a-new", "r-new", 0), "sync",
            "success", refresh + syncNew);
        row("refresh refused", old, FakeServer::error(401, 7, "bad"), "sync", "kmapi 7", refresh);

        // Only a server that answered with a status of 400 or more gives KMAPIException; all else
        // is a NetworkException. "/sync-db" and "/logs" count each failure.
        row("logs 401", ok, FakeServer::error(401, 401, "expired"), "logs", "kmapi 401", "-", 1);
        row("sync time-out", ok, FakeServer::silence(), "sync", "network TimeoutError", "-", 1);
        row("sync connection dropped", ok, FakeServer::closeConnection(), "sync",
            "network RemoteHostClosedError", "-", 1);
        row("sync answer cut short", ok, FakeServer::truncated(), "sync",
            "network RemoteHostClosedError", "-", 1);
        row("logs, nobody listens", ok, any, "logs", "network ConnectionRefusedError", "-", 1);
        row("TLS to a plain HTTP server", ok, any, "login", "network SslHandshakeFailedError", "-");

        // A domain that would move the request to another host or path: neither the uuid nor,
        // with a valid token, "/sync-db" reaches anyone; the latter is counted.
        const QString no = "network HostNotFoundError";
        for (const char *domain : { "evil.example/x?", "evil.example#", "user:pw@evil", "my cafe",
                 "", "127.0.0.1:PORT/terminal/v1/oauth/token?" })
            row(domain, ok, any, qPrintable(QString("registration %1; login %1; sync").arg(domain)),
                no + "; " + no + "; " + no, "", 1);
        // clang-format on
    }

    void requests()
    {
        QFETCH(Answer, login);
        QFETCH(Answer, answer);
        QFETCH(QString, calls);
        QFETCH(QString, outcomes);
        QFETCH(QString, seen);
        QFETCH(int, errorRequests);

        KMAPI api;
        aimAtServer(api);
        server.enqueue(FakeServer::TokenPath, login);
        QVERIFY(waitFor(api.requestToken(server.domain(), QStringLiteral("dev-1"))));
        server.clearRequests();
        if (outcomes.contains("TimeoutError"))
            AsyncHttpReply::setTimeoutMs(1000);
        for (const char *path :
            { FakeServer::TokenPath, FakeServer::SyncPath, FakeServer::LogsPath })
            server.setAnswer(path, answer);
        api.useHttps(outcomes == "network SslHandshakeFailedError");
        if (outcomes == "network ConnectionRefusedError")
            api.setHost(QStringLiteral("0.0.1:%1").arg(FakeServer::unusedPort()));
        QSignalSpy errors(&api, &KMAPI::errorRequest);

        QStringList results;
        for (const QString &call :
            calls.replace("PORT", QString::number(server.port())).split("; "))
            results << outcome(send(api, call));
        QCOMPARE(results.join("; "), outcomes);
        QCOMPARE(errors.count(), errorRequests);
        if (seen != "-")
            QCOMPARE(received(server), seen);
    }

    void redirects_data()
    {
        QTest::addColumn<QString>("call");
        QTest::addColumn<bool>("sameOrigin");
        QTest::addColumn<QString>("expected");
        for (const char *call : { "login", "registration", "sync" }) {
            QTest::addRow("%s elsewhere", call) << call << false << "network InsecureRedirectError";
            QTest::addRow("%s on the server", call) << call << true << "success";
        }
    }

    // A redirect is followed only to the same scheme, host and port: the device id and the token
    // never reach another port, and the request fails like any network failure.
    void redirects()
    {
        QFETCH(QString, call);
        QFETCH(bool, sameOrigin);
        QFETCH(QString, expected);
        FakeServer elsewhere;
        KMAPI api;
        aimAtServer(api);
        QVERIFY(waitFor(api.requestToken(server.domain(), QStringLiteral("dev-1"))));
        server.clearRequests();
        const QString path = call == "login" ? FakeServer::TokenPath
            : call == "registration"         ? FakeServer::RegistrationPath
                                             : FakeServer::SyncPath;
        const QString moved = QStringLiteral("/terminal/v1/moved");
        const QUrl target
            = (sameOrigin ? server.baseUrl() : elsewhere.baseUrl()).toString() + "/moved";
        server.enqueue(path, FakeServer::redirect(target.toEncoded()));
        server.setAnswer(moved, FakeServer::token("access-2", "refresh-2"));
        elsewhere.setAnswer(moved, FakeServer::token("access-2", "refresh-2"));
        QCOMPARE(outcome(send(api, call)), expected);
        QCOMPARE(elsewhere.requests().size(), 0);
        QCOMPARE(server.count(moved), int(sameOrigin));
        if (sameOrigin) // the body goes along to the same server
            QCOMPARE(
                server.requests(moved).constFirst().body, server.requests(path).constFirst().body);
    }

    void tokenAnswers_data()
    {
        QTest::addColumn<QString>(
            "call"); // the token answer ends a login, or the refresh of a sync
        QTest::addColumn<Answer>("answer");
        QTest::addColumn<bool>("usable");
        // As the JSON text escapes them.
        const QByteArray lineBreak = R"({"access_token": "abc\r\nX-Injected: yes"})";
        for (const char *call : { "login", "refresh" }) {
            const auto row = [call](const char *name, const Answer &answer, bool usable) {
                QTest::addRow("%s, %s", call, name) << call << answer << usable;
            };
            row("empty body", FakeServer::raw(""), false);
            row("truncated", FakeServer::raw("{\"access_token\": \"ab"), false);
            row("no access_token", FakeServer::json({ { "refresh_token", "r" } }), false);
            row("empty access_token", FakeServer::json({ { "access_token", "" } }), false);
            row("access_token a number", FakeServer::json({ { "access_token", 7 } }), false);
            row("line break in the token", FakeServer::raw(lineBreak), false);
            row("blank in the token", FakeServer::json({ { "access_token", "ab c" } }), false);
            row("letter beyond ASCII", FakeServer::json({ { "access_token", "abé" } }), false);
            // Without refresh_token and expires_in: both keep their defaults.
            row("token alone", FakeServer::json({ { "access_token", "ab.c-_~+/=" } }), true);
        }
    }

    // An answer counts only with an access_token of visible ASCII characters; any other is a
    // protocol failure, and the request the refresh came before is not sent.
    void tokenAnswers()
    {
        QFETCH(QString, call);
        QFETCH(Answer, answer);
        QFETCH(bool, usable);
        KMAPI api;
        aimAtServer(api);
        if (call == "refresh") {
            server.enqueue(FakeServer::TokenPath, FakeServer::token("a-old", "r-old", 59));
            QVERIFY(waitFor(api.requestToken(server.domain(), QStringLiteral("dev-1"))));
        }
        server.enqueue(FakeServer::TokenPath, answer);
        QCOMPARE(outcome(send(api, call == "login" ? "login" : "sync")),
            usable ? "success" : "network ProtocolFailure");
        if (call == "refresh") {
            const QList<RecordedRequest> synced = server.requests(FakeServer::SyncPath);
            QCOMPARE(synced.size(), int(usable));
            if (usable)
                QCOMPARE(synced.constFirst().header("Authorization"), "Bearer ab.c-_~+/=");
        }
        for (const RecordedRequest &request : server.requests())
            QCOMPARE(request.header("X-Injected"), QByteArray());
    }

    // Whatever reaches a header, a line break in it would start another: such a request is not
    // sent.
    void noHeaderWithALineBreak()
    {
        KMAPI api;
        aimAtServer(api);
        api.setVersion(QStringLiteral("1.0\r\nX-Injected: yes"), QStringLiteral("9"));
        QCOMPARE(outcome(send(api, "login")), "network ProtocolFailure");
        QVERIFY(server.requests().isEmpty());
    }

    // Logins and uploads from several pool threads at once each read one consistent set of
    // tokens and addresses.
    void parallelRequestsFromPoolThreads()
    {
        KMAPI api;
        aimAtServer(api);
        QVERIFY(waitFor(api.requestToken(server.domain(), QStringLiteral("dev"))));
        server.clearRequests();
        QList<QFuture<APIFuture>> started;
        for (int i = 0; i < 16; ++i) {
            started << QtConcurrent::run([&api, i] {
                return i % 4 == 0 ? api.requestToken(QStringLiteral("127"), QStringLiteral("dev"))
                                  : api.requestSendLogs({ i });
            });
        }
        for (const QFuture<APIFuture> &request : started) {
            QVERIFY(waitFor(request));
            QCOMPARE(outcome(request.result()), "success");
        }
        QCOMPARE(server.count(FakeServer::LogsPath), 12);
        for (const RecordedRequest &r : server.requests(FakeServer::LogsPath))
            QVERIFY2(r.header("Authorization").startsWith("Bearer "), r.header("Authorization"));
    }

private:
    // A client of the double, which answers with its defaults again and has no request recorded.
    void aimAtServer(KMAPI &api)
    {
        api.useHttps(false);
        api.setHost(server.host());
        server.resetAnswers();
        server.clearRequests();
    }

    FakeServer server;
};

QTEST_GUILESS_MAIN(TestKMAPI)
#include "tst_kmapi.moc"
