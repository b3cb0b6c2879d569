#include "removedbflow.h"

#include "core/appenv.h"
#include "services/db/dbservice.h"
#include "services/env/envservice.h"
#include "services/kmapi/ipointservice.h"
#include "services/syncDB/httpsyncdbservice.h"
#include "shared/logger.h"
#include "shared/threadstorage.h"

#include <QSqlError>
#include <QSqlQuery>

RemoveDbFlow::RemoveDbFlow(AppEnv *env, AppServices services, QJsonObject args)
    : IFlow(env, services, std::move(args))
    , services(services)
{ }

QFuture<QList<QJSValue>> RemoveDbFlow::run()
{
    KM4_LOG_SCOPE();
    const QList<IService *> stopped { services.dbService, services.envService,
        services.syncDBService, services.pointService };
    for (IService *service : stopped)
        service->stop();

    env->reset();
    services.dbService->downAllMigrations();
    services.dbService->run();
    services.envService->run();

    // A synchronisation that ended while the sync service was being stopped may still have its
    // time stamp on the way to the environment; it belongs to the account just removed.
    AppEnv *environment = env;
    QMetaObject::invokeMethod(
        environment, [environment] { environment->lastUpdate.set(0); }, Qt::QueuedConnection);

    if (!localDataIsGone())
        return ready({ QJSValue(QObject::tr("Не удалось удалить данные")) });
    return ready({ QJSValue(false) });
}

bool RemoveDbFlow::localDataIsGone() const
{
    QSqlQuery query(ThreadStorage::instance()->database());
    const bool counted = query.exec(QStringLiteral(
        "SELECT (SELECT COUNT(*) FROM config) + (SELECT COUNT(*) FROM shift)"
        " + (SELECT COUNT(*) FROM 'order')"));
    if (!counted || !query.next()) {
        KM4_LOG(3, query.lastError().text());
        return false;
    }
    const bool empty = query.value(0).toLongLong() == 0;
    if (!empty)
        KM4_LOG(3, "local data still present after the wipe");
    return empty;
}
