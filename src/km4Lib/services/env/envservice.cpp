#include "envservice.h"

#include "core/appenv.h"
#include "shared/appexception.h"
#include "shared/asyncsqlquery.h"
#include "shared/logger.h"
#include "shared/networkutils.h"

#include <QCoreApplication>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSqlQuery>
#include <QSysInfo>

namespace {

// Text that is not a JSON object gives an empty object, so the record takes its defaults.
QJsonObject jsonObject(const QVariant &value)
{
    return QJsonDocument::fromJson(value.toString().toUtf8()).object();
}

} // namespace

ENVService::ENVService(AppEnv *env, QObject *parent)
    : IService(parent)
    , env(env)
    , machineUniqueId(QString::fromUtf8(QSysInfo::machineUniqueId()))
{
    env->networkInfo = NetworkUtils::selectNetworkParams();
    Q_EMIT env->networkInfoChanged();
}

ENVService::~ENVService() = default;

void ENVService::run()
{
    (void)load();
}

QFuture<bool> ENVService::load()
{
    KM4_LOG_SCOPE();
    const quint64 started = generation;
    // The rows are read on the pool thread that ran the query; only the values come back.
    return AsyncSQLQuery::read(QStringLiteral("SELECT * FROM 'config'"),
        [](QSqlQuery &query) {
            QList<Row> rows;
            while (query.next())
                rows.append({ query.value(QStringLiteral("key")).toString(),
                    query.value(QStringLiteral("value")) });
            return rows;
        })
        .then(this,
            [this, started](const QList<Row> &rows) {
                // Rows read before a wipe belong to the account just removed.
                if (started != generation)
                    return false;
                applyRows(rows);
                if (applyArgsOnce) {
                    applyArguments(env, QCoreApplication::arguments(), machineUniqueId);
                    applyArgsOnce = false;
                }
                Q_EMIT loaded();
                return true;
            })
        // Runs where the step before finished, on this object's thread. Neither bound to this
        // object again nor onFailed(): when this object goes with that step still queued, the
        // step is cancelled, a link bound to a destroyed object asserts in a debug build, and on
        // Qt 6.4 onFailed() waits for ever for the result of a cancelled future.
        .then([](QFuture<bool> loaded) {
            try {
                return loaded.result();
            } catch (const AppException &failure) {
                KM4_LOG(3, failure.message(), failure.description());
                return false;
            }
        });
}

void ENVService::stop()
{
    ++generation;
}

void ENVService::applyRows(const QList<Row> &rows)
{
    for (const Row &row : rows) {
        const QString &key = row.first;
        const QVariant &value = row.second;
        if (key == QLatin1String("domain"))
            env->domain.set(value.toString());
        else if (key == QLatin1String("currency"))
            env->setProperty("currency", value.toString());
        else if (key == QLatin1String("last_update"))
            env->lastUpdate.set(value.toLongLong());
        else if (key == QLatin1String("point"))
            env->pointConfig.set(PointConfig(jsonObject(value)));
        else if (key == QLatin1String("terminal"))
            env->queueConfig.set(QueueConfig(jsonObject(value)));
        else if (key == QLatin1String("common"))
            env->commonConfig.set(CommonConfig(jsonObject(value)));
        else if (key == QLatin1String("log-config"))
            env->logConfig.set(LogConfig(jsonObject(value)));
        else if (key == QLatin1String("sync-config"))
            env->syncConfig.set(SyncConfig(jsonObject(value)));
    }
}

void ENVService::applyArguments(
    AppEnv *env, const QStringList &arguments, const QString &machineUniqueId)
{
    const qsizetype count = arguments.size();
    for (qsizetype i = 1; i < count; ++i) {
        const QString &option = arguments.at(i);
        const qsizetype following = count - i - 1;
        if (option == QLatin1String("--use-virtual-keyboard")) {
            env->useVirtualKeyboard.set(true);
        } else if (option == QLatin1String("--use-fullscreen")) {
            env->useFullscreen.set(true);
        } else if (option == QLatin1String("--use-http")) {
            env->useHttps.set(false);
        } else if (option == QLatin1String("--ignore-ssl-error")) {
            env->ignoreSslErrors.set(true);
        } else if (option == QLatin1String("--host") || option == QLatin1String("-h")) {
            if (following >= 1)
                env->host.set(arguments.at(++i));
        } else if (option == QLatin1String("--mqtt")) {
            if (following >= 4) {
                SyncConfig sync = env->syncConfig.value();
                sync.mqtt_enabled = true;
                sync.mqtt_host = arguments.at(i + 1);
                sync.mqtt_port = arguments.at(i + 2).toInt(nullptr, 10);
                sync.mqtt_login = arguments.at(i + 3);
                sync.mqtt_password = arguments.at(i + 4);
                env->syncConfig.set(sync);
                i += 4;
            }
        } else if (option == QLatin1String("--uuid")) {
            if (following < 1)
                break;
            env->uuid.set(arguments.at(++i));
        }
    }
    if (!env->uuid.isSet())
        env->uuid.set(machineUniqueId);
}
