#include "orderspage.h"

#include "core/appenv.h"

OrdersPage::OrdersPage(const AppEnv *env, QObject *parent)
    : IPage(parent)
    , env(env)
    , m_inWorkOrdersModel(&env->receiptItemModel, &env->receiptModel, &env->orderModel, env)
{
    m_preparingOrdersModel.setSourceModel(&m_inWorkOrdersModel);
    m_readyOrdersModel.setSourceModel(&m_inWorkOrdersModel);
    applyQueueConfig();
    connect(&env->commonConfig, &PrivateEnvVariable::changed, this, &OrdersPage::infoChanged);
    connect(&env->queueConfig, &PrivateEnvVariable::changed, this, &OrdersPage::applyQueueConfig);
}

OrdersPage::~OrdersPage() = default;

QString OrdersPage::logo() const
{
    return env->commonConfig.value().logo;
}

void OrdersPage::enabled() { }

void OrdersPage::disabled() { }

void OrdersPage::applyQueueConfig()
{
    if (!env->queueConfig.value().show_non_paid_orders)
        return;
    m_preparingOrdersModel.showNonPaidOrders();
    m_readyOrdersModel.showNonPaidOrders();
}
