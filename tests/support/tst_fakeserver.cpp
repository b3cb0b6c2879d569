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

#include <memory>

namespace {

struct Exchange
{
    bool finished = false;
    int status = 0; // 0: no HTTP status reached the client
    QByteArray contentType;
    QByteArray body;

    QJsonObject object() const { return QJsonDocument::fromJson(body).object(); }
};

// A plain client, as far from the code under test as possible: one request, wait, read.
Exchange send(QNetworkAccessManager &nam, const QByteArray &method, const QUrl &url,
    const QByteArray &body = {}, const QList<QPair<QByteArray, QByteArray>> &headers = {})
{
    QNetworkRequest request(url);
    request.setTransferTimeout(5000);
    if (!body.isEmpty())
        request.setHeader(QNetworkRequest::ContentTypeHeader, "application/json");
    for (const auto &h : headers)
        request.setRawHeader(h.first, h.second);
    std::unique_ptr<QNetworkReply> reply(nam.sendCustomRequest(request, method, body));
    QSignalSpy finished(reply.get(), &QNetworkReply::finished);
    Exchange out;
    if (!finished.isValid())
        return out;
    out.finished = reply->isFinished() || finished.wait(10000);
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

const QByteArray login = R"({"grant_type":"uuid","uuid":"dev-1"})";

} // namespace

// The loopback server double itself: the defaults and scripted answers other tests rely on. The
// broken answers (silence, closed, truncated) are checked where the clients meet them.
class TestFakeServer : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();

    void defaultAnswers_data();
    void defaultAnswers();
    void scriptedAnswersComeInOrder();
    void delayedAnswerDoesNotHoldUpOthers();
    void recordsTheWireFormat();
    void bytesThatAreNoRequestAreRefusedAtOnce();

private:
    std::unique_ptr<FakeServer> m_server;
    QNetworkAccessManager m_nam;

    // Composed as the client does (scheme://domain.host/...), so it must land on loopback.
    QUrl url(const QString &path, const QString &query = {}) const
    {
        QUrl u(QStringLiteral("http://") + m_server->domain() + QLatin1Char('.') + m_server->host()
            + path);
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
    QCOMPARE(url(FakeServer::LogsPath).host(), QStringLiteral("127.0.0.1"));
}

void TestFakeServer::defaultAnswers_data()
{
    QTest::addColumn<QByteArray>("method");
    QTest::addColumn<QString>("path");
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<int>("status");
    QTest::addColumn<int>("code"); // the error object's "code", 0 when not an error object

    const QByteArray post("POST");
    QTest::newRow("login") << post << QString(FakeServer::TokenPath) << login << 200 << 0;
    QTest::newRow("login without uuid") << post << QString(FakeServer::TokenPath)
                                        << jsonBody({ { "grant_type", "uuid" } }) << 400 << 1001;
    QTest::newRow("registration without uuid")
        << post << QString(FakeServer::RegistrationPath) << jsonBody({}) << 400 << 1001;
    QTest::newRow("sync-db") << post << QString(FakeServer::SyncPath) << jsonBody({}) << 200 << 0;
    QTest::newRow("wrong method") << QByteArray("GET") << QString(FakeServer::SyncPath)
                                  << QByteArray() << 405 << 0;
    QTest::newRow("unknown path") << post << QString("/terminal/v1/nothing") << jsonBody({}) << 404
                                  << 0;
}

void TestFakeServer::defaultAnswers()
{
    QFETCH(QByteArray, method);
    QFETCH(QString, path);
    QFETCH(QByteArray, body);
    QFETCH(int, status);
    QFETCH(int, code);

    const Exchange e = send(m_nam, method, url(path), body);
    QVERIFY(e.finished);
    QCOMPARE(e.status, status);
    QCOMPARE(m_server->count(path), 1);
    const QJsonObject answer = e.object();
    if (code != 0)
        QCOMPARE(answer.value("code").toInt(), code);
    if (status == 404 || status == 405)
        QVERIFY(e.contentType.startsWith("text/html"));
    if (path == QLatin1String(FakeServer::SyncPath) && status == 200)
        QVERIFY(
            qAbs(answer.value("timestamp").toInteger() - QDateTime::currentSecsSinceEpoch()) <= 5);
    // Tokens are fresh for every login.
    if (path == QLatin1String(FakeServer::TokenPath) && status == 200) {
        QCOMPARE(answer.value("expires_in").toInt(), 3600);
        QVERIFY(send(m_nam, method, url(path), body).object().value("access_token")
            != answer.value("access_token"));
    }
}

void TestFakeServer::scriptedAnswersComeInOrder()
{
    const QByteArray reg = jsonBody({ { "uuid", "dev-1" } });
    m_server->enqueue(FakeServer::RegistrationPath,
        FakeServer::error(400, 1002, "registration already requested"));
    m_server->enqueue(FakeServer::RegistrationPath, FakeServer::error(409, 1003, "registered"));

    Exchange e = send(m_nam, "POST", url(FakeServer::RegistrationPath), reg);
    QCOMPARE(e.status, 400);
    QCOMPARE(e.object(),
        QJsonObject({ { "code", 1002 }, { "message", "registration already requested" } }));
    QCOMPARE(send(m_nam, "POST", url(FakeServer::RegistrationPath), reg).status, 409);
    // Queue used up: the default again.
    QCOMPARE(send(m_nam, "POST", url(FakeServer::RegistrationPath), reg).status, 200);

    // A responder answers every request, from what the request says, once the queue ahead of
    // it is used up.
    m_server->setResponder(FakeServer::SyncPath, [](const RecordedRequest &request) {
        return FakeServer::sync({ { "config", QJsonArray() } },
            QString(request.queryItems().value(0).second).toLongLong());
    });
    m_server->enqueue(FakeServer::SyncPath, FakeServer::htmlError(502));
    e = send(m_nam, "POST", url(FakeServer::SyncPath), "{}");
    QCOMPARE(e.status, 502);
    QVERIFY(e.contentType.startsWith("text/html"));
    for (int i = 41; i < 43; ++i) {
        e = send(
            m_nam, "POST", url(FakeServer::SyncPath, "updated_after=" + QString::number(i)), "{}");
        QCOMPARE(e.object().value("timestamp").toInteger(), i);
        QVERIFY(e.object().value("tables").toObject().contains("config"));
    }

    m_server->resetAnswers();
    e = send(m_nam, "POST", url(FakeServer::SyncPath), "{}");
    QVERIFY(e.object().value("timestamp").toInteger() > 42);
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

    QCOMPARE(send(m_nam, "POST", url(FakeServer::LogsPath), "[]").status, 200);
    QVERIFY(!slow->isFinished());

    QTRY_VERIFY_WITH_TIMEOUT(slow->isFinished(), 5000);
    QVERIFY(clock.elapsed() >= 700);
    QCOMPARE(QJsonDocument::fromJson(slow->readAll()).object().value("timestamp").toInt(), 7);
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
