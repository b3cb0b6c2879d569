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

    // The value of the first header with that name, compared case-insensitively; empty if none.
    QByteArray header(const QByteArray &name) const
    {
        for (const auto &[key, value] : headers) {
            if (key.compare(name, Qt::CaseInsensitive) == 0)
                return value;
        }
        return {};
    }
};
