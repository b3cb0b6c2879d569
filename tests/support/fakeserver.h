#pragma once

#include "recordedrequest.h"
#include "testenvironment.h"

#include <QDateTime>
#include <QHash>
#include <QJsonDocument>
#include <QJsonObject>
#include <QMutex>
#include <QObject>
#include <QQueue>
#include <QUrl>

#include <functional>

class QTcpServer;
class QTcpSocket;

// Loopback stand-in for the point-of-sale server and the time-zone service: a real HTTP/1.1
// server on 127.0.0.1 that records every request (RecordedRequest).
//
// Threading: the server runs on a thread of its own, so it answers while the test thread is
// blocked or spinning an event loop, and a delayed or silent answer holds up no other request.
// Every public function is called from the test thread.
//
// The client reaches it with "--use-http", domain() "127" and host() "0.0.1:PORT", which make
// http://127.0.0.1:PORT/terminal/v1/...; the time-zone client uses timeZoneHost().
//
// A request is answered by the first that applies of: the next queued answer for its path
// (enqueue), the path's responder (setAnswer, setResponder), the built-in default:
//   POST TokenPath         grant "uuid" with a uuid, or grant "refresh_token": fresh tokens
//                          "access-N"/"refresh-N"; grant "uuid" without a uuid: 400 {"code": 1001};
//                          any other grant: 400 {"code": 400}
//   POST RegistrationPath  with a uuid: 200 {"message": ...}; without: 400 {"code": 1001}
//   POST SyncPath          200 {"timestamp": now, "tables": {}}
//   POST LogsPath          200 {}
//   GET  TimeZonePath      200 {"status": "OK", "zoneName", "formatted"}, the current wall time of
//                          the zone in the "zone" query item (UTC for an unknown zone)
//   anything else          404 (405 for a wrong method) with an HTML page
// Every answer closes its connection.
class FakeServer : public QObject
{
    Q_OBJECT

public:
    static constexpr char TokenPath[] = "/terminal/v1/oauth/token";
    static constexpr char RegistrationPath[] = "/terminal/v1/registration";
    static constexpr char SyncPath[] = "/terminal/v1/sync-db";
    static constexpr char LogsPath[] = "/terminal/v1/logs";
    static constexpr char TimeZonePath[] = "/v2.1/get-time-zone";

    struct Answer
    {
        enum class Mode {
            Reply,
            Silence, // never answer; the connection stays open until the client gives up
            // Close without a byte of answer. Qt's HTTP stack then resends the request once on a
            // new connection, so enqueue this twice (or use setAnswer) for the client to see
            // RemoteHostClosedError; both attempts are recorded.
            Close,
            Truncated, // promise more body than is sent, then close
        };
        Mode mode = Mode::Reply;
        int status = 200;
        QByteArray contentType = "application/json";
        QByteArray body;
        int delayMs = 0; // answered this late, without holding up other requests
        QByteArray location; // sent as the Location header when not empty

        [[nodiscard]] Answer withDelay(int ms) const
        {
            return { mode, status, contentType, body, ms, location };
        }
    };

    // Computes the answer to one request; called on the server thread.
    using Responder = std::function<Answer(const RecordedRequest &)>;

    // On the given loopback port, so that a server started again is found where its clients knew
    // it; 0 picks a free one.
    explicit FakeServer(quint16 port = 0, QObject *parent = nullptr);
    ~FakeServer() override;

    bool isListening() const { return m_port != 0; }
    quint16 port() const { return m_port; }
    QString domain() const { return QStringLiteral("127"); }
    QString host() const { return QStringLiteral("0.0.1:%1").arg(m_port); }
    QString timeZoneHost() const { return QStringLiteral("127.0.0.1:%1").arg(m_port); }
    QUrl baseUrl() const { return QUrl("http://" + timeZoneHost() + "/terminal/v1"); }
    // A loopback port on which nothing listens at the moment of the call.
    static quint16 unusedPort();

    // Answers for a full path, e.g. SyncPath.
    void enqueue(const QString &path, const Answer &answer); // one-shot, in order
    void setAnswer(const QString &path, const Answer &answer); // every later request
    void setResponder(const QString &path, Responder responder); // every later request
    // Back to the defaults, queues emptied; no earlier responder runs after it returns.
    void resetAnswers();

    // Recorded requests, oldest first.
    QList<RecordedRequest> requests(const QString &path = {}) const;
    int count(const QString &path) const { return int(requests(path).size()); }
    // Spins the calling thread's event loop until `n` requests to `path` have arrived in total.
    [[nodiscard]] bool waitForRequests(
        const QString &path, int n, int timeoutMs = TestEnvironment::patienceMs) const;
    void clearRequests();

    static Answer raw(const QByteArray &body, int status = 200,
        const QByteArray &contentType = "application/json")
    {
        return { Answer::Mode::Reply, status, contentType, body, 0, {} };
    }
    static Answer json(const QJsonObject &body, int status = 200)
    {
        return raw(QJsonDocument(body).toJson(QJsonDocument::Compact), status);
    }
    static Answer error(int httpStatus, int code, const QString &message)
    {
        return json({ { "code", code }, { "message", message } }, httpStatus);
    }
    static Answer htmlError(int httpStatus)
    {
        return raw("<html><body><h1>" + QByteArray::number(httpStatus) + "</h1></body></html>\n",
            httpStatus, "text/html; charset=utf-8");
    }
    static Answer token(
        const QString &accessToken, const QString &refreshToken, int expiresIn = 3600)
    {
        return json({ { "token_type", "Bearer" }, { "access_token", accessToken },
            { "refresh_token", refreshToken }, { "expires_in", expiresIn } });
    }
    static Answer sync(const QJsonObject &tables, qint64 timestamp)
    {
        return json({ { "timestamp", timestamp }, { "tables", tables } });
    }
    // "formatted" is the given wall-clock time as "yyyy-MM-dd hh:mm:ss".
    static Answer timeZone(const QDateTime &wallClock, const QString &zoneName)
    {
        return json({ { "status", "OK" }, { "message", "" }, { "zoneName", zoneName },
            { "formatted", wallClock.toString("yyyy-MM-dd hh:mm:ss") } });
    }
    static Answer redirect(const QByteArray &location, int status = 307)
    {
        return { Answer::Mode::Reply, status, "text/plain", {}, 0, location };
    }
    static Answer silence() { return { Answer::Mode::Silence, 0, {}, {}, 0, {} }; }
    static Answer closeConnection() { return { Answer::Mode::Close, 0, {}, {}, 0, {} }; }
    static Answer truncated(const QByteArray &body = R"({"timestamp": 17000)")
    {
        return { Answer::Mode::Truncated, 200, "application/json", body, 0, {} };
    }

private:
    // On the server thread.
    void accept();
    void serve(QTcpSocket *socket, const RecordedRequest &request);
    Answer defaultAnswer(const RecordedRequest &request);

    QThread *m_thread;
    QTcpServer *m_server; // lives on m_thread
    quint16 m_port = 0;

    mutable QMutex m_mutex; // guards everything below
    QList<RecordedRequest> m_requests;
    QHash<QString, QQueue<Answer>> m_queued;
    QHash<QString, Responder> m_fixed;
    int m_tokensIssued = 0;
};

Q_DECLARE_METATYPE(FakeServer::Answer)
