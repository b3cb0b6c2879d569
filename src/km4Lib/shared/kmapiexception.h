#pragma once

#include "networkexception.h"

#include <QJsonObject>

// An HTTP error that the server answered with its JSON error object {"code", "message"}.
class KMAPIException : public NetworkException
{
public:
    KMAPIException(QNetworkReply::NetworkError code, QJsonObject body);
    KMAPIException(const KMAPIException &other) = default;
    ~KMAPIException() override = default;

    void raise() const override;
    KMAPIException *clone() const override;

    QString message() const override;
    QString description() const override;

    int code() const;
    const QJsonObject &body() const { return m_body; }

private:
    QJsonObject m_body;
};
