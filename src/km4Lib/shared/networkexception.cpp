#include "networkexception.h"

#include <QObject>

NetworkException::NetworkException(QNetworkReply::NetworkError code)
    : m_code(code)
{
}

void NetworkException::raise() const
{
    throw *this;
}

NetworkException *NetworkException::clone() const
{
    return new NetworkException(*this);
}

QString NetworkException::message() const
{
    switch (m_code) {
    case QNetworkReply::ConnectionRefusedError:
        return QObject::tr("Cервер отказал в подключении");
    case QNetworkReply::RemoteHostClosedError:
        return QObject::tr("Cервер преждевременно разорвал соединение");
    case QNetworkReply::HostNotFoundError:
        return QObject::tr("Имя хоста не найдено");
    case QNetworkReply::TimeoutError:
        return QObject::tr("Время ожидания подключения к серверу истекло");
    case QNetworkReply::OperationCanceledError:
        return QObject::tr("Запрос был отменен");
    case QNetworkReply::SslHandshakeFailedError:
        return QObject::tr("Не удалось установить связь по протоколу SSL/TLS");
    case QNetworkReply::TemporaryNetworkFailureError:
    case QNetworkReply::NetworkSessionFailedError:
        return QObject::tr("Соединение было прервано из-за отключения от сети");
    case QNetworkReply::BackgroundRequestNotAllowedError:
        return QObject::tr("Запрос в настоящее время запрещен из-за политики платформы");
    case QNetworkReply::TooManyRedirectsError:
        return QObject::tr("Слишком много перенаправлений");
    case QNetworkReply::InsecureRedirectError:
        return QObject::tr("При отслеживании перенаправлений API сетевого доступа обнаружил "
                           "перенаправление с зашифрованного протокола (https) на "
                           "незашифрованный (http)");
    case QNetworkReply::ProxyConnectionRefusedError:
        return QObject::tr("В подключении к прокси-серверу было отказано");
    case QNetworkReply::ProxyConnectionClosedError:
        return QObject::tr("Прокси-сервер преждевременно разорвал соединение");
    case QNetworkReply::ProxyNotFoundError:
        return QObject::tr("Имя прокси-сервера не было найдено");
    case QNetworkReply::ProxyTimeoutError:
        return QObject::tr("Время ожидания подключения к прокси-серверу истекло,");
    case QNetworkReply::ProxyAuthenticationRequiredError:
        return QObject::tr("Прокси-сервер требует аутентификации для выполнения запроса");
    case QNetworkReply::UnknownProxyError:
        return QObject::tr("Неизвестная ошибка прокси");
    case QNetworkReply::ContentAccessDenied:
        return QObject::tr("Требуется авторизация");
    case QNetworkReply::ContentOperationNotPermittedError:
        return QObject::tr("Запрошенная операция с удаленным контентом запрещена");
    case QNetworkReply::ContentNotFoundError:
        return QObject::tr("Контент не был найден на сервере");
    case QNetworkReply::AuthenticationRequiredError:
        return QObject::tr("Требуется аутентификация");
    case QNetworkReply::ContentConflictError:
        return QObject::tr("Запрос не удалось выполнить из-за конфликта с текущим состоянием "
                           "ресурса.");
    case QNetworkReply::ContentGoneError:
        return QObject::tr("запрошенный ресурс больше не доступен на сервере");
    case QNetworkReply::UnknownContentError:
        return QObject::tr("Неизвестная ошибка запроса");
    case QNetworkReply::ProtocolUnknownError:
        return QObject::tr("Неизвестный протокол");
    case QNetworkReply::ProtocolFailure:
        return QObject::tr("Ошибка протокола");
    case QNetworkReply::InternalServerError:
        return QObject::tr("Внутрення ошибка сервера");
    case QNetworkReply::OperationNotImplementedError:
        return QObject::tr("Сервер не поддерживает функциональность, необходимую для "
                           "выполнения запроса.");
    case QNetworkReply::ServiceUnavailableError:
        return QObject::tr("В данный момент сервер не может обработать запрос.");
    case QNetworkReply::UnknownServerError:
        return QObject::tr("Неизвестная ошибка сервера");
    default:
        return QObject::tr("Неизвестная ошибка сети");
    }
}

QString NetworkException::description() const
{
    return QString();
}
