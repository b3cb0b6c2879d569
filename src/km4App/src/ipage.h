#pragma once

#include <QObject>

// Base of the objects behind the screens: a page can be told that it was shown or hidden.
class IPage : public QObject
{
    Q_OBJECT

public:
    using QObject::QObject;
    ~IPage() override;

public Q_SLOTS:
    virtual void enabled() = 0;
    virtual void disabled() = 0;
};
