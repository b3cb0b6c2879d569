#include "qmlappcore.h"

QmlAppCore::QmlAppCore(QObject *parent)
    : AppCore(parent)
    , m_authPage(&env, &syncDBService, &mqttService)
    , m_ordersPage(&env)
    , m_qmlEnv(&env)
{
    // The first load was started by the base; its result arrives through the event loop.
    connect(&envService, &ENVService::loaded, &m_qmlEnv, &QmlAppEnv::markSettingsLoaded);
}

QmlAppCore::~QmlAppCore()
{
    // The pages go before the core's members; pool work that could still report to them must
    // be over first.
    waitForBackgroundWork();
}
