#include "dbexception.h"

#include <QObject>

DBException::DBException(QSqlError error)
    : m_error(std::move(error))
{
}

void DBException::raise() const
{
    throw *this;
}

DBException *DBException::clone() const
{
    return new DBException(*this);
}

QString DBException::message() const
{
    switch (m_error.type()) {
    case QSqlError::ConnectionError:
    case QSqlError::UnknownError:
        return QObject::tr("Ошибка подключения к базе данных");
    case QSqlError::StatementError:
        return QObject::tr("Синтаксическая ошибка SQL");
    case QSqlError::TransactionError:
        return QObject::tr("Ошибка транзакции");
    default:
        return QObject::tr("Неизвестная ошибка базы данных");
    }
}

QString DBException::description() const
{
    return m_error.text();
}
