#include "shared/asynchttpreply.h"
#include "shared/networkexception.h"

#include "fakeserver.h"
#include "futurewait.h"
#include "testdatabase.h"
#include "testenvironment.h"

#include <QFile>
#include <QProcess>
#include <QSslKey>
#include <QSslSocket>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QTest>

namespace {

// A TLS server on 127.0.0.1 that answers every request with 200 "secure".
class TlsResponder : public QTcpServer
{
public:
    QSslCertificate certificate;
    QSslKey key;

protected:
    void incomingConnection(qintptr descriptor) override
    {
        auto *socket = new QSslSocket(this);
        socket->setSocketDescriptor(descriptor);
        socket->setLocalCertificate(certificate);
        socket->setPrivateKey(key);
        connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
        connect(socket, &QTcpSocket::readyRead, socket, [socket] {
            const QByteArray seen = socket->property("seen").toByteArray() + socket->readAll();
            socket->setProperty("seen", seen);
            if (!seen.contains("\r\n\r\n") || socket->property("answered").toBool())
                return;
            socket->setProperty("answered", true);
            socket->write("HTTP/1.1 200 OK\r\nContent-Length: 6\r\nConnection: close\r\n\r\nsecure");
            socket->disconnectFromHost();
        });
        socket->startServerEncryption();
    }
};

QNetworkRequest requestTo(const QString &scheme, quint16 port, const QString &path)
{
    QNetworkRequest request(
        QUrl(QStringLiteral("%1://127.0.0.1:%2%3").arg(scheme).arg(port).arg(path)));
    request.setHeader(QNetworkRequest::ContentTypeHeader, QStringLiteral("application/json"));
    return request;
}

} // namespace

class TestAsyncHttpReply : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void cleanup();

    void exchanges_data();
    void exchanges();
    void rawReplyBelongsToCaller();
    void slowServerTimesOut_data();
    void slowServerTimesOut();
    void tls_data();
    void tls();

private:
    std::unique_ptr<FakeServer> plain;
    TlsResponder secure;
    QTemporaryDir certificateDir;
};

void TestAsyncHttpReply::initTestCase()
{
    TestEnvironment::init();
    plain = std::make_unique<FakeServer>();
    QVERIFY(plain->isListening());

    // A self-signed certificate made for this run.
    QVERIFY(certificateDir.isValid());
    const QString cert = certificateDir.filePath(QStringLiteral("cert.pem"));
    const QString key = certificateDir.filePath(QStringLiteral("key.pem"));
    QProcess openssl;
    openssl.start(QStringLiteral("openssl"),
        QStringList { "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-keyout", key, "-out", cert,
            "-days", "1", "-subj", "/CN=127.0.0.1" });
    QVERIFY2(openssl.waitForFinished(60000) && openssl.exitCode() == 0,
        openssl.readAllStandardError().constData());
    QVERIFY(QSslSocket::supportsSsl());
    QFile certFile(cert);
    QFile keyFile(key);
    QVERIFY(certFile.open(QIODevice::ReadOnly) && keyFile.open(QIODevice::ReadOnly));
    secure.certificate = QSslCertificate(certFile.readAll());
    secure.key = QSslKey(keyFile.readAll(), QSsl::Rsa);
    QVERIFY(!secure.certificate.isNull() && !secure.key.isNull());
    QVERIFY(secure.listen(QHostAddress::LocalHost));
}

void TestAsyncHttpReply::cleanup()
{
    AsyncHttpReply::setTimeoutMs(0);
    plain->resetAnswers();
    plain->clearRequests();
    // Ends the pool threads, and with them their network managers.
    TestDatabase::drainThreadPool();
}

void TestAsyncHttpReply::exchanges_data()
{
    QTest::addColumn<bool>("post");
    QTest::addColumn<int>("status");
    QTest::addColumn<int>("error");
    QTest::addColumn<QByteArray>("body");
    QTest::newRow("get") << false << 200 << int(QNetworkReply::NoError) << QByteArray("got");
    QTest::newRow("post") << true << 200 << int(QNetworkReply::NoError) << QByteArray("posted");
    QTest::newRow("server error") << true << 500 << int(QNetworkReply::InternalServerError)
                                  << QByteArray("boom");
    QTest::newRow("not found") << false << 404 << int(QNetworkReply::ContentNotFoundError)
                               << QByteArray();
}

void TestAsyncHttpReply::exchanges()
{
    QFETCH(bool, post);
    QFETCH(int, status);
    QFETCH(int, error);
    QFETCH(QByteArray, body);

    const QString path = QStringLiteral("/exchange");
    plain->setAnswer(path, FakeServer::raw(body, status, "text/plain"));
    const QByteArray sent("{\"a\":\"б\"}");
    const QNetworkRequest request = requestTo(QStringLiteral("http"), plain->port(), path);
    QFuture<HttpResponse> future = post ? AsyncHttpReply::postResponse(request, sent, false)
                                        : AsyncHttpReply::getResponse(request, false);
    QVERIFY(waitFor(future));
    const HttpResponse response = future.result();
    QCOMPARE(int(response.error), error);
    QCOMPARE(response.httpStatus, status);
    QCOMPARE(response.body, body);
    QVERIFY(response.headers.contains(
        qMakePair(QByteArray("Content-Type"), QByteArray("text/plain"))));
    if (error != QNetworkReply::NoError)
        QVERIFY(!response.errorString.isEmpty());
    const QList<RecordedRequest> requests = plain->requests();
    QCOMPARE(requests.size(), 1);
    QCOMPARE(requests[0].method, QByteArray(post ? "POST" : "GET"));
    QCOMPARE(requests[0].body, post ? sent : QByteArray());
}

void TestAsyncHttpReply::rawReplyBelongsToCaller()
{
    const QString path = QStringLiteral("/raw");
    plain->setAnswer(path, FakeServer::raw("answer"));
    QFuture<QPair<int, QByteArray>> read
        = AsyncHttpReply::post(requestTo(QStringLiteral("http"), plain->port(), path), "raw", false)
              .then([](QNetworkReply *reply) {
                  const auto result = qMakePair(
                      reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt(),
                      reply->readAll());
                  reply->deleteLater();
                  return result;
              });
    QVERIFY(waitFor(read));
    QCOMPARE(read.result(), qMakePair(200, QByteArray("answer")));

    // Nobody listens: a finished reply with the network error, no HTTP status.
    QFuture<HttpResponse> refused = AsyncHttpReply::getResponse(
        requestTo(QStringLiteral("http"), FakeServer::unusedPort(), QStringLiteral("/")), false);
    QVERIFY(waitFor(refused));
    QCOMPARE(refused.result().error, QNetworkReply::ConnectionRefusedError);
    QCOMPARE(refused.result().httpStatus, 0);
}

void TestAsyncHttpReply::slowServerTimesOut_data()
{
    QTest::addColumn<bool>("plainValue");
    QTest::newRow("reply form") << false;
    QTest::newRow("response form") << true;
}

void TestAsyncHttpReply::slowServerTimesOut()
{
    QFETCH(bool, plainValue);
    QCOMPARE(AsyncHttpReply::timeoutMs(), 10000);
    AsyncHttpReply::setTimeoutMs(300);
    const QString path = QStringLiteral("/silent");
    plain->setAnswer(path, FakeServer::silence());
    const QNetworkRequest request = requestTo(QStringLiteral("http"), plain->port(), path);

    QFuture<void> future = plainValue ? QFuture<void>(AsyncHttpReply::getResponse(request, false))
                                      : QFuture<void>(AsyncHttpReply::post(request, "x", false));
    QVERIFY(waitFor(future));
    int code = -1;
    QString message;
    try {
        future.waitForFinished();
    } catch (const NetworkException &e) {
        code = e.networkError();
        message = e.message();
    }
    QCOMPARE(code, int(QNetworkReply::TimeoutError));
    QCOMPARE(message, QStringLiteral("Время ожидания подключения к серверу истекло"));
}

void TestAsyncHttpReply::tls_data()
{
    QTest::addColumn<bool>("ignore");
    QTest::newRow("certificate errors ignored") << true;
    QTest::newRow("certificate errors refused") << false;
}

void TestAsyncHttpReply::tls()
{
    QFETCH(bool, ignore);
    QFuture<HttpResponse> future = AsyncHttpReply::postResponse(
        requestTo(QStringLiteral("https"), secure.serverPort(), QStringLiteral("/")), "tls",
        ignore);
    QVERIFY(waitFor(future, 30000));
    const HttpResponse response = future.result();
    QCOMPARE(response.error,
        ignore ? QNetworkReply::NoError : QNetworkReply::SslHandshakeFailedError);
    QCOMPARE(response.httpStatus, ignore ? 200 : 0);
    QCOMPARE(response.body, ignore ? QByteArray("secure") : QByteArray());
}

QTEST_GUILESS_MAIN(TestAsyncHttpReply)
#include "tst_asynchttpreply.moc"
