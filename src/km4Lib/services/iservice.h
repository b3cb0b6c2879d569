#pragma once

#include "pushtype.h"

#include <QObject>
#include <QString>

#include <functional>

// Base of every background service: started with run(), stopped with stop(); reports upward only
// through its signals.
class IService : public QObject
{
    Q_OBJECT

public:
    explicit IService(QObject *parent = nullptr);
    ~IService() override;

Q_SIGNALS:
    void error(QString titile, QString message);
    void push(PushType type, QString log);
    void request(QString title, QString message, std::function<void()> callback);

public Q_SLOTS:
    virtual void run() = 0;
    virtual void stop() = 0;
};
