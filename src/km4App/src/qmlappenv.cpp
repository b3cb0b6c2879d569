#include "qmlappenv.h"

#include "core/appenv.h"

QmlAppEnv::QmlAppEnv(AppEnv *env, QObject *parent)
    : QObject(parent)
    , m_domain(env->domain.value())
    , m_isOnline(env->isOnline.value())
    , m_lastUpdate(env->lastUpdate.value())
{
    // This object is the context, so a change made on another thread is copied here, on the
    // thread QML reads from.
    connect(&env->domain, &PrivateEnvVariable::changed, this,
        [this, env] { setDomain(env->domain.value()); });
    connect(&env->lastUpdate, &PrivateEnvVariable::changed, this,
        [this, env] { setLastUpdate(env->lastUpdate.value()); });
    connect(&env->isOnline, &PrivateEnvVariable::changed, this,
        [this, env] { setIsOnline(env->isOnline.value()); });
}

QmlAppEnv::~QmlAppEnv() = default;

void QmlAppEnv::setDomain(const QString &domain)
{
    m_domain = domain;
    Q_EMIT domainChanged();
}

void QmlAppEnv::setIsOnline(bool isOnline)
{
    m_isOnline = isOnline;
    Q_EMIT isOnlineChanged();
}

void QmlAppEnv::setLastUpdate(qlonglong lastUpdate)
{
    m_lastUpdate = lastUpdate;
    Q_EMIT lastUpdateChanged();
}

void QmlAppEnv::markSettingsLoaded()
{
    if (m_settingsLoaded)
        return;
    m_settingsLoaded = true;
    Q_EMIT settingsLoadedChanged();
}
