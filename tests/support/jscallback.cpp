#include "jscallback.h"

#include <QTest>

JsCallback::JsCallback(QObject *parent)
    : QObject(parent)
{
    QJSEngine::setObjectOwnership(this, QJSEngine::CppOwnership);
    engine.globalObject().setProperty(QStringLiteral("recorder"), engine.newQObject(this));
    m_function = engine.evaluate(QStringLiteral(
        "(function() { recorder.record(Array.prototype.slice.call(arguments)); })"));
}

JsCallback::~JsCallback() = default;

bool JsCallback::waitForCalls(int n, int timeoutMs) const
{
    return QTest::qWaitFor([this, n] { return calls.size() >= n; }, timeoutMs);
}

void JsCallback::record(const QVariantList &arguments)
{
    calls.append(arguments);
    threads.append(QThread::currentThread());
}
