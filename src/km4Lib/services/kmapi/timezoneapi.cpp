#include "timezoneapi.h"

#include "config/deploymentdefaults.h"
#include "shared/asynchttpreply.h"
#include "shared/httpresponse.h"
#include "shared/networkexception.h"

#include <QJsonDocument>
#include <QMutex>
#include <QMutexLocker>
#include <QNetworkRequest>
#include <QUrl>
#include <QUrlQuery>

namespace {

QMutex hostMutex;
QString hostOverride;

} // namespace

QString TimezoneApi::serviceHost()
{
    QMutexLocker lock(&hostMutex);
    return hostOverride.isEmpty() ? DeploymentDefaults::timeZoneHost : hostOverride;
}

void TimezoneApi::setServiceHost(const QString &host)
{
    QMutexLocker lock(&hostMutex);
    hostOverride = host;
}

QFuture<TimezoneResponce> TimezoneApi::requestTime(const QString &zone) const
{
    QUrl url(QStringLiteral("http://") + serviceHost() + QStringLiteral("/v2.1/get-time-zone"));
    QUrlQuery query;
    query.addQueryItem(QStringLiteral("format"), QStringLiteral("json"));
    query.addQueryItem(QStringLiteral("by"), QStringLiteral("zone"));
    // QUrlQuery leaves a "+" as it is, and the service reads a bare "+" as a blank: "Etc/GMT+3"
    // would arrive as "Etc/GMT 3".
    query.addQueryItem(
        QStringLiteral("zone"), QString(zone).replace(QLatin1Char('+'), QStringLiteral("%2B")));
    query.addQueryItem(QStringLiteral("key"), QString::fromLatin1(apiKey));
    url.setQuery(query);

    QNetworkRequest request(url);
    request.setHeader(QNetworkRequest::ContentTypeHeader, QStringLiteral("application/json"));
    return AsyncHttpReply::getResponse(request, false).then([](const HttpResponse &response) {
        if (response.error != QNetworkReply::NoError)
            throw NetworkException(response.error);
        return TimezoneResponce(QJsonDocument::fromJson(response.body).object());
    });
}
