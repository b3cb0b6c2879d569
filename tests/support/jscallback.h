#pragma once

#include <QJSEngine>
#include <QJSValue>
#include <QList>
#include <QObject>
#include <QThread>
#include <QVariantList>

// A JavaScript function in a real engine that records each call: its arguments and the thread it
// ran on. Hand function() to AppCore::dispatch as the QML callback.
class JsCallback : public QObject
{
    Q_OBJECT

public:
    explicit JsCallback(QObject *parent = nullptr);
    ~JsCallback() override;

    QJSValue function() const { return m_function; }

    int count() const { return int(calls.size()); }
    // The arguments of the call, or an empty list when there was none.
    QVariantList arguments(int call = 0) const { return calls.value(call); }
    QThread *thread(int call = 0) const { return threads.value(call); }
    [[nodiscard]] bool waitForCalls(int n, int timeoutMs = 10000) const;

    Q_INVOKABLE void record(const QVariantList &arguments);

private:
    QJSEngine engine;
    QJSValue m_function;
    QList<QVariantList> calls;
    QList<QThread *> threads;
};
