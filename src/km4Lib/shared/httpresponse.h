#pragma once

#include <QByteArray>
#include <QList>
#include <QNetworkReply>
#include <QString>

// A finished HTTP exchange read into plain values on the thread that ran it, so it can be handed
// to any thread.
struct HttpResponse
{
    QNetworkReply::NetworkError error = QNetworkReply::NoError;
    QString errorString;
    // 0 when no HTTP status arrived (refused, unreachable, TLS failure).
    int httpStatus = 0;
    QByteArray body;
    QList<QNetworkReply::RawHeaderPair> headers;
};
