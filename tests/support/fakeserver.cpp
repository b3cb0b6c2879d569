#include "fakeserver.h"

#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>
#include <QThread>
#include <QTimeZone>
#include <QTimer>
#include <QUrlQuery>

namespace {

using Mode = FakeServer::Answer::Mode;

enum class Parse { Incomplete, Complete, Bad };

// Parses the request at the front of `buffer`: a request line, headers and a body of
// Content-Length bytes, which is all our clients send. Anything else (a TLS hello, a chunked
// body, a head without end) is refused at once rather than waited on.
Parse parse(const QByteArray &buffer, RecordedRequest &out)
{
    if (!buffer.isEmpty() && (buffer.front() < 'A' || buffer.front() > 'Z'))
        return Parse::Bad;
    const qsizetype end = buffer.indexOf("\r\n\r\n");
    if (end < 0)
        return buffer.size() > 64 * 1024 ? Parse::Bad : Parse::Incomplete;
    QList<QByteArray> lines = buffer.left(end).split('\n');
    const QList<QByteArray> requestLine = lines.takeFirst().trimmed().split(' ');
    if (requestLine.size() != 3 || !requestLine.at(2).startsWith("HTTP/1."))
        return Parse::Bad;
    out.method = requestLine.at(0);
    const QByteArray target = requestLine.at(1);
    const qsizetype question = target.contains('?') ? target.indexOf('?') : target.size();
    out.path = QString::fromLatin1(target.left(question));
    out.query = target.mid(question + 1);
    qint64 length = 0;
    for (const QByteArray &line : std::as_const(lines)) {
        const qsizetype colon = line.indexOf(':');
        const QByteArray name = line.left(colon).trimmed();
        if (colon <= 0 || name.compare("Transfer-Encoding", Qt::CaseInsensitive) == 0)
            return Parse::Bad;
        out.headers.append({ name, line.mid(colon + 1).trimmed() });
        if (name.compare("Content-Length", Qt::CaseInsensitive) == 0)
            length = out.headers.constLast().second.toLongLong();
    }
    if (buffer.size() - end - 4 < length)
        return Parse::Incomplete;
    out.body = buffer.mid(end + 4, length);
    return Parse::Complete;
}

void send(QTcpSocket *socket, const FakeServer::Answer &answer)
{
    if (answer.mode == Mode::Silence)
        return;
    const qsizetype promised = answer.body.size() + (answer.mode == Mode::Truncated ? 64 : 0);
    if (answer.mode != Mode::Close)
        socket->write("HTTP/1.1 " + QByteArray::number(answer.status)
            + (answer.status < 400 ? " OK" : " Error") + "\r\nContent-Type: " + answer.contentType
            + "\r\nContent-Length: " + QByteArray::number(promised)
            + (answer.location.isEmpty() ? QByteArray() : "\r\nLocation: " + answer.location)
            + "\r\nConnection: close\r\n\r\n" + answer.body);
    socket->disconnectFromHost();
}

// Decoded as a web server does: a bare "+" is a blank, "%2B" a plus sign.
QUrlQuery decoded(const QByteArray &query)
{
    return QUrlQuery(QString::fromLatin1(query).replace('+', ' '));
}

} // namespace

QByteArray RecordedRequest::header(const QByteArray &name) const
{
    for (const auto &[key, value] : headers) {
        if (key.compare(name, Qt::CaseInsensitive) == 0)
            return value;
    }
    return {};
}

QList<QPair<QString, QString>> RecordedRequest::queryItems() const
{
    return decoded(query).queryItems(QUrl::FullyDecoded);
}

FakeServer::FakeServer(quint16 port, QObject *parent)
    : QObject(parent)
    , m_thread(new QThread)
    , m_server(new QTcpServer)
{
    m_port = m_server->listen(QHostAddress::LocalHost, port) ? m_server->serverPort() : 0;
    connect(m_server, &QTcpServer::newConnection, m_server, [this] { accept(); });
    m_server->moveToThread(m_thread);
    m_thread->start();
}

FakeServer::~FakeServer()
{
    // The sockets are the server's children: deleting it also ends silent exchanges.
    QMetaObject::invokeMethod(
        m_server, [this] { delete m_server; }, Qt::BlockingQueuedConnection);
    m_thread->quit();
    m_thread->wait();
    delete m_thread;
}

quint16 FakeServer::unusedPort()
{
    QTcpServer probe;
    return probe.listen(QHostAddress::LocalHost, 0) ? probe.serverPort() : 0;
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

QList<RecordedRequest> FakeServer::requests(const QString &path) const
{
    QMutexLocker lock(&m_mutex);
    QList<RecordedRequest> out;
    std::copy_if(m_requests.cbegin(), m_requests.cend(), std::back_inserter(out),
        [&path](const RecordedRequest &r) { return path.isEmpty() || r.path == path; });
    return out;
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

void FakeServer::accept()
{
    while (QTcpSocket *socket = m_server->nextPendingConnection()) {
        connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
        connect(socket, &QTcpSocket::readyRead, socket, [this, socket] {
            RecordedRequest request;
            const Parse parsed = parse(socket->peek(socket->bytesAvailable()), request);
            if (parsed == Parse::Incomplete)
                return;
            request.arrived.start();
            // One request per connection: the answer closes it.
            disconnect(socket, &QTcpSocket::readyRead, socket, nullptr);
            if (parsed == Parse::Bad)
                send(socket, raw("malformed request", 400, "text/plain"));
            else
                serve(socket, request);
        });
    }
}

void FakeServer::serve(QTcpSocket *socket, const RecordedRequest &request)
{
    QMutexLocker lock(&m_mutex);
    m_requests.append(request);
    Answer answer;
    if (!m_queued.value(request.path).isEmpty()) {
        answer = m_queued[request.path].dequeue();
    } else if (const Responder responder = m_fixed.value(request.path)) {
        lock.unlock();
        answer = responder(request);
    } else {
        answer = defaultAnswer(request);
    }
    QTimer::singleShot(answer.delayMs, socket, [socket, answer] { send(socket, answer); });
}

// Called with m_mutex held.
FakeServer::Answer FakeServer::defaultAnswer(const RecordedRequest &request)
{
    const QString &path = request.path;
    const QStringList known { TokenPath, RegistrationPath, SyncPath, LogsPath, TimeZonePath };
    if (!known.contains(path) || request.method != (path == TimeZonePath ? "GET" : "POST"))
        return htmlError(known.contains(path) ? 405 : 404);
    const QJsonObject body = request.json().object();
    const QString grant = body.value("grant_type").toString();
    const bool needsUuid = path == RegistrationPath || (path == TokenPath && grant == "uuid");
    if (needsUuid && body.value("uuid").toString().isEmpty())
        return error(400, 1001, "uuid is required");
    if (path == TokenPath && grant != "uuid" && grant != "refresh_token")
        return error(400, 400, "unsupported grant_type");
    if (path == TokenPath) {
        ++m_tokensIssued;
        return token(QStringLiteral("access-%1").arg(m_tokensIssued),
            QStringLiteral("refresh-%1").arg(m_tokensIssued));
    }
    if (path == RegistrationPath)
        return json({ { "message", "registration requested" } });
    if (path == SyncPath)
        return sync({}, QDateTime::currentSecsSinceEpoch());
    if (path == LogsPath)
        return json({});
    const QString name = decoded(request.query).queryItemValue("zone", QUrl::FullyDecoded);
    const QTimeZone tz(name.toUtf8());
    const QDateTime now = QDateTime::currentDateTimeUtc();
    return timeZone(tz.isValid() ? now.toTimeZone(tz) : now, name);
}
