#include "flowrunner.h"

#include "iflow.h"
#include "shared/appexception.h"

#include <QCoreApplication>
#include <QFuture>
#include <QObject>

#include <exception>

namespace {

class PendingFlow
{
public:
    PendingFlow(std::unique_ptr<IFlow> flow, QJSValue callback)
        : flow(std::move(flow))
        , callback(std::move(callback))
    { }

    void finish(const QList<QJSValue> &result)
    {
        if (!flow)
            return;
        flow.reset();
        const QJSValue target = callback;
        callback = QJSValue();
        if (target.isCallable())
            target.call(result);
    }

private:
    std::unique_ptr<IFlow> flow;
    QJSValue callback;
};

QList<QJSValue> genericFailure()
{
    return { QJSValue(QObject::tr("Неизвестная ошибка")) };
}

QList<QJSValue> failureResult(const std::exception_ptr &failure)
{
    try {
        std::rethrow_exception(failure);
    } catch (const AppException &e) {
        const QString text = e.message();
        if (!text.isEmpty())
            return { QJSValue(text) };
    } catch (...) {
    }
    return genericFailure();
}

} // namespace

void FlowRunner::start(std::unique_ptr<IFlow> flow, QJSValue callback)
{
    QFuture<QList<QJSValue>> future;
    try {
        future = flow->run();
    } catch (...) {
        // Nothing thrown may reach QML; the screen waits for an answer.
        const auto failure = std::current_exception();
        PendingFlow(std::move(flow), std::move(callback)).finish(failureResult(failure));
        return;
    }

    auto pending = std::make_shared<PendingFlow>(std::move(flow), std::move(callback));
    QObject *context = QCoreApplication::instance();
    future
        .then(context,
            [pending](QFuture<QList<QJSValue>> finished) {
                QList<QJSValue> result;
                try {
                    finished.waitForFinished(); // rethrows the flow's failure, if any
                    result = finished.resultCount() > 0 ? finished.result() : genericFailure();
                } catch (...) {
                    result = failureResult(std::current_exception());
                }
                pending->finish(result);
            })
        .onCanceled(context, [pending] { pending->finish(genericFailure()); });
}
