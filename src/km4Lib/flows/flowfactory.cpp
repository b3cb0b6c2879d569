#include "flowfactory.h"

#include "authdomainflow.h"
#include "removedbflow.h"
#include "unknownflow.h"

#include <QDebug>

IFlow *FlowFactory::create(
    const QString &name, AppEnv *env, AppServices services, const QJsonObject &args)
{
    if (name == QLatin1String("auth_domain"))
        return new AuthDomainFlow(env, services, args);
    if (name == QLatin1String("remove_db"))
        return new RemoveDbFlow(env, services, args);
    qWarning() << "unknown flow type" << name << args;
    return new UnknownFlow(env, services, args);
}
