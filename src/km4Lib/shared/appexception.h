#pragma once

#include <QException>
#include <QString>

// Root of every failure the system throws. Deriving from QException lets a QFuture carry the
// exception across threads with its dynamic type intact, so failure handlers can catch a
// subclass and still get the overriding message().
class AppException : public QException
{
public:
    AppException() = default;
    AppException(const AppException &other) = default;
    ~AppException() override = default;

    void raise() const override;
    AppException *clone() const override;

    // Short text for the user.
    virtual QString message() const;
    // Technical detail for the log.
    virtual QString description() const;
};
