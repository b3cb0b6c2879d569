#include "fakeserver.h"
#include "testenvironment.h"

#include <QElapsedTimer>
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
    return out;
}

QByteArray jsonBody(const QJsonObject &o)
{
    return QJsonDocument(o).toJson(QJsonDocument::Compact);
}

} // namespace

// The loopback server double itself, where the suites that use it would not notice a fault: what
// it records, and that one slow or broken exchange holds up nothing else. Its answers are checked
// where the clients meet them.
class TestFakeServer : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();

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
