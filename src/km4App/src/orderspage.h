#pragma once

#include "ipage.h"
#include "pages/orderspage/models/inworkordersmodel.h"
#include "pages/orderspage/models/preparingordersmodel.h"
#include "pages/orderspage/models/readyordersmodel.h"

#include <QString>

class AppEnv;

// The order board: the two columns of order numbers and the partner's logo.
class OrdersPage : public IPage
{
    Q_OBJECT
    Q_PROPERTY(PreparingOrdersModel *preparingOrdersModel READ preparingOrdersModel CONSTANT FINAL)
    Q_PROPERTY(ReadyOrdersModel *readyOrdersModel READ readyOrdersModel CONSTANT FINAL)
    Q_PROPERTY(QString logo READ logo NOTIFY infoChanged FINAL)

public:
    explicit OrdersPage(const AppEnv *env, QObject *parent = nullptr);
    ~OrdersPage() override;

    PreparingOrdersModel *preparingOrdersModel() { return &m_preparingOrdersModel; }
    ReadyOrdersModel *readyOrdersModel() { return &m_readyOrdersModel; }
    QString logo() const;

    // The list both columns filter; not seen by QML.
    const InWorkOrdersModel *inWorkOrdersModel() const { return &m_inWorkOrdersModel; }

Q_SIGNALS:
    void infoChanged();

public Q_SLOTS:
    void enabled() override;
    void disabled() override;

private:
    void applyQueueConfig();

    const AppEnv *env;
    InWorkOrdersModel m_inWorkOrdersModel;
    PreparingOrdersModel m_preparingOrdersModel;
    ReadyOrdersModel m_readyOrdersModel;
};
