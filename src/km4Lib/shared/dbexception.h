#pragma once

#include "appexception.h"

#include <QSqlError>

// A failed SQL statement; the message depends on the kind of error, the description is the
// driver's own text.
class DBException : public AppException
{
public:
    explicit DBException(QSqlError error);
    DBException(const DBException &other) = default;
    ~DBException() override = default;

    void raise() const override;
    DBException *clone() const override;

    QString message() const override;
    QString description() const override;

    const QSqlError &error() const { return m_error; }

private:
    QSqlError m_error;
};
