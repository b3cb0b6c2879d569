#include "authdomainflow.h"

#include "config/envrepo.h"
#include "core/appenv.h"
#include "services/kmapi/ipointservice.h"
#include "shared/domainname.h"
#include "shared/kmapiexception.h"
#include "shared/logger.h"

#include <QCoreApplication>
#include <QJsonValue>

namespace {
constexpr int AlreadyRegistered = 1003;
}

AuthDomainFlow::AuthDomainFlow(AppEnv *env, AppServices services, QJsonObject args)
    : IFlow(env, services, args)
    , pointService(services.pointService)
    , domain(DomainName::normalised(args.value(QLatin1String("domain")).toString()))
{ }

QFuture<QList<QJSValue>> AuthDomainFlow::run()
{
    KM4_LOG_SCOPE();
    // Without a domain there is nothing to ask the server, and the already-registered answer
    // could not end in a login: the registration would be asked again and again. A domain with
    // hidden characters counts as none: it would look like one account and address another.
    if (domain.isEmpty())
        return ready({ QJSValue(QObject::tr("Введите домен")) });
    if (!env->domain.value().isEmpty())
        return tokenRoad();
    return registrationRoad();
}

QFuture<QList<QJSValue>> AuthDomainFlow::tokenRoad()
{
    return pointService->requestToken(domain)
        .then([this](const QJsonObject &) {
            KM4_LOG_SCOPE();
            ENVRepo::insertENV(QStringLiteral("domain"), domain);
            return QList<QJSValue> { QJSValue(false) };
        })
        .onFailed([] {
            return QList<QJSValue> { QJSValue(QObject::tr("Не удалось подключиться к северу.")),
                QJSValue(QObject::tr("Работа в режиме онлайн невозможна.")) };
        });
}

QFuture<QList<QJSValue>> AuthDomainFlow::registrationRoad()
{
    QObject *guiContext = QCoreApplication::instance();
    return pointService->requestRegistration(domain)
        .then([](const QJsonObject &) {
            KM4_LOG_SCOPE();
            return ready({ QJSValue(QObject::tr("Запрос на регистрацию отправлен")) });
        })
        // With the application object as context the environment changes on the GUI thread,
        // where everything else reads it.
        .onFailed(guiContext,
            [this](const KMAPIException &e) {
                KM4_LOG_SCOPE();
                if (e.code() == AlreadyRegistered) {
                    env->domain.set(domain);
                    return run();
                }
                KM4_LOG(3, e.message());
                return ready({ QJSValue(e.message()) });
            })
        .unwrap()
        .onFailed([](const AppException &e) {
            KM4_LOG_SCOPE();
            KM4_LOG(3, e.message());
            return QList<QJSValue> { QJSValue(e.message()) };
        });
}
