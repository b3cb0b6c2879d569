#pragma once

#include <QFuture>
#include <QJsonArray>
#include <QJsonObject>
#include <QList>
#include <QMutex>
#include <QObject>
#include <QString>
#include <QUrl>
#include <QUrlQuery>

struct HttpResponse;

using APIFuture = QFuture<QJsonObject>;

// The single client of the point-of-sale server's HTTP API: addresses the paired account's
// subdomain, sends the client headers, logs in with the device identifier, keeps the access token
// fresh and turns every answer into a JSON object or a failure (KMAPIException when the server
// answered with an HTTP error, NetworkException when no answer came).
//
// Requests are started from the GUI thread and from pool threads, and their answers are handled
// on the pool thread that ran the exchange, so every field is read and written under one lock.
class KMAPI : public QObject
{
    Q_OBJECT

public:
    explicit KMAPI(QObject *parent = nullptr);
    ~KMAPI() override;

    void useHttps(bool enabled);
    void useIgnoreSslError(bool ignore);
    void setVersion(const QString &versionName, const QString &versionCode);
    void setHost(const QString &host);

    // scheme://domain.host/terminal/v1<path>
    QUrl buildUrl(const QString &path) const;

    // The account domain the next request addresses.
    QString currentDomain() const;
    // Seconds since the epoch after which the access token counts as expired.
    qint64 tokenExpiresAt() const;

public Q_SLOTS:
    [[nodiscard]] APIFuture requestToken(const QString &domain, const QString &fingerprint);
    [[nodiscard]] APIFuture requestRefresh();
    [[nodiscard]] APIFuture requestRegistration(const QString &domain, const QString &fingerprint);
    [[nodiscard]] APIFuture requestSyncDB(const QJsonObject &body, const qint64 &update_at,
        const QList<QString> &tables = QList<QString>());
    [[nodiscard]] APIFuture requestSendLogs(const QJsonArray &logs);

Q_SIGNALS:
    // One failed "/sync-db" or "/logs" exchange.
    void errorRequest();

private:
    enum class HeaderSet { Device, Bearer };
    enum class Answer { Plain, Token };

    // The fields one request is built from, read together under the lock.
    struct Snapshot
    {
        bool ignoreSslError = false;
        QString scheme;
        QString host;
        QString domain;
        QString accessToken;
        QString versionName;
        QString versionCode;
        QString appTag;
    };

    Snapshot snapshot() const;
    bool tokenExpired() const;
    static QUrl urlFor(const Snapshot &s, const QString &path);
    static bool addressesServer(const QUrl &url, const Snapshot &s, const QString &path);

    [[nodiscard]] APIFuture send(const QString &path, HeaderSet headers, const QByteArray &body,
        const QUrlQuery &query, Answer answer);
    QJsonObject handleReply(const HttpResponse &response, Answer answer);
    void storeTokens(const QJsonObject &answer);
    // Counts a failed exchange and passes the failure on unchanged.
    [[nodiscard]] APIFuture withErrorHook(APIFuture future);

    [[nodiscard]] APIFuture sendSyncDB(
        const QJsonObject &body, qint64 update_at, const QList<QString> &tables);
    [[nodiscard]] APIFuture sendLogs(const QJsonArray &logs);

    mutable QMutex mutex; // guards every field below
    bool ignoreSslError = false;
    QString scheme;
    QString host;
    QString domain;
    QString accessToken;
    QString refreshToken;
    qint64 expiresAt = 0;
    QString versionName;
    QString versionCode;
    QString appTag;
};
