#pragma once

#include "appexception.h"

#include <QNetworkReply>

// A failed or timed-out HTTP exchange, described by Qt's network error code.
class NetworkException : public AppException
{
public:
    explicit NetworkException(QNetworkReply::NetworkError code);
    NetworkException(const NetworkException &other) = default;
    ~NetworkException() override = default;

    void raise() const override;
    NetworkException *clone() const override;

    QString message() const override;
    QString description() const override;

    QNetworkReply::NetworkError networkError() const { return m_code; }

private:
    QNetworkReply::NetworkError m_code;
};
