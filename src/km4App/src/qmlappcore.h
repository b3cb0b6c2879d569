#pragma once

#include "authpage.h"
#include "core/appcore.h"
#include "orderspage.h"
#include "qmlappenv.h"

// The core as QML sees it, published as "appCore": the core itself plus the objects the screens
// bind to.
class QmlAppCore : public AppCore
{
    Q_OBJECT
    Q_PROPERTY(AppEnv *env READ envPointer CONSTANT FINAL)
    Q_PROPERTY(QmlAppEnv *qmlEnv READ qmlEnv CONSTANT FINAL)
    Q_PROPERTY(HttpSyncDBService *syncDBService READ syncDBServicePointer CONSTANT FINAL)
    Q_PROPERTY(AuthPage *authPage READ authPage CONSTANT FINAL)
    Q_PROPERTY(OrdersPage *ordersPage READ ordersPage CONSTANT FINAL)

public:
    explicit QmlAppCore(QObject *parent = nullptr);
    ~QmlAppCore() override;

    AppEnv *envPointer() { return &env; }
    QmlAppEnv *qmlEnv() { return &m_qmlEnv; }
    HttpSyncDBService *syncDBServicePointer() { return &syncDBService; }
    AuthPage *authPage() { return &m_authPage; }
    OrdersPage *ordersPage() { return &m_ordersPage; }

private:
    AuthPage m_authPage;
    OrdersPage m_ordersPage;
    QmlAppEnv m_qmlEnv;
};
