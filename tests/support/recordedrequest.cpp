#include "recordedrequest.h"

#include <QUrl>

QByteArray RecordedRequest::header(const QByteArray &name) const
{
    for (const auto &h : headers) {
        if (h.first.compare(name, Qt::CaseInsensitive) == 0)
            return h.second;
    }
    return {};
}

QList<QPair<QString, QString>> RecordedRequest::queryItems() const
{
    QList<QPair<QString, QString>> items;
    if (query.isEmpty())
        return items;
    for (const QByteArray &part : query.split('&')) {
        const qsizetype eq = part.indexOf('=');
        const QByteArray key = eq < 0 ? part : part.left(eq);
        const QByteArray value = eq < 0 ? QByteArray() : part.mid(eq + 1);
        // Decoded as a web server does: a bare "+" is a blank, "%2B" a plus sign.
        auto decode
            = [](QByteArray text) { return QUrl::fromPercentEncoding(text.replace('+', ' ')); };
        items.append({ decode(key), decode(value) });
    }
    return items;
}

QJsonDocument RecordedRequest::json() const
{
    return QJsonDocument::fromJson(body);
}
