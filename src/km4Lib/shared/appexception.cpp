#include "appexception.h"

#include <QObject>

void AppException::raise() const
{
    throw *this;
}

AppException *AppException::clone() const
{
    return new AppException(*this);
}

QString AppException::message() const
{
    return QObject::tr("Неизвестная ошибка");
}

QString AppException::description() const
{
    return QString();
}
