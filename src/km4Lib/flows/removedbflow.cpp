#include "removedbflow.h"

#include "core/appenv.h"
#include "entities/entitywriter.h"
#include "services/db/dbservice.h"
#include "services/env/envservice.h"
#include "services/kmapi/ipointservice.h"
#include "services/logs/ilogservice.h"
#include "services/syncDB/httpsyncdbservice.h"
#include "shared/logger.h"
#include "shared/sqlvalue.h"
#include "shared/threadstorage.h"

#include <QSqlError>
#include <QSqlQuery>
#include <QStringList>

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
    // Log lines of the account on their way to the table would land in the new one, and go to
    // the next account's server; so would its rows on their way to the entity tables.
    ILogService::forgetUnstoredLines();
    EntityWriter::dropQueued();
    services.dbService->downAllMigrations();
    const bool gone = localDataIsGone();
    services.dbService->run();
    services.envService->run();

    // A synchronisation that ended while the sync service was being stopped may still have its
    // time stamp on the way to the environment; it belongs to the account just removed.
    AppEnv *environment = env;
    QMetaObject::invokeMethod(
        environment, [environment] { environment->lastUpdate.set(0); }, Qt::QueuedConnection);

    if (!gone)
        return ready({ QJSValue(QObject::tr("Не удалось удалить данные")) });
    return ready({ QJSValue(false) });
}

// Every table and view of the file, whoever made it, is gone or holds no row.
bool RemoveDbFlow::localDataIsGone() const
{
    QSqlDatabase database = ThreadStorage::instance()->database();
    QSqlQuery query(database);
    if (!query.exec(QStringLiteral("SELECT name FROM sqlite_master WHERE type IN ('table', "
                                   "'view') AND name NOT LIKE 'sqlite\\_%' ESCAPE '\\'"))) {
        KM4_LOG(3, query.lastError().text());
        return false;
    }
    QStringList names;
    while (query.next())
        names.append(query.value(0).toString());
    query.finish();
    bool empty = true;
    for (const QString &name : std::as_const(names)) {
        QSqlQuery rows(database);
        if (!rows.exec(
                QStringLiteral("SELECT 1 FROM %1 LIMIT 1").arg(SqlValue::identifier(name)))) {
            KM4_LOG(3, "local data not checked after the wipe:", name, rows.lastError().text());
            empty = false;
        } else if (rows.next()) {
            KM4_LOG(3, "local data still present after the wipe:", name);
            empty = false;
        }
    }
    return empty;
}
