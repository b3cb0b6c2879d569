#include "asynchttpreply.h"

#include "networkexception.h"
#include "threadstorage.h"

#include <QEventLoop>
#include <QNetworkAccessManager>
#include <QTimer>
#include <QtConcurrent>

#include <atomic>

namespace {

std::atomic<int> timeout { AsyncHttpReply::defaultTimeoutMs };

// Sends the request on the calling pool thread and waits for the reply. Returns the finished
// reply, or throws the time-out after aborting and releasing it.
QNetworkReply *exchange(
    const QNetworkRequest &request, const QByteArray *body, bool ignoreSslErrors)
{
    QNetworkAccessManager *manager = ThreadStorage::instance()->qnam();
    QEventLoop loop;
    QNetworkReply *reply = body ? manager->post(request, *body) : manager->get(request);
    if (ignoreSslErrors)
        reply->ignoreSslErrors();
    QTimer::singleShot(timeout.load(), Qt::CoarseTimer, &loop, &QEventLoop::quit);
    QObject::connect(reply, &QNetworkReply::finished, &loop, &QEventLoop::quit);
    if (!reply->isFinished())
        loop.exec();
    if (reply->isFinished())
        return reply;
    reply->abort();
    reply->deleteLater();
    throw NetworkException(QNetworkReply::TimeoutError);
}

HttpResponse readAndRelease(QNetworkReply *reply)
{
    HttpResponse response;
    response.error = reply->error();
    response.errorString = reply->errorString();
    response.httpStatus = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    response.body = reply->readAll();
    response.headers = reply->rawHeaderPairs();
    // On its own thread and outside its signals, so it can go at once.
    delete reply;
    return response;
}

} // namespace

QFuture<QNetworkReply *> AsyncHttpReply::get(QNetworkRequest request, bool ignoreSslErrors)
{
    return QtConcurrent::run([request = std::move(request), ignoreSslErrors] {
        return exchange(request, nullptr, ignoreSslErrors);
    });
}

QFuture<QNetworkReply *> AsyncHttpReply::post(
    QNetworkRequest request, QByteArray body, bool ignoreSslErrors)
{
    return QtConcurrent::run(
        [request = std::move(request), body = std::move(body), ignoreSslErrors] {
            return exchange(request, &body, ignoreSslErrors);
        });
}

QFuture<HttpResponse> AsyncHttpReply::getResponse(QNetworkRequest request, bool ignoreSslErrors)
{
    return QtConcurrent::run([request = std::move(request), ignoreSslErrors] {
        return readAndRelease(exchange(request, nullptr, ignoreSslErrors));
    });
}

QFuture<HttpResponse> AsyncHttpReply::postResponse(
    QNetworkRequest request, QByteArray body, bool ignoreSslErrors)
{
    return QtConcurrent::run(
        [request = std::move(request), body = std::move(body), ignoreSslErrors] {
            return readAndRelease(exchange(request, &body, ignoreSslErrors));
        });
}

int AsyncHttpReply::timeoutMs()
{
    return timeout.load();
}

void AsyncHttpReply::setTimeoutMs(int ms)
{
    timeout.store(ms > 0 ? ms : defaultTimeoutMs);
}
