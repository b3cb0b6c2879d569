#pragma once

#include <QByteArray>
#include <QElapsedTimer>
#include <QJsonDocument>
#include <QList>
#include <QPair>
#include <QString>

// One HTTP request as the loopback server double received it, byte for byte: tests assert on
// the wire format (method, path, query order, header order, body) without any re-encoding.
struct RecordedRequest
{
    QByteArray method;
    QString path; // the request target up to "?", as sent (no percent-decoding)
    QByteArray query; // the raw query string after "?", order and encoding as sent
    QList<QPair<QByteArray, QByteArray>> headers; // in arrival order, names as sent
    QByteArray body;
    // Started once the whole request was in; a delayed answer leaves no earlier than its delay
    // after that.
    QElapsedTimer arrived;

    // Value of the first header with that name (compared case-insensitively); empty if absent.
    QByteArray header(const QByteArray &name) const;
    // Query items in order, decoded as a web server does ("+" is a blank, "%2B" a plus sign);
    // repeated keys keep every item.
    QList<QPair<QString, QString>> queryItems() const;
    // The body parsed as JSON; a null document when it is not JSON.
    QJsonDocument json() const { return QJsonDocument::fromJson(body); }
};
