#include "iflow.h"

#include <QPromise>

IFlow::IFlow(AppEnv *env, AppServices, QJsonObject)
    : env(env)
{ }

IFlow::~IFlow() = default;

QFuture<QList<QJSValue>> IFlow::ready(const QList<QJSValue> &result)
{
    QPromise<QList<QJSValue>> promise;
    promise.start();
    promise.addResult(result);
    promise.finish();
    return promise.future();
}
