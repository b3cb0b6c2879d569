#include "kmapiexception.h"

#include <QJsonValue>
#include <QObject>

KMAPIException::KMAPIException(QNetworkReply::NetworkError code, QJsonObject body)
    : NetworkException(code)
    , m_body(std::move(body))
{
}

void KMAPIException::raise() const
{
    throw *this;
}

KMAPIException *KMAPIException::clone() const
{
    return new KMAPIException(*this);
}

int KMAPIException::code() const
{
    return m_body.value(QStringLiteral("code")).toInt(0);
}

QString KMAPIException::message() const
{
    switch (code()) {
    case 1001:
        return QObject::tr("Требуется uuid");
    case 1002:
        return QObject::tr("Запрос на регистрацию уже отправлен");
    case 1003:
        return QObject::tr("Терминал с таким uuid уже зарегистрирован в системе");
    default:
        return QObject::tr("Неизвестная ошибка апи");
    }
}

QString KMAPIException::description() const
{
    return m_body.value(QStringLiteral("message")).toString();
}
