#include "kmapiservice.h"

#include "config/timerinterval.h"
#include "core/appenv.h"
#include "shared/appexception.h"
#include "shared/logger.h"

#include <QDateTime>

namespace {

constexpr int defaultCheckOnlineMs = 60000;

} // namespace

KMApiService::KMApiService(AppEnv *env, KMAPI *api, QObject *parent)
    : IPointService(parent)
    , env(env)
    , api(api)
{
    connect(&checkTimer, &QTimer::timeout, this, &KMApiService::checkOnline);
    api->setVersion(env->version.value(), env->versionCode.value());
    connect(api, &KMAPI::errorRequest, this, &KMApiService::increaseApiError);
    // Direct, so the new value reaches the client on the thread that changed it, before any
    // later request.
    connect(&env->host, &PrivateEnvVariable::changed, &env->host,
        [env, api] { api->setHost(env->host.value()); });
    connect(&env->useHttps, &PrivateEnvVariable::changed, &env->useHttps,
        [env, api] { api->useHttps(env->useHttps.value()); });
    connect(&env->ignoreSslErrors, &PrivateEnvVariable::changed, &env->ignoreSslErrors,
        [env, api] { api->useIgnoreSslError(env->ignoreSslErrors.value()); });
}

KMApiService::~KMApiService() = default;

APIFuture KMApiService::requestToken(QString domain)
{
    KM4_LOG_SCOPE();
    return api->requestToken(domain, env->uuid.value())
        .then(this,
            [this](const QJsonObject &answer) {
                env->isOnline.set(true);
                loggedIn = true;
                Q_EMIT logged();
                return answer;
            })
        // On this object's thread, where the step before finished; not bound to this object
        // again, nor onFailed(), for the reasons given in ENVService::load().
        .then([this](APIFuture answered) -> QJsonObject {
            try {
                return answered.result();
            } catch (const AppException &failure) {
                KM4_LOG(2, failure.message(), failure.description());
                if (!canOffline()) {
                    Q_EMIT error(tr("Не удалось подключиться к серверу"),
                        tr("Синхронизация долго не проводилась. Работа в режиме офлайн "
                           "невозможна"));
                    failure.raise();
                }
                env->isOnline.set(false);
                loggedIn = true;
                Q_EMIT logged();
                Q_EMIT error(tr("Не удалось подключиться к серверу"),
                    tr("Работа в режиме онлайн невозможна"));
                checkTimer.start(checkInterval());
                return QJsonObject();
            }
        });
}

APIFuture KMApiService::requestRegistration(QString domain)
{
    return api->requestRegistration(domain, env->uuid.value());
}

bool KMApiService::isLogged() const
{
    return loggedIn;
}

void KMApiService::useHttps(bool enabled)
{
    api->useHttps(enabled);
}

void KMApiService::ignoreSslErrors(bool ignore)
{
    api->useIgnoreSslError(ignore);
}

// The device-clock check: only reports, never changes state.
void KMApiService::run()
{
    KM4_LOG_SCOPE();
    auto check = timezoneApi.requestTime(env->pointConfig.value().timezone)
                     .then([this](const TimezoneResponce &response) {
                         if (!response.isDiffMoreOneHour())
                             return;
                         Q_EMIT error(tr("Неправильно установлено время!"),
                             tr("Действительное время: %1. На устройстве: %2")
                                 .arg(response.dateTime().toString(),
                                     QDateTime::currentDateTime().toString()));
                     })
                     .onFailed([this](const AppException &failure) {
                         Q_EMIT push(PushFailure, tr("Не удалось получить текущую дату"));
                         KM4_LOG(2, failure.message(), failure.description());
                     });
    Q_UNUSED(check);
}

void KMApiService::stop()
{
    loggedIn = false;
}

void KMApiService::checkOnline()
{
    KM4_LOG_SCOPE();
    auto attempt = api->requestToken(env->domain.value(), env->uuid.value())
                       .then(this,
                           [this](const QJsonObject &) {
                               apiErrors = 0;
                               checkTimer.stop();
                               env->isOnline.set(true);
                           })
                       .onFailed([](const AppException &) {});
    Q_UNUSED(attempt);
}

void KMApiService::increaseApiError()
{
    ++apiErrors;
    if (apiErrors < env->queueConfig.value().max_api_error)
        return;
    env->isOnline.set(false);
    checkTimer.start(checkInterval());
    Q_EMIT error(tr("Не удалось подключиться к серверу"), tr("Программа переходит в режим офлайн"));
}

bool KMApiService::canOffline() const
{
    return QDateTime::currentSecsSinceEpoch()
        <= env->lastUpdate.value() + env->commonConfig.value().disable_period;
}

// A check_online_timeout of 0 from the server would poll on every pass of the event loop.
int KMApiService::checkInterval() const
{
    return TimerInterval::orDefault(
        env->queueConfig.value().check_online_timeout, defaultCheckOnlineMs);
}
