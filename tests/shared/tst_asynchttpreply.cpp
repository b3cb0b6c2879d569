#include "shared/asynchttpreply.h"
#include "shared/networkexception.h"

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
#include <QTimer>

namespace {

// A minimal HTTP/1.1 responder on 127.0.0.1, optionally over TLS. By path:
// "/echo" answers 200 with the request's method and body; "/fail" answers 500 after a short
// pause; "/silent" never answers.
class Responder : public QTcpServer
{
public:
    QSslCertificate certificate;
    QSslKey key;
    QStringList requests;

protected:
    void incomingConnection(qintptr descriptor) override
    {
        if (certificate.isNull()) {
            auto *socket = new QTcpSocket(this);
            socket->setSocketDescriptor(descriptor);
            serve(socket);
            return;
        }
        auto *socket = new QSslSocket(this);
        socket->setSocketDescriptor(descriptor);
        socket->setLocalCertificate(certificate);
        socket->setPrivateKey(key);
        serve(socket);
        socket->startServerEncryption();
    }

private:
    void serve(QTcpSocket *socket)
    {
        connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
        connect(socket, &QTcpSocket::readyRead, socket, [this, socket] {
            QByteArray &buffer = pending[socket];
            buffer += socket->readAll();
            const qsizetype headerEnd = buffer.indexOf("\r\n\r\n");
            if (headerEnd < 0)
                return;
            const QList<QByteArray> lines = buffer.left(headerEnd).split('\n');
            qsizetype length = 0;
            for (const QByteArray &line : lines) {
                if (line.toLower().startsWith("content-length:"))
                    length = line.mid(15).trimmed().toLongLong();
            }
            if (buffer.size() < headerEnd + 4 + length)
                return;
            const QList<QByteArray> requestLine = lines.first().trimmed().split(' ');
            const QByteArray body = buffer.mid(headerEnd + 4, length);
            pending.remove(socket);
            requests.append(QString::fromLatin1(requestLine.value(0) + ' ' + requestLine.value(1)));
            answer(socket, requestLine.value(0), requestLine.value(1), body);
        });
    }

    void answer(QTcpSocket *socket, const QByteArray &method, const QByteArray &path,
        const QByteArray &body)
    {
        auto respond = [socket](const QByteArray &status, const QByteArray &content) {
            socket->write("HTTP/1.1 " + status
                + "\r\nContent-Type: text/plain\r\nX-Board: km4\r\n"
                  "Content-Length: "
                + QByteArray::number(content.size()) + "\r\nConnection: close\r\n\r\n" + content);
            socket->disconnectFromHost();
        };
        if (path == "/echo")
            respond("200 OK", method + ' ' + body);
        else if (path == "/fail")
            QTimer::singleShot(
                100, socket, [respond] { respond("500 Internal Server Error", "boom"); });
        else if (path != "/silent")
            respond("404 Not Found", "");
    }

    QHash<QTcpSocket *, QByteArray> pending;
};

QNetworkRequest requestTo(const QString &scheme, quint16 port, const QString &path)
{
    QNetworkRequest request(
        QUrl(QStringLiteral("%1://127.0.0.1:%2%3").arg(scheme).arg(port).arg(path)));
    request.setHeader(QNetworkRequest::ContentTypeHeader, QStringLiteral("application/json"));
    return request;
}

QByteArray header(const HttpResponse &response, const QByteArray &name)
{
    for (const auto &pair : response.headers) {
        if (pair.first.compare(name, Qt::CaseInsensitive) == 0)
            return pair.second;
    }
    return {};
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
    Responder plain;
    Responder secure;
    QTemporaryDir certificateDir;
};

void TestAsyncHttpReply::initTestCase()
{
    TestEnvironment::init();
    QVERIFY(plain.listen(QHostAddress::LocalHost));

    // A self-signed certificate made for this run.
    QVERIFY(certificateDir.isValid());
    const QString cert = certificateDir.filePath(QStringLiteral("cert.pem"));
    const QString key = certificateDir.filePath(QStringLiteral("key.pem"));
    QProcess openssl;
    openssl.start(QStringLiteral("openssl"),
        { QStringLiteral("req"), QStringLiteral("-x509"), QStringLiteral("-newkey"),
            QStringLiteral("rsa:2048"), QStringLiteral("-nodes"), QStringLiteral("-keyout"), key,
            QStringLiteral("-out"), cert, QStringLiteral("-days"), QStringLiteral("1"),
            QStringLiteral("-subj"), QStringLiteral("/CN=127.0.0.1") });
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
    plain.requests.clear();
    // Ends the pool threads, and with them their network managers.
    TestDatabase::drainThreadPool();
}

void TestAsyncHttpReply::exchanges_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<bool>("post");
    QTest::addColumn<int>("status");
    QTest::addColumn<int>("error");
    QTest::addColumn<QByteArray>("body");
    QTest::newRow("get") << "/echo" << false << 200 << int(QNetworkReply::NoError)
                         << QByteArray("GET ");
    QTest::newRow("post") << "/echo" << true << 200 << int(QNetworkReply::NoError)
                          << QByteArray("POST {\"a\":\"б\"}");
    QTest::newRow("server error") << "/fail" << true << 500
                                  << int(QNetworkReply::InternalServerError) << QByteArray("boom");
    QTest::newRow("not found") << "/nothing" << false << 404
                               << int(QNetworkReply::ContentNotFoundError) << QByteArray();
}

void TestAsyncHttpReply::exchanges()
{
    QFETCH(QString, path);
    QFETCH(bool, post);
    QFETCH(int, status);
    QFETCH(int, error);
    QFETCH(QByteArray, body);

    const QNetworkRequest request = requestTo(QStringLiteral("http"), plain.serverPort(), path);
    QFuture<HttpResponse> future = post
        ? AsyncHttpReply::postResponse(request, QByteArray("{\"a\":\"б\"}"), false)
        : AsyncHttpReply::getResponse(request, false);
    QVERIFY(waitFor(future));
    const HttpResponse response = future.result();
    QCOMPARE(int(response.error), error);
    QCOMPARE(response.httpStatus, status);
    QCOMPARE(response.body, body);
    QCOMPARE(header(response, "x-board"), QByteArray("km4"));
    if (error != QNetworkReply::NoError)
        QVERIFY(!response.errorString.isEmpty());
    QCOMPARE(plain.requests, QStringList { QLatin1String(post ? "POST " : "GET ") + path });
}

void TestAsyncHttpReply::rawReplyBelongsToCaller()
{
    QFuture<QPair<int, QByteArray>> read
        = AsyncHttpReply::post(
            requestTo(QStringLiteral("http"), plain.serverPort(), QStringLiteral("/echo")), "raw",
            false)
              .then([](QNetworkReply *reply) {
                  const auto result = qMakePair(
                      reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt(),
                      reply->readAll());
                  reply->deleteLater();
                  return result;
              });
    QVERIFY(waitFor(read));
    QCOMPARE(read.result().first, 200);
    QCOMPARE(read.result().second, QByteArray("POST raw"));

    // Nobody listens on a port of a closed server: a finished reply with the network error.
    QTcpServer closed;
    QVERIFY(closed.listen(QHostAddress::LocalHost));
    const quint16 port = closed.serverPort();
    closed.close();
    QFuture<HttpResponse> refused = AsyncHttpReply::getResponse(
        requestTo(QStringLiteral("http"), port, QStringLiteral("/")), false);
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
    const QNetworkRequest request
        = requestTo(QStringLiteral("http"), plain.serverPort(), QStringLiteral("/silent"));

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
        requestTo(QStringLiteral("https"), secure.serverPort(), QStringLiteral("/echo")), "tls",
        ignore);
    QVERIFY(waitFor(future, 30000));
    const HttpResponse response = future.result();
    if (ignore) {
        QCOMPARE(response.error, QNetworkReply::NoError);
        QCOMPARE(response.httpStatus, 200);
        QCOMPARE(response.body, QByteArray("POST tls"));
    } else {
        QCOMPARE(response.error, QNetworkReply::SslHandshakeFailedError);
        QCOMPARE(response.httpStatus, 0);
        QVERIFY(response.body.isEmpty());
    }
}

QTEST_GUILESS_MAIN(TestAsyncHttpReply)
#include "tst_asynchttpreply.moc"
