#pragma once

#include "testenvironment.h"

#include <QJSEngine>
#include <QTest>
#include <QThread>

// A JavaScript function in a real engine that records each call: its arguments and the thread it
// ran on. Hand function() to AppCore::dispatch as the QML callback.
class JsCallback : public QObject
{
    Q_OBJECT

public:
    JsCallback()
    {
        QJSEngine::setObjectOwnership(this, QJSEngine::CppOwnership);
        engine.globalObject().setProperty(QStringLiteral("recorder"), engine.newQObject(this));
        m_function = engine.evaluate(QStringLiteral(
            "(function() { recorder.record(Array.prototype.slice.call(arguments)); })"));
    }

    QJSValue function() const { return m_function; }
    int count() const { return int(calls.size()); }
    // The arguments of the call, or an empty list when there was none.
    QVariantList arguments(int call = 0) const { return calls.value(call); }
    QThread *thread(int call = 0) const { return threads.value(call); }
    [[nodiscard]] bool waitForCalls(int n, int timeoutMs = TestEnvironment::patienceMs) const
    {
        return QTest::qWaitFor([this, n] { return calls.size() >= n; }, timeoutMs);
    }

    Q_INVOKABLE void record(const QVariantList &arguments)
    {
        calls.append(arguments);
        threads.append(QThread::currentThread());
    }

private:
    QJSEngine engine;
    QJSValue m_function;
    QList<QVariantList> calls;
    QList<QThread *> threads;
};
