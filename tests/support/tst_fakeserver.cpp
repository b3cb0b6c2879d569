#include "fakeserver.h"
#include "testenvironment.h"

#include <QElapsedTimer>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QSignalSpy>
#include <QTcpSocket>
#include <QTest>
#include <QTimeZone>

#include <memory>

namespace {

struct Exchange
{
    bool finished = false;
    QNetworkReply::NetworkError error = QNetworkReply::NoError;
    int status = 0; // 0: no HTTP status reached the client
    QByteArray contentType;
    QByteArray body;

    QJsonObject object() const { return QJsonDocument::fromJson(body).object(); }
};

// A plain client, as far from the code under test as possible: one request, wait, read.
Exchange send(QNetworkAccessManager &nam, const QByteArray &method, const QUrl &url,
    const QByteArray &body = {}, const QList<QPair<QByteArray, QByteArray>> &headers = {},
    int transferTimeoutMs = 5000)
{
    QNetworkRequest request(url);
    request.setTransferTimeout(transferTimeoutMs);
    if (!body.isEmpty())
        request.setHeader(QNetworkRequest::ContentTypeHeader, "application/json");
    for (const auto &h : headers)
        request.setRawHeader(h.first, h.second);
    std::unique_ptr<QNetworkReply> reply(nam.sendCustomRequest(request, method, body));
    QSignalSpy finished(reply.get(), &QNetworkReply::finished);
    Exchange out;
    if (!finished.isValid())
        return out;
    out.finished = reply->isFinished() || finished.wait(transferTimeoutMs + 5000);
    out.error = reply->error();
    out.status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    out.contentType = reply->header(QNetworkRequest::ContentTypeHeader).toByteArray();
    if (reply->isOpen())
        out.body = reply->readAll();
    return out;
}

QByteArray jsonBody(const QJsonObject &o)
{
    return QJsonDocument(o).toJson(QJsonDocument::Compact);
}

} // namespace

class TestFakeServer : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();

    void addressing();
    void defaultAnswers_data();
    void defaultAnswers();
    void defaultTokensAreFreshEachTime();
    void defaultTimeZoneIsTheZonesWallClock();
    void scriptedAnswersComeInOrder();
    void delayedAnswerDoesNotHoldUpOthers();
    void silenceLetsTheClientTimeOut();
    void brokenAnswers_data();
    void brokenAnswers();
    void recordsTheWireFormat();
    void waitForRequestsAndClear();
    void unusedPortRefuses();
    void bytesThatAreNoRequestAreRefusedAtOnce();

private:
    std::unique_ptr<FakeServer> m_server;
    QNetworkAccessManager m_nam;

    QUrl url(const QString &path, const QString &query = {}) const
    {
        QUrl u(QStringLiteral("http://127.0.0.1:%1%2").arg(m_server->port()).arg(path));
        if (!query.isEmpty())
            u.setQuery(query, QUrl::StrictMode);
        return u;
    }
};

void TestFakeServer::initTestCase()
{
    TestEnvironment::init();
}

void TestFakeServer::init()
{
    m_server = std::make_unique<FakeServer>();
    QVERIFY(m_server->isListening());
}

void TestFakeServer::addressing()
{
    const QString port = QString::number(m_server->port());
    QCOMPARE(m_server->domain(), QStringLiteral("127"));
    QCOMPARE(m_server->host(), QStringLiteral("0.0.1:") + port);
    QCOMPARE(m_server->timeZoneHost(), QStringLiteral("127.0.0.1:") + port);
    QCOMPARE(
        m_server->baseUrl(), QUrl(QStringLiteral("http://127.0.0.1:%1/terminal/v1").arg(port)));

    // The client composes scheme://domain.host/terminal/v1/path; it must land on loopback.
    const QUrl composed(QStringLiteral("http://") + m_server->domain() + QLatin1Char('.')
        + m_server->host() + QStringLiteral("/terminal/v1/logs"));
    QCOMPARE(composed.host(), QStringLiteral("127.0.0.1"));
    const Exchange e = send(m_nam, "POST", composed, "[]");
    QCOMPARE(e.status, 200);
    QCOMPARE(m_server->count(FakeServer::LogsPath), 1);
}

void TestFakeServer::defaultAnswers_data()
{
    QTest::addColumn<QByteArray>("method");
    QTest::addColumn<QString>("path");
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<int>("status");
    QTest::addColumn<QStringList>("keys"); // keys the JSON answer must hold
    QTest::addColumn<int>("code"); // the error object's "code", 0 when not an error object

    const QStringList tokenKeys { "access_token", "refresh_token", "expires_in" };
    QTest::newRow("login") << QByteArray("POST") << QString(FakeServer::TokenPath)
                           << jsonBody({ { "grant_type", "uuid" }, { "uuid", "dev-1" } }) << 200
                           << tokenKeys << 0;
    QTest::newRow("refresh") << QByteArray("POST") << QString(FakeServer::TokenPath)
                             << jsonBody(
                                    { { "grant_type", "refresh_token" }, { "refresh_token", "r" } })
                             << 200 << tokenKeys << 0;
    QTest::newRow("login without uuid") << QByteArray("POST") << QString(FakeServer::TokenPath)
                                        << jsonBody({ { "grant_type", "uuid" } }) << 400
                                        << QStringList { "code", "message" } << 1001;
    QTest::newRow("unknown grant") << QByteArray("POST") << QString(FakeServer::TokenPath)
                                   << jsonBody({ { "grant_type", "password" } }) << 400
                                   << QStringList { "code", "message" } << 400;
    QTest::newRow("login body not JSON")
        << QByteArray("POST") << QString(FakeServer::TokenPath) << QByteArray("{oops") << 400
        << QStringList { "code" } << 400;
    QTest::newRow("registration") << QByteArray("POST") << QString(FakeServer::RegistrationPath)
                                  << jsonBody({ { "uuid", "dev-1" } }) << 200
                                  << QStringList { "message" } << 0;
    QTest::newRow("registration without uuid")
        << QByteArray("POST") << QString(FakeServer::RegistrationPath) << jsonBody({}) << 400
        << QStringList { "code", "message" } << 1001;
    QTest::newRow("sync-db") << QByteArray("POST") << QString(FakeServer::SyncPath) << jsonBody({})
                             << 200 << QStringList { "timestamp", "tables" } << 0;
    QTest::newRow("logs") << QByteArray("POST") << QString(FakeServer::LogsPath)
                          << QByteArray("[{\"level\":2}]") << 200 << QStringList() << 0;
    QTest::newRow("time zone") << QByteArray("GET") << QString(FakeServer::TimeZonePath)
                               << QByteArray() << 200
                               << QStringList { "status", "zoneName", "formatted" } << 0;
    QTest::newRow("wrong method") << QByteArray("GET") << QString(FakeServer::SyncPath)
                                  << QByteArray() << 405 << QStringList() << 0;
    QTest::newRow("unknown path") << QByteArray("POST") << QString("/terminal/v1/nothing")
                                  << jsonBody({}) << 404 << QStringList() << 0;
}

void TestFakeServer::defaultAnswers()
{
    QFETCH(QByteArray, method);
    QFETCH(QString, path);
    QFETCH(QByteArray, body);
    QFETCH(int, status);
    QFETCH(QStringList, keys);
    QFETCH(int, code);

    const Exchange e = send(m_nam, method, url(path), body);
    QVERIFY(e.finished);
    QCOMPARE(e.status, status);
    QCOMPARE(e.error == QNetworkReply::NoError, status < 400);
    const QJsonObject answer = e.object();
    for (const QString &key : keys)
        QVERIFY2(answer.contains(key), qPrintable(key));
    if (code != 0)
        QCOMPARE(answer.value("code").toInt(), code);
    if (status >= 404 && status <= 405)
        QVERIFY(e.contentType.startsWith("text/html"));
    if (path == QLatin1String(FakeServer::SyncPath) && status == 200) {
        QVERIFY(
            qAbs(answer.value("timestamp").toInteger() - QDateTime::currentSecsSinceEpoch()) <= 5);
        QVERIFY(answer.value("tables").isObject());
    }
    if (keys.contains("expires_in"))
        QCOMPARE(answer.value("expires_in").toInt(), 3600);
    QCOMPARE(m_server->count(path), 1);
}

void TestFakeServer::defaultTokensAreFreshEachTime()
{
    const QByteArray login = jsonBody({ { "grant_type", "uuid" }, { "uuid", "dev-1" } });
    const QJsonObject first = send(m_nam, "POST", url(FakeServer::TokenPath), login).object();
    const QJsonObject second = send(m_nam, "POST", url(FakeServer::TokenPath), login).object();
    QVERIFY(!first.value("access_token").toString().isEmpty());
    QVERIFY(first.value("access_token") != second.value("access_token"));
    QVERIFY(first.value("refresh_token") != second.value("refresh_token"));
}

void TestFakeServer::defaultTimeZoneIsTheZonesWallClock()
{
    // Moscow has kept UTC+3 all year since 2014.
    const Exchange e = send(m_nam, "GET",
        url(FakeServer::TimeZonePath, "format=json&by=zone&zone=Europe/Moscow&key=QX4BPW7NRK2M"));
    QCOMPARE(e.status, 200);
    const QJsonObject answer = e.object();
    QCOMPARE(answer.value("zoneName").toString(), QStringLiteral("Europe/Moscow"));
    const QDateTime formatted = QDateTime::fromString(
        answer.value("formatted").toString(), QStringLiteral("yyyy-MM-dd hh:mm:ss"));
    QVERIFY(formatted.isValid());
    const QDateTime moscowNow = QDateTime::currentDateTimeUtc().addSecs(3 * 3600);
    QVERIFY(qAbs(QDateTime(formatted.date(), formatted.time(), Qt::UTC).secsTo(moscowNow)) <= 5);

    // A "+" sent percent-encoded reaches the double as itself.
    const QJsonObject plus
        = send(m_nam, "GET", url(FakeServer::TimeZonePath, "zone=Etc%2FGMT%2B3")).object();
    QCOMPARE(plus.value("zoneName").toString(), QStringLiteral("Etc/GMT+3"));
}

void TestFakeServer::scriptedAnswersComeInOrder()
{
    const QByteArray reg = jsonBody({ { "uuid", "dev-1" } });
    m_server->enqueue(FakeServer::RegistrationPath,
        FakeServer::error(400, 1002, "registration already requested"));
    m_server->enqueue(FakeServer::RegistrationPath, FakeServer::error(409, 1003, "registered"));

    Exchange e = send(m_nam, "POST", url(FakeServer::RegistrationPath), reg);
    QCOMPARE(e.status, 400);
    QCOMPARE(e.error, QNetworkReply::ProtocolInvalidOperationError);
    QCOMPARE(e.object(),
        QJsonObject({ { "code", 1002 }, { "message", "registration already requested" } }));
    e = send(m_nam, "POST", url(FakeServer::RegistrationPath), reg);
    QCOMPARE(e.status, 409);
    QCOMPARE(e.object().value("code").toInt(), 1003);
    e = send(m_nam, "POST", url(FakeServer::RegistrationPath), reg);
    QCOMPARE(e.status, 200); // queue used up: the default again

    // A fixed answer serves every request once the queue ahead of it is used up.
    m_server->setAnswer(FakeServer::SyncPath, FakeServer::sync({ { "config", QJsonArray() } }, 42));
    m_server->enqueue(FakeServer::SyncPath, FakeServer::htmlError(502));
    e = send(m_nam, "POST", url(FakeServer::SyncPath), "{}");
    QCOMPARE(e.status, 502);
    QVERIFY(e.contentType.startsWith("text/html"));
    QVERIFY(e.body.contains("<html>"));
    for (int i = 0; i < 2; ++i) {
        e = send(m_nam, "POST", url(FakeServer::SyncPath), "{}");
        QCOMPARE(e.object().value("timestamp").toInteger(), 42);
        QVERIFY(e.object().value("tables").toObject().contains("config"));
    }

    m_server->resetAnswers();
    e = send(m_nam, "POST", url(FakeServer::SyncPath), "{}");
    QVERIFY(e.object().value("timestamp").toInteger() > 42);

    const QJsonObject token
        = QJsonDocument::fromJson(FakeServer::token("a", "r", 30).body).object();
    QCOMPARE(token,
        QJsonObject({ { "token_type", "Bearer" }, { "access_token", "a" }, { "refresh_token", "r" },
            { "expires_in", 30 } }));
}

void TestFakeServer::delayedAnswerDoesNotHoldUpOthers()
{
    m_server->enqueue(FakeServer::SyncPath, FakeServer::sync({}, 7).withDelay(700));

    QElapsedTimer clock;
    clock.start();
    QNetworkRequest slowRequest(url(FakeServer::SyncPath));
    slowRequest.setHeader(QNetworkRequest::ContentTypeHeader, "application/json");
    std::unique_ptr<QNetworkReply> slow(m_nam.post(slowRequest, QByteArray("{}")));
    QVERIFY(m_server->waitForRequests(FakeServer::SyncPath, 1));

    const Exchange quick = send(m_nam, "POST", url(FakeServer::LogsPath), "[]");
    QCOMPARE(quick.status, 200);
    QVERIFY(!slow->isFinished());

    QTRY_VERIFY_WITH_TIMEOUT(slow->isFinished(), 5000);
    QVERIFY(clock.elapsed() >= 700);
    QCOMPARE(slow->error(), QNetworkReply::NoError);
    QCOMPARE(QJsonDocument::fromJson(slow->readAll()).object().value("timestamp").toInt(), 7);
}

void TestFakeServer::silenceLetsTheClientTimeOut()
{
    m_server->enqueue(FakeServer::TokenPath, FakeServer::silence());
    const QByteArray login = jsonBody({ { "grant_type", "uuid" }, { "uuid", "dev-1" } });

    const Exchange silent = send(m_nam, "POST", url(FakeServer::TokenPath), login, {}, 300);
    QVERIFY(silent.finished);
    QCOMPARE(silent.error, QNetworkReply::OperationCanceledError); // the transfer time-out
    QCOMPARE(silent.status, 0);

    // The silent connection is still open; the server goes on answering.
    const Exchange next = send(m_nam, "POST", url(FakeServer::TokenPath), login);
    QCOMPARE(next.status, 200);
    QCOMPARE(m_server->count(FakeServer::TokenPath), 2);
}

void TestFakeServer::brokenAnswers_data()
{
    QTest::addColumn<FakeServer::Answer>("answer");
    QTest::addColumn<bool>("transportError"); // the client sees a failure without HTTP status
    QTest::addColumn<int>("status");
    QTest::addColumn<bool>("jsonObject");
    QTest::addColumn<int>("attempts"); // requests the server sees for one client call

    QTest::newRow("truncated body") << FakeServer::truncated() << true << 200 << false << 1;
    // Qt resends once when a connection closes before any answer.
    QTest::newRow("closed without answer")
        << FakeServer::closeConnection() << true << 0 << false << 2;
    QTest::newRow("broken JSON, status 200")
        << FakeServer::raw(R"({"access_token": "a", )") << false << 200 << false << 1;
    QTest::newRow("HTML page, status 500")
        << FakeServer::htmlError(500) << false << 500 << false << 1;
    QTest::newRow("empty body, status 200") << FakeServer::raw({}) << false << 200 << false << 1;
    QTest::newRow("JSON array") << FakeServer::raw("[1,2]") << false << 200 << false << 1;
}

void TestFakeServer::brokenAnswers()
{
    QFETCH(FakeServer::Answer, answer);
    QFETCH(bool, transportError);
    QFETCH(int, status);
    QFETCH(bool, jsonObject);
    QFETCH(int, attempts);

    m_server->setAnswer(FakeServer::SyncPath, answer);
    const Exchange e = send(m_nam, "POST", url(FakeServer::SyncPath), "{}");
    QVERIFY(e.finished);
    if (transportError) {
        QCOMPARE(e.error, QNetworkReply::RemoteHostClosedError);
    } else {
        QCOMPARE(e.status, status);
        QCOMPARE(e.error == QNetworkReply::NoError, status < 400);
    }
    QCOMPARE(QJsonDocument::fromJson(e.body).isObject(), jsonObject);
    QCOMPARE(m_server->count(FakeServer::SyncPath), attempts);
}

void TestFakeServer::recordsTheWireFormat()
{
    // The query exactly as a client encodes it; order and repeated keys must survive.
    const QString query = "return_only%5B%5D=config&return_only%5B%5D=hall&updated_after=-30";
    const QByteArray body = jsonBody({ { "b", 1 }, { "a", "ü" } });
    const Exchange e = send(m_nam, "POST", url(FakeServer::SyncPath, query), body,
        { { "X-Version-Name", "1.0.0" }, { "X-Version-Code", "9" },
            { "Authorization", "Bearer access-1" }, { "X-App", "kitchen" } });
    QCOMPARE(e.status, 200);

    const QList<RecordedRequest> all = m_server->requests(FakeServer::SyncPath);
    QCOMPARE(all.size(), 1);
    const RecordedRequest &r = all.first();
    QCOMPARE(r.method, QByteArray("POST"));
    QCOMPARE(r.path, QString(FakeServer::SyncPath));
    QCOMPARE(r.query, query.toLatin1());
    const QList<QPair<QString, QString>> items { { "return_only[]", "config" },
        { "return_only[]", "hall" }, { "updated_after", "-30" } };
    QCOMPARE(r.queryItems(), items);
    QCOMPARE(r.body, body);
    QCOMPARE(r.json().object().value("a").toString(), QStringLiteral("ü"));
    QCOMPARE(r.header("authorization"), QByteArray("Bearer access-1"));
    QCOMPARE(r.header("content-type"), QByteArray("application/json"));
    QVERIFY(!r.hasHeader("X-Os"));

    // Our own headers keep their relative order among those the client stack adds.
    QList<QByteArray> ours;
    for (const QByteArray &name : r.headerNames()) {
        if (name.startsWith("x-") || name == "authorization")
            ours.append(name);
    }
    QCOMPARE(
        ours, QList<QByteArray>({ "x-version-name", "x-version-code", "authorization", "x-app" }));
}

void TestFakeServer::waitForRequestsAndClear()
{
    QNetworkRequest request(url(FakeServer::LogsPath));
    request.setHeader(QNetworkRequest::ContentTypeHeader, "application/json");
    std::unique_ptr<QNetworkReply> a(m_nam.post(request, QByteArray("[1]")));
    std::unique_ptr<QNetworkReply> b(m_nam.post(request, QByteArray("[2]")));
    QVERIFY(m_server->waitForRequests(FakeServer::LogsPath, 2));
    QVERIFY(!m_server->waitForRequests(FakeServer::LogsPath, 3, 200));

    QCOMPARE(m_server->requests().size(), 2);
    QCOMPARE(m_server->requests(FakeServer::SyncPath).size(), 0);
    QStringList bodies;
    for (const RecordedRequest &r : m_server->requests(FakeServer::LogsPath))
        bodies.append(QString::fromLatin1(r.body));
    bodies.sort();
    QCOMPARE(bodies, QStringList({ "[1]", "[2]" }));

    m_server->clearRequests();
    QCOMPARE(m_server->count(FakeServer::LogsPath), 0);
    QVERIFY(m_server->requests().isEmpty());
    QTRY_VERIFY(a->isFinished() && b->isFinished());
}

void TestFakeServer::unusedPortRefuses()
{
    const quint16 port = FakeServer::unusedPort();
    QVERIFY(port != 0);
    QVERIFY(port != m_server->port());
    const Exchange e = send(m_nam, "POST",
        QUrl(QStringLiteral("http://127.0.0.1:%1/terminal/v1/logs").arg(port)), "[]");
    QCOMPARE(e.error, QNetworkReply::ConnectionRefusedError);
    QCOMPARE(e.status, 0);
}

// A TLS client hello sent to the plain-HTTP double must not wait for a request that never
// comes: the client sees its handshake fail at once.
void TestFakeServer::bytesThatAreNoRequestAreRefusedAtOnce()
{
    QTcpSocket socket;
    socket.connectToHost(QHostAddress::LocalHost, m_server->port());
    QVERIFY(socket.waitForConnected(2000));
    socket.write(QByteArray::fromHex("16030100a5010000a10303"));
    QTRY_VERIFY_WITH_TIMEOUT(
        socket.state() == QAbstractSocket::UnconnectedState || socket.bytesAvailable() > 0, 2000);
    QVERIFY(socket.readAll().startsWith("HTTP/1.1 400"));
    QCOMPARE(m_server->requests().size(), 0);
}

QTEST_GUILESS_MAIN(TestFakeServer)
#include "tst_fakeserver.moc"
