#include "screensfixture.h"

#include "config/envrepo.h"
#include "entities/order.h"
#include "entities/receipt.h"
#include "entities/receiptitem.h"
#include "testdatabase.h"

#include <QDateTime>
#include <QQmlContext>
#include <QQmlEngine>

ScreensFixture::ScreensFixture(QObject *parent)
    : QObject(parent)
{ }

ScreensFixture::~ScreensFixture() = default;

void ScreensFixture::setEngine(QQmlEngine *engine)
{
    m_engine = engine;
    publish();
}

void ScreensFixture::stop()
{
    m_core.reset();
    m_server.reset();
}

void ScreensFixture::start(const QVariantMap &stored)
{
    if (m_engine)
        m_engine->rootContext()->setContextProperty(QStringLiteral("appCore"), nullptr);
    m_core.reset();
    if (!m_server)
        m_server = std::make_unique<FakeServer>();
    m_server->resetAnswers();
    m_server->clearRequests();
    using Core = BasicTestCore<QmlAppCore>;
    if (!stored.isEmpty()) {
        TestDatabase database;
        for (auto it = stored.cbegin(); it != stored.cend(); ++it)
            ENVRepo::insertENV(it.key(), it.value());
    }
    m_core = std::make_unique<Core>(
        *m_server, stored.isEmpty() ? Core::Start::Fresh : Core::Start::OverStoredData);
    // There is no broker here, and nothing may leave the loopback.
    SyncConfig sync = m_core->env()->syncConfig.value();
    sync.mqtt_enabled = false;
    m_core->env()->syncConfig.set(sync);
    publish();
}

QString ScreensFixture::recentUpdate() const
{
    return QString::number(QDateTime::currentSecsSinceEpoch());
}

int ScreensFixture::requests(const QString &path) const
{
    return m_server->count(path);
}

void ScreensFixture::refuse(const QString &path) const
{
    m_server->setAnswer(path, FakeServer::error(500, 500, QStringLiteral("down")));
}

void ScreensFixture::answerLater(const QString &path, int ms) const
{
    m_server->setAnswer(path,
        FakeServer::json({ { QStringLiteral("message"), QStringLiteral("ok") } }).withDelay(ms));
}

void ScreensFixture::knowTheDevice() const
{
    m_server->enqueue(QString::fromLatin1(FakeServer::RegistrationPath),
        FakeServer::error(400, 1003, QStringLiteral("registered")));
}

QString ScreensFixture::setting(const QString &key) const
{
    return TestCore::setting(key);
}

void ScreensFixture::announceSyncFinished()
{
    Q_EMIT(*m_core)->httpSyncDBService()->syncFinished();
}

void ScreensFixture::addOrder(int number, const QString &status)
{
    AppEnv *env = m_core->env();
    const QString key = QString::number(number);
    Order order;
    order.uuid = QStringLiteral("order-") + key;
    order.number = number;
    order.status = status;
    order.is_paid = true;
    order.created_at = QDateTime::currentSecsSinceEpoch();
    Receipt receipt;
    receipt.uuid = QStringLiteral("receipt-") + key;
    receipt.order_uuid = order.uuid;
    ReceiptItem item;
    item.id = number;
    item.uuid = QStringLiteral("item-") + key;
    item.receipt_uuid = receipt.uuid;
    item.in_work = true;
    // The writes behind these run on the pool; the core waits for them before it goes.
    (void)env->orderModel.insert(&order);
    (void)env->receiptModel.insert(&receipt);
    (void)env->receiptItemModel.insert(&item);
}

void ScreensFixture::publish()
{
    if (m_engine && m_core) {
        m_engine->rootContext()->setContextProperty(QStringLiteral("appCore"), core());
        m_engine->rootContext()->setContextProperty(QStringLiteral("fixture"), this);
    }
}
