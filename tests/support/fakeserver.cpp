#include "fakeserver.h"

#include <QHash>
#include <QHostAddress>
#include <QJsonDocument>
#include <QMutexLocker>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>
#include <QThread>
#include <QTimeZone>
#include <QTimer>

#include <memory>

namespace {

constexpr qsizetype MaxHeaderBytes = 64 * 1024;

QByteArray reasonPhrase(int status)
{
    static const QHash<int, QByteArray> phrases { { 200, "OK" }, { 201, "Created" },
        { 204, "No Content" }, { 400, "Bad Request" }, { 401, "Unauthorized" },
        { 403, "Forbidden" }, { 404, "Not Found" }, { 405, "Method Not Allowed" },
        { 409, "Conflict" }, { 422, "Unprocessable Entity" }, { 500, "Internal Server Error" },
        { 501, "Not Implemented" }, { 502, "Bad Gateway" }, { 503, "Service Unavailable" } };
    return phrases.value(status, "Status");
}

QByteArray head(int status, const QByteArray &contentType, qsizetype contentLength)
{
    QByteArray out = "HTTP/1.1 " + QByteArray::number(status) + ' ' + reasonPhrase(status) + "\r\n";
    if (!contentType.isEmpty())
        out += "Content-Type: " + contentType + "\r\n";
    out += "Content-Length: " + QByteArray::number(contentLength) + "\r\n";
    out += "Connection: close\r\n\r\n";
    return out;
}

// Bytes read so far from one connection and whether its request has been taken.
struct Connection
{
    QByteArray buffer;
    bool taken = false;
};

enum class Parse { Incomplete, Complete, Bad };

// Parses one request from the front of `buffer`. Only what the clients under test send is
// understood: a request line, headers, and a body of Content-Length bytes.
Parse parseRequest(const QByteArray &buffer, RecordedRequest &out)
{
    // Anything that does not start like a request line (a TLS hello, for one) is refused at
    // once rather than waited on.
    if (!buffer.isEmpty() && (buffer.front() < 'A' || buffer.front() > 'Z'))
        return Parse::Bad;
    const qsizetype end = buffer.indexOf("\r\n\r\n");
    if (end < 0)
        return buffer.size() > MaxHeaderBytes ? Parse::Bad : Parse::Incomplete;
    const QList<QByteArray> lines = buffer.left(end).split('\n');
    const QList<QByteArray> requestLine = lines.value(0).trimmed().split(' ');
    if (requestLine.size() != 3 || !requestLine.at(2).startsWith("HTTP/1."))
        return Parse::Bad;

    RecordedRequest request;
    request.method = requestLine.at(0);
    const QByteArray target = requestLine.at(1);
    const qsizetype question = target.indexOf('?');
    request.path = QString::fromLatin1(question < 0 ? target : target.left(question));
    request.query = question < 0 ? QByteArray() : target.mid(question + 1);

    qint64 contentLength = 0;
    for (qsizetype i = 1; i < lines.size(); ++i) {
        const QByteArray line = lines.at(i).trimmed();
        const qsizetype colon = line.indexOf(':');
        if (colon <= 0)
            return Parse::Bad;
        const QByteArray name = line.left(colon).trimmed();
        const QByteArray value = line.mid(colon + 1).trimmed();
        if (name.compare("Transfer-Encoding", Qt::CaseInsensitive) == 0)
            return Parse::Bad; // chunked uploads are not something our clients send
        if (name.compare("Content-Length", Qt::CaseInsensitive) == 0) {
            bool ok = false;
            contentLength = value.toLongLong(&ok);
            if (!ok || contentLength < 0)
                return Parse::Bad;
        }
        request.headers.append({ name, value });
    }

    const qsizetype bodyStart = end + 4;
    if (buffer.size() - bodyStart < contentLength)
        return Parse::Incomplete;
    request.body = buffer.mid(bodyStart, contentLength);
    out = std::move(request);
    return Parse::Complete;
}

QString queryValue(const RecordedRequest &request, const QString &key)
{
    const auto items = request.queryItems();
    for (const auto &item : items) {
        if (item.first == key)
            return item.second;
    }
    return {};
}

} // namespace

FakeServer::Answer FakeServer::Answer::withDelay(int ms) const
{
    Answer copy = *this;
    copy.delayMs = ms;
    return copy;
}

FakeServer::FakeServer(QObject *parent)
    : FakeServer(0, parent)
{ }

FakeServer::FakeServer(quint16 port, QObject *parent)
    : QObject(parent)
    , m_thread(new QThread)
    , m_server(new QTcpServer)
{
    m_thread->setObjectName(QStringLiteral("FakeServer"));
    m_server->moveToThread(m_thread);
    m_thread->start();

    quint16 listening = 0;
    QMetaObject::invokeMethod(
        m_server,
        [this, port, &listening] {
            connect(m_server, &QTcpServer::newConnection, m_server, [this] { onNewConnection(); });
            if (m_server->listen(QHostAddress::LocalHost, port))
                listening = m_server->serverPort();
            else
                qWarning("FakeServer: cannot listen on 127.0.0.1:%u: %s", unsigned(port),
                    qPrintable(m_server->errorString()));
        },
        Qt::BlockingQueuedConnection);
    m_port = listening;
}

FakeServer::~FakeServer()
{
    // Sockets are children of the server, so closing them here also ends silent exchanges.
    QMetaObject::invokeMethod(
        m_server,
        [this] {
            m_server->close();
            const auto sockets = m_server->findChildren<QTcpSocket *>();
            for (QTcpSocket *socket : sockets) {
                socket->abort();
                delete socket;
            }
            m_server->deleteLater();
        },
        Qt::BlockingQueuedConnection);
    m_thread->quit();
    m_thread->wait();
    delete m_thread;
}

quint16 FakeServer::unusedPort()
{
    QTcpServer probe;
    if (!probe.listen(QHostAddress::LocalHost, 0))
        return 0;
    const quint16 port = probe.serverPort();
    probe.close();
    return port;
}

void FakeServer::enqueue(const QString &path, const Answer &answer)
{
    QMutexLocker lock(&m_mutex);
    m_queued[path].enqueue(answer);
}

void FakeServer::setAnswer(const QString &path, const Answer &answer)
{
    setResponder(path, [answer](const RecordedRequest &) { return answer; });
}

void FakeServer::setResponder(const QString &path, Responder responder)
{
    QMutexLocker lock(&m_mutex);
    m_fixed.insert(path, std::move(responder));
}

void FakeServer::resetAnswers()
{
    // Responders run on the server thread: cleared there, none of them is still running when
    // this returns, so their owner may go.
    QMetaObject::invokeMethod(
        m_server,
        [this] {
            QMutexLocker lock(&m_mutex);
            m_queued.clear();
            m_fixed.clear();
        },
        Qt::BlockingQueuedConnection);
}

QList<RecordedRequest> FakeServer::requests() const
{
    QMutexLocker lock(&m_mutex);
    return m_requests;
}

QList<RecordedRequest> FakeServer::requests(const QString &path) const
{
    QMutexLocker lock(&m_mutex);
    QList<RecordedRequest> out;
    for (const RecordedRequest &r : m_requests) {
        if (r.path == path)
            out.append(r);
    }
    return out;
}

int FakeServer::count(const QString &path) const
{
    QMutexLocker lock(&m_mutex);
    return int(std::count_if(m_requests.cbegin(), m_requests.cend(),
        [&path](const RecordedRequest &r) { return r.path == path; }));
}

bool FakeServer::waitForRequests(const QString &path, int n, int timeoutMs) const
{
    return QTest::qWaitFor([&] { return count(path) >= n; }, timeoutMs);
}

void FakeServer::clearRequests()
{
    QMutexLocker lock(&m_mutex);
    m_requests.clear();
}

FakeServer::Answer FakeServer::json(const QJsonObject &body, int status)
{
    return raw(QJsonDocument(body).toJson(QJsonDocument::Compact), status);
}

FakeServer::Answer FakeServer::raw(
    const QByteArray &body, int status, const QByteArray &contentType)
{
    Answer a;
    a.status = status;
    a.body = body;
    a.contentType = contentType;
    return a;
}

FakeServer::Answer FakeServer::error(int httpStatus, int code, const QString &message)
{
    return json(
        QJsonObject { { QStringLiteral("code"), code }, { QStringLiteral("message"), message } },
        httpStatus);
}

FakeServer::Answer FakeServer::htmlError(int httpStatus)
{
    const QByteArray title = QByteArray::number(httpStatus) + ' ' + reasonPhrase(httpStatus);
    return raw("<!DOCTYPE html>\n<html><head><title>" + title + "</title></head>\n<body><h1>"
            + title + "</h1><hr><center>nginx</center></body></html>\n",
        httpStatus, "text/html; charset=utf-8");
}

FakeServer::Answer FakeServer::token(
    const QString &accessToken, const QString &refreshToken, int expiresIn)
{
    return json({ { QStringLiteral("token_type"), QStringLiteral("Bearer") },
        { QStringLiteral("access_token"), accessToken },
        { QStringLiteral("refresh_token"), refreshToken },
        { QStringLiteral("expires_in"), expiresIn } });
}

FakeServer::Answer FakeServer::sync(const QJsonObject &tables, qint64 timestamp)
{
    return json(
        { { QStringLiteral("timestamp"), timestamp }, { QStringLiteral("tables"), tables } });
}

FakeServer::Answer FakeServer::timeZone(const QDateTime &wallClock, const QString &zoneName)
{
    return json({ { QStringLiteral("status"), QStringLiteral("OK") },
        { QStringLiteral("message"), QString() }, { QStringLiteral("zoneName"), zoneName },
        { QStringLiteral("formatted"),
            wallClock.toString(QStringLiteral("yyyy-MM-dd hh:mm:ss")) } });
}

FakeServer::Answer FakeServer::silence()
{
    Answer a;
    a.mode = Answer::Mode::Silence;
    return a;
}

FakeServer::Answer FakeServer::closeConnection()
{
    Answer a;
    a.mode = Answer::Mode::Close;
    return a;
}

FakeServer::Answer FakeServer::truncated(const QByteArray &body)
{
    Answer a = raw(body);
    a.mode = Answer::Mode::Truncated;
    return a;
}

void FakeServer::onNewConnection()
{
    while (QTcpSocket *socket = m_server->nextPendingConnection()) {
        auto state = std::make_shared<Connection>();
        connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
        connect(socket, &QTcpSocket::readyRead, socket, [this, socket, state] {
            if (state->taken) {
                socket->readAll(); // one request per connection; the answer closes it
                return;
            }
            state->buffer += socket->readAll();
            RecordedRequest request;
            switch (parseRequest(state->buffer, request)) {
            case Parse::Incomplete:
                return;
            case Parse::Bad: {
                state->taken = true;
                const Answer bad = raw("malformed request", 400, "text/plain");
                socket->write(head(bad.status, bad.contentType, bad.body.size()) + bad.body);
                socket->disconnectFromHost();
                return;
            }
            case Parse::Complete:
                state->taken = true;
                serve(socket, request);
                return;
            }
        });
    }
}

void FakeServer::serve(QTcpSocket *socket, const RecordedRequest &request)
{
    const Answer answer = pickAnswer(request);
    auto send = [socket, answer] {
        switch (answer.mode) {
        case Answer::Mode::Silence:
            return;
        case Answer::Mode::Close:
            socket->disconnectFromHost();
            return;
        case Answer::Mode::Truncated:
            socket->write(
                head(answer.status, answer.contentType, answer.body.size() + 64) + answer.body);
            socket->disconnectFromHost();
            return;
        case Answer::Mode::Reply:
            socket->write(
                head(answer.status, answer.contentType, answer.body.size()) + answer.body);
            socket->disconnectFromHost();
            return;
        }
    };
    if (answer.delayMs > 0)
        QTimer::singleShot(answer.delayMs, socket, send);
    else
        send();
}

FakeServer::Answer FakeServer::pickAnswer(const RecordedRequest &request)
{
    QMutexLocker lock(&m_mutex);
    m_requests.append(request);
    auto queue = m_queued.find(request.path);
    if (queue != m_queued.end() && !queue->isEmpty())
        return queue->dequeue();
    const Responder responder = m_fixed.value(request.path);
    if (!responder)
        return defaultAnswer(request);
    lock.unlock();
    return responder(request);
}

// Called with m_mutex held.
FakeServer::Answer FakeServer::defaultAnswer(const RecordedRequest &request)
{
    const bool isPost = request.method == "POST";
    const QJsonObject body = request.json().object();
    const QString uuid = body.value(QStringLiteral("uuid")).toString();

    if (request.path == QLatin1String(TokenPath)) {
        if (!isPost)
            return htmlError(405);
        const QString grant = body.value(QStringLiteral("grant_type")).toString();
        if (grant == QLatin1String("uuid") && uuid.isEmpty())
            return error(400, 1001, QStringLiteral("uuid is required"));
        if (grant != QLatin1String("uuid") && grant != QLatin1String("refresh_token"))
            return error(400, 400, QStringLiteral("unsupported grant_type"));
        ++m_tokensIssued;
        return token(QStringLiteral("access-%1").arg(m_tokensIssued),
            QStringLiteral("refresh-%1").arg(m_tokensIssued));
    }
    if (request.path == QLatin1String(RegistrationPath)) {
        if (!isPost)
            return htmlError(405);
        if (uuid.isEmpty())
            return error(400, 1001, QStringLiteral("uuid is required"));
        return json({ { QStringLiteral("message"), QStringLiteral("registration requested") } });
    }
    if (request.path == QLatin1String(SyncPath)) {
        if (!isPost)
            return htmlError(405);
        return sync(QJsonObject(), QDateTime::currentSecsSinceEpoch());
    }
    if (request.path == QLatin1String(LogsPath)) {
        if (!isPost)
            return htmlError(405);
        return json(QJsonObject());
    }
    if (request.path == QLatin1String(TimeZonePath)) {
        if (request.method != "GET")
            return htmlError(405);
        const QString zone = queryValue(request, QStringLiteral("zone"));
        const QTimeZone tz(zone.toUtf8());
        const QDateTime now = QDateTime::currentDateTimeUtc();
        const QDateTime wall = tz.isValid() ? now.toTimeZone(tz) : now;
        // Keep only the wall-clock fields, as the service's "formatted" text does.
        return timeZone(QDateTime(wall.date(), wall.time()), zone);
    }
    return htmlError(404);
}
