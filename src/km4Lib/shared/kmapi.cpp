#include "kmapi.h"

#include "asynchttpreply.h"
#include "httpresponse.h"
#include "kmapiexception.h"
#include "logger.h"
#include "networkexception.h"

#include "config/deploymentdefaults.h"

#include <QDateTime>
#include <QJsonDocument>
#include <QMutexLocker>
#include <QNetworkRequest>
#include <QSysInfo>

#include <algorithm>

namespace {

const QString apiPrefix = QStringLiteral("/terminal/v1");

QByteArray compact(const QJsonDocument &document)
{
    return document.toJson(QJsonDocument::Compact);
}

// A token goes into a header as it is: only visible ASCII characters, no blank, no line break.
bool usableToken(const QJsonValue &value)
{
    const QString token = value.toString();
    return value.isString() && !token.isEmpty()
        && std::all_of(token.cbegin(), token.cend(),
            [](QChar c) { return c.unicode() > 0x20 && c.unicode() < 0x7f; });
}

// A header value with a line break would end its header and start another.
bool safeHeaderValue(const QByteArray &value)
{
    return !value.contains('\r') && !value.contains('\n') && !value.contains('\0');
}

} // namespace

KMAPI::KMAPI(QObject *parent)
    : QObject(parent)
    , scheme(QStringLiteral("https"))
    , host(DeploymentDefaults::serverHost)
    , versionName(QStringLiteral("0.0.1"))
    , versionCode(QStringLiteral("1"))
    , appTag(QStringLiteral("kitchen"))
{ }

KMAPI::~KMAPI() = default;

void KMAPI::useHttps(bool enabled)
{
    QMutexLocker lock(&mutex);
    scheme = enabled ? QStringLiteral("https") : QStringLiteral("http");
}

void KMAPI::useIgnoreSslError(bool ignore)
{
    QMutexLocker lock(&mutex);
    ignoreSslError = ignore;
}

void KMAPI::setVersion(const QString &name, const QString &code)
{
    QMutexLocker lock(&mutex);
    versionName = name;
    versionCode = code;
}

void KMAPI::setHost(const QString &value)
{
    QMutexLocker lock(&mutex);
    host = value;
}

QUrl KMAPI::buildUrl(const QString &path) const
{
    return urlFor(snapshot(), path);
}

QString KMAPI::currentDomain() const
{
    QMutexLocker lock(&mutex);
    return domain;
}

qint64 KMAPI::tokenExpiresAt() const
{
    QMutexLocker lock(&mutex);
    return expiresAt;
}

APIFuture KMAPI::requestToken(const QString &newDomain, const QString &fingerprint)
{
    KM4_LOG_SCOPE();
    {
        QMutexLocker lock(&mutex);
        domain = newDomain;
    }
    const QJsonObject body { { QStringLiteral("grant_type"), QStringLiteral("uuid") },
        { QStringLiteral("uuid"), fingerprint } };
    return send(QStringLiteral("/oauth/token"), HeaderSet::Device, compact(QJsonDocument(body)),
        QUrlQuery(), Answer::Token);
}

APIFuture KMAPI::requestRefresh()
{
    KM4_LOG_SCOPE();
    QString token;
    {
        QMutexLocker lock(&mutex);
        token = refreshToken;
    }
    const QJsonObject body { { QStringLiteral("grant_type"), QStringLiteral("refresh_token") },
        { QStringLiteral("refresh_token"), token } };
    return send(QStringLiteral("/oauth/token"), HeaderSet::Device, compact(QJsonDocument(body)),
        QUrlQuery(), Answer::Token);
}

APIFuture KMAPI::requestRegistration(const QString &newDomain, const QString &fingerprint)
{
    KM4_LOG_SCOPE();
    {
        QMutexLocker lock(&mutex);
        domain = newDomain;
    }
    const QJsonObject body { { QStringLiteral("uuid"), fingerprint } };
    return send(QStringLiteral("/registration"), HeaderSet::Device, compact(QJsonDocument(body)),
        QUrlQuery(), Answer::Plain);
}

// A refreshed token that is already expired again (a server lifetime of 60 s or less) must not
// lead to another refresh: the repeated call sends at once.
APIFuture KMAPI::requestSyncDB(
    const QJsonObject &body, const qint64 &update_at, const QList<QString> &tables)
{
    if (!tokenExpired())
        return sendSyncDB(body, update_at, tables);
    const qint64 updatedAt = update_at;
    return requestRefresh()
        .then([this, body, updatedAt, tables](
                  const QJsonObject &) { return sendSyncDB(body, updatedAt, tables); })
        .unwrap();
}

APIFuture KMAPI::requestSendLogs(const QJsonArray &logs)
{
    if (!tokenExpired())
        return sendLogs(logs);
    return requestRefresh()
        .then([this, logs](const QJsonObject &) { return sendLogs(logs); })
        .unwrap();
}

APIFuture KMAPI::sendSyncDB(const QJsonObject &body, qint64 update_at, const QList<QString> &tables)
{
    const Logger scope(::extractFileName(__FILE__).c_str(), "requestSyncDB", __LINE__);
    QUrlQuery query;
    for (const QString &table : tables)
        query.addQueryItem(QStringLiteral("return_only[]"), table);
    query.addQueryItem(QStringLiteral("updated_after"), QString::number(update_at));
    return withErrorHook(send(QStringLiteral("/sync-db"), HeaderSet::Bearer,
        compact(QJsonDocument(body)), query, Answer::Plain));
}

APIFuture KMAPI::sendLogs(const QJsonArray &logs)
{
    const Logger scope(::extractFileName(__FILE__).c_str(), "requestSendLogs", __LINE__);
    return withErrorHook(send(QStringLiteral("/logs"), HeaderSet::Bearer,
        compact(QJsonDocument(logs)), QUrlQuery(), Answer::Plain));
}

KMAPI::Snapshot KMAPI::snapshot() const
{
    QMutexLocker lock(&mutex);
    return Snapshot { ignoreSslError, scheme, host, domain, accessToken, versionName, versionCode,
        appTag };
}

bool KMAPI::tokenExpired() const
{
    QMutexLocker lock(&mutex);
    return QDateTime::currentSecsSinceEpoch() > expiresAt;
}

QUrl KMAPI::urlFor(const Snapshot &s, const QString &path)
{
    return QUrl(
        s.scheme + QStringLiteral("://") + s.domain + QLatin1Char('.') + s.host + apiPrefix + path,
        QUrl::TolerantMode);
}

// The domain is typed in by the user and becomes part of the URL text, so it could move the
// request to another host or path ("evil.example/x?"). Only a URL whose host is exactly the
// account's subdomain of the server host, and whose path is the API path, may carry the device
// uuid or a token.
bool KMAPI::addressesServer(const QUrl &url, const Snapshot &s, const QString &path)
{
    QString hostName = s.host;
    int port = -1;
    const qsizetype colon = s.host.lastIndexOf(QLatin1Char(':'));
    if (colon >= 0) {
        bool ok = false;
        port = s.host.mid(colon + 1).toInt(&ok);
        if (!ok || port < 0 || port > 65535)
            return false;
        hostName = s.host.left(colon);
    }
    const QByteArray expected = QUrl::toAce(s.domain + QLatin1Char('.') + hostName);
    return !expected.isEmpty() && url.isValid() && url.scheme() == s.scheme
        && url.userInfo().isEmpty() && QUrl::toAce(url.host()) == expected && url.port() == port
        && url.path() == apiPrefix + path && !url.hasQuery() && !url.hasFragment();
}

APIFuture KMAPI::send(const QString &path, HeaderSet headers, const QByteArray &body,
    const QUrlQuery &query, Answer answer)
{
    const Snapshot s = snapshot();
    QUrl url = urlFor(s, path);
    if (!addressesServer(url, s, path)) {
        KM4_LOG(2, "Not a server address, request not sent:", url.toDisplayString());
        return QtFuture::makeExceptionalFuture<QJsonObject>(
            NetworkException(QNetworkReply::HostNotFoundError));
    }
    if (!query.isEmpty())
        url.setQuery(query);

    QNetworkRequest request(url);
    // A redirect to another host or port would carry the token or the device id there.
    request.setAttribute(
        QNetworkRequest::RedirectPolicyAttribute, QNetworkRequest::SameOriginRedirectPolicy);
    request.setHeader(QNetworkRequest::ContentTypeHeader, QStringLiteral("application/json"));
    if (headers == HeaderSet::Device) {
        request.setRawHeader("X-Version-Name", s.versionName.toLocal8Bit());
        request.setRawHeader("X-Version-Code", s.versionCode.toLocal8Bit());
        request.setRawHeader("X-Os", QSysInfo::kernelVersion().toLocal8Bit());
        request.setRawHeader("X-Model", QSysInfo::productType().toLocal8Bit());
        request.setRawHeader("X-Architecture", QSysInfo::currentCpuArchitecture().toLocal8Bit());
        request.setRawHeader("X-App", s.appTag.toLocal8Bit());
    } else {
        request.setRawHeader(
            "Authorization", (QStringLiteral("Bearer ") + s.accessToken).toLocal8Bit());
        request.setRawHeader("X-Version-Name", s.versionName.toLocal8Bit());
        request.setRawHeader("X-Version-Code", s.versionCode.toLocal8Bit());
        request.setRawHeader("X-App", s.appTag.toLocal8Bit());
    }
    for (const QByteArray &name : request.rawHeaderList()) {
        if (!safeHeaderValue(request.rawHeader(name))) {
            KM4_LOG(2, "header with a line break, request not sent:", name);
            return QtFuture::makeExceptionalFuture<QJsonObject>(
                NetworkException(QNetworkReply::ProtocolFailure));
        }
    }

    return AsyncHttpReply::postResponse(request, body, s.ignoreSslError)
        .then(
            [this, answer](const HttpResponse &response) { return handleReply(response, answer); });
}

QJsonObject KMAPI::handleReply(const HttpResponse &response, Answer answer)
{
    const QJsonObject object = QJsonDocument::fromJson(response.body).object();
    if (response.error == QNetworkReply::InsecureRedirectError) {
        KM4_LOG(2, "redirect to another origin not followed:", response.header("Location"));
    }
    if (response.error != QNetworkReply::NoError) {
        // Only a server that answered with an error status has something to say in its body;
        // a refused, unreachable or broken exchange is a network failure.
        if (response.httpStatus >= 400)
            throw KMAPIException(response.error, object);
        throw NetworkException(response.error);
    }
    if (answer == Answer::Token)
        storeTokens(object);
    return object;
}

void KMAPI::storeTokens(const QJsonObject &answer)
{
    if (!usableToken(answer.value(QStringLiteral("access_token")))) {
        KM4_LOG(2, "token answer without a usable access_token");
        throw NetworkException(QNetworkReply::ProtocolFailure);
    }
    const qint64 lifetime = answer.value(QStringLiteral("expires_in")).toInt(0);
    QMutexLocker lock(&mutex);
    accessToken = answer.value(QStringLiteral("access_token")).toString();
    refreshToken = answer.value(QStringLiteral("refresh_token")).toString();
    // Counted as expired a minute early, so a request never arrives with a token that runs out
    // on its way.
    expiresAt = QDateTime::currentSecsSinceEpoch() + lifetime - 60;
}

APIFuture KMAPI::withErrorHook(APIFuture future)
{
    return future.onFailed([this](const NetworkException &failure) -> QJsonObject {
        Q_EMIT errorRequest();
        failure.raise();
        return {};
    });
}
