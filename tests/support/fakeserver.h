#pragma once

#include "recordedrequest.h"

#include <QByteArray>
#include <QDateTime>
#include <QHash>
#include <QJsonObject>
#include <QList>
#include <QMetaType>
#include <QMutex>
#include <QObject>
#include <QQueue>
#include <QString>
#include <QUrl>

#include <functional>

class QThread;
class QTcpServer;
class QTcpSocket;

// Loopback stand-in for the point-of-sale server and the time-zone service: a real HTTP/1.1
// server on 127.0.0.1 at a port picked at run time.
//
// Threading: the server runs on a thread of its own, so it answers while the test thread is
// blocked (QFuture::waitForFinished) or spinning an event loop (QTRY_*, QSignalSpy::wait), and
// a delayed or silent answer never holds up other requests. Every public function is meant to
// be called from the test thread and is safe against the server thread.
//
// The client reaches it with "--use-http", domain() "127" and host() "0.0.1:PORT", which make
// http://127.0.0.1:PORT/terminal/v1/...; the time-zone client uses timeZoneHost().
//
// Each request is answered by the first that applies of: the next queued answer for its path
// (enqueue), the path's fixed answer or responder (setAnswer, setResponder), the built-in default:
//   POST TokenPath         grant "uuid" with a uuid, or grant "refresh_token": 200 with fresh
//                          tokens "access-N"/"refresh-N" and "expires_in" 3600;
//                          grant "uuid" without a uuid: 400 {"code": 1001};
//                          any other grant: 400 {"code": 400}
//   POST RegistrationPath  with a uuid: 200 {"message": ...}; without: 400 {"code": 1001}
//   POST SyncPath          200 {"timestamp": now, "tables": {}}
//   POST LogsPath          200 {}
//   GET  TimeZonePath      200 {"status": "OK", "zoneName", "formatted"} with the current wall
//                          time of the zone in the "zone" query item (UTC for an unknown zone)
//   anything else          404 (or 405 for a wrong method) with an HTML page
// Every answer closes its connection ("Connection: close").
class FakeServer : public QObject
{
    Q_OBJECT

public:
    static constexpr char TokenPath[] = "/terminal/v1/oauth/token";
    static constexpr char RegistrationPath[] = "/terminal/v1/registration";
    static constexpr char SyncPath[] = "/terminal/v1/sync-db";
    static constexpr char LogsPath[] = "/terminal/v1/logs";
    static constexpr char TimeZonePath[] = "/v2.1/get-time-zone";

    // How one request is answered.
    struct Answer
    {
        enum class Mode {
            Reply, // status line, headers and the whole body
            Silence, // never answer; the connection stays open until the client gives up
            // Close the connection without a byte of answer. Qt's HTTP stack then resends the
            // request once on a new connection, so enqueue this twice (or use setAnswer) for
            // the client to see RemoteHostClosedError; both attempts are recorded.
            Close,
            Truncated, // promise more body than is sent, then close
        };
        Mode mode = Mode::Reply;
        int status = 200;
        QByteArray contentType = "application/json";
        QByteArray body;
        int delayMs = 0; // wait this long (without blocking other requests) before answering

        [[nodiscard]] Answer withDelay(int ms) const;
    };

    // Computes the answer to one request; called on the server thread, without the server's lock.
    using Responder = std::function<Answer(const RecordedRequest &)>;

    explicit FakeServer(QObject *parent = nullptr);
    // Listens on the given loopback port (0: one picked at run time), so that a server started
    // again is found where its clients knew it.
    explicit FakeServer(quint16 port, QObject *parent = nullptr);
    ~FakeServer() override;

    bool isListening() const { return m_port != 0; }
    quint16 port() const { return m_port; }
    // A client joins domain, "." and host: the server's address is 127.0.0.1:PORT.
    QString domain() const { return QStringLiteral("127"); }
    QString host() const { return QStringLiteral("0.0.1:%1").arg(m_port); }
    QString timeZoneHost() const { return QStringLiteral("127.0.0.1:%1").arg(m_port); }
    QUrl baseUrl() const
    {
        return QUrl(QStringLiteral("http://127.0.0.1:%1/terminal/v1").arg(m_port));
    }

    // A loopback port on which nothing listens at the moment of the call.
    static quint16 unusedPort();

    // Answers for a path (the full path, e.g. SyncPath).
    void enqueue(const QString &path, const Answer &answer); // one-shot, in order
    void setAnswer(const QString &path, const Answer &answer); // every later request
    void setResponder(const QString &path, Responder responder); // every later request
    // Back to the built-in defaults, queues emptied; no earlier responder runs after it returns.
    void resetAnswers();

    // Recorded requests, oldest first.
    QList<RecordedRequest> requests() const;
    QList<RecordedRequest> requests(const QString &path) const;
    int count(const QString &path) const;
    // Spins the calling thread's event loop until `n` requests to `path` have arrived in total.
    [[nodiscard]] bool waitForRequests(const QString &path, int n, int timeoutMs = 5000) const;
    void clearRequests();

    // Typical answers.
    static Answer json(const QJsonObject &body, int status = 200);
    static Answer raw(const QByteArray &body, int status = 200,
        const QByteArray &contentType = "application/json");
    static Answer error(int httpStatus, int code, const QString &message);
    static Answer htmlError(int httpStatus);
    static Answer token(
        const QString &accessToken, const QString &refreshToken, int expiresIn = 3600);
    static Answer sync(const QJsonObject &tables, qint64 timestamp);
    // "formatted" is the given wall-clock time as "yyyy-MM-dd hh:mm:ss".
    static Answer timeZone(const QDateTime &wallClock, const QString &zoneName);
    static Answer silence();
    static Answer closeConnection();
    static Answer truncated(const QByteArray &body = R"({"timestamp": 17000)");

private:
    // Runs on the server thread.
    void onNewConnection();
    void serve(QTcpSocket *socket, const RecordedRequest &request);
    Answer pickAnswer(const RecordedRequest &request);
    Answer defaultAnswer(const RecordedRequest &request);

    QThread *m_thread = nullptr;
    QTcpServer *m_server = nullptr; // lives on m_thread
    quint16 m_port = 0;

    mutable QMutex m_mutex; // guards everything below
    QList<RecordedRequest> m_requests;
    QHash<QString, QQueue<Answer>> m_queued;
    QHash<QString, Responder> m_fixed;
    int m_tokensIssued = 0;
};

Q_DECLARE_METATYPE(FakeServer::Answer)
