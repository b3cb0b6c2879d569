#pragma once

#include "httpresponse.h"

#include <QByteArray>
#include <QFuture>
#include <QNetworkReply>
#include <QNetworkRequest>

// Runs one HTTP exchange as a task on Qt's global thread pool, on the pool thread's own network
// access manager, and waits for it at most timeoutMs() (10000 ms unless changed). A time-out fails
// the future with NetworkException(TimeoutError); every other outcome, an HTTP error or a network
// failure included, is a finished exchange that the caller inspects.
class AsyncHttpReply
{
public:
    // The finished reply itself. It lives on the pool thread and belongs to the caller; read it
    // only in a continuation that runs there. Prefer getResponse()/postResponse().
    [[nodiscard]] static QFuture<QNetworkReply *> get(
        QNetworkRequest request, bool ignoreSslErrors);
    [[nodiscard]] static QFuture<QNetworkReply *> post(
        QNetworkRequest request, QByteArray body, bool ignoreSslErrors);

    // The finished exchange read inside the task; the reply is deleted there.
    [[nodiscard]] static QFuture<HttpResponse> getResponse(
        QNetworkRequest request, bool ignoreSslErrors);
    [[nodiscard]] static QFuture<HttpResponse> postResponse(
        QNetworkRequest request, QByteArray body, bool ignoreSslErrors);

    static int timeoutMs();
    // Values of 0 or less restore the default.
    static void setTimeoutMs(int ms);

    static constexpr int defaultTimeoutMs = 10000;
};
