#include "unknownflow.h"

#include <QObject>

UnknownFlow::UnknownFlow(AppEnv *env, AppServices services, QJsonObject args)
    : IFlow(env, services, std::move(args))
{ }

QFuture<QList<QJSValue>> UnknownFlow::run()
{
    return ready({ QJSValue(QObject::tr("Неизвестное действие")) });
}
