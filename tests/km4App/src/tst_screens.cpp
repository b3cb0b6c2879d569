#include "appfonts.h"
#include "config/envrepo.h"
#include "entities/order.h"
#include "entities/receipt.h"
#include "entities/receiptitem.h"
#include "fakeserver.h"
#include "qmlappcore.h"
#include "testcore.h"
#include "testdatabase.h"
#include "testenvironment.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QGuiApplication>
#include <QQmlContext>
#include <QQmlEngine>
#include <QQuickStyle>
#include <QtQuickTest>

#include <memory>

// What the screens' test cases may ask of the world around them: a real core over a real
// database file, restarted at will over stored settings, and the loopback server double.
class ScreensFixture : public QObject
{
    Q_OBJECT

public:
    void setEngine(QQmlEngine *engine)
    {
        m_engine = engine;
        publish();
    }

    void stop()
    {
        m_core.reset();
        m_server.reset();
    }

    // Starts the core anew, as the program starts: over the settings rows given (key to value)
    // when there are any, else over an empty database. The old core goes first.
    Q_INVOKABLE void start(const QVariantMap &stored = {})
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
        // The pushes have no broker here; nothing may leave the loopback.
        SyncConfig sync = m_core->env()->syncConfig.value();
        sync.mqtt_enabled = false;
        m_core->env()->syncConfig.set(sync);
        publish();
    }

    // The domain at which the server double answers, and a last update recent enough for the
    // board to work offline.
    Q_INVOKABLE QString serverDomain() const { return m_server->domain(); }
    Q_INVOKABLE QString recentUpdate() const
    {
        return QString::number(QDateTime::currentSecsSinceEpoch());
    }

    Q_INVOKABLE int requests(const QString &path) const { return m_server->count(path); }
    Q_INVOKABLE void refuseLogin() const
    {
        m_server->setAnswer(QString::fromLatin1(FakeServer::TokenPath),
            FakeServer::error(500, 500, QStringLiteral("down")));
    }
    Q_INVOKABLE QString setting(const QString &key) const { return TestCore::setting(key); }

    // One more synchronisation cycle, as the timer would start it.
    Q_INVOKABLE void syncAgain() { (void)(*m_core)->httpSyncDBService()->manualSync(); }

    // A paid order in work with the given number and status, the way a push brings it.
    Q_INVOKABLE void addOrder(int number, const QString &status)
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
        (void)env->orderModel.insert(&order);
        (void)env->receiptModel.insert(&receipt);
        (void)env->receiptItemModel.insert(&item);
    }

private:
    void publish()
    {
        if (m_engine && m_core) {
            m_engine->rootContext()->setContextProperty(QStringLiteral("appCore"), &**m_core);
            m_engine->rootContext()->setContextProperty(QStringLiteral("fixture"), this);
        }
    }

    QQmlEngine *m_engine = nullptr;
    std::unique_ptr<FakeServer> m_server;
    std::unique_ptr<BasicTestCore<QmlAppCore>> m_core;
};

class ScreensTestSetup : public QObject
{
    Q_OBJECT

public slots:
    void applicationAvailable()
    {
        QQuickStyle::setStyle(QStringLiteral("Basic"));
        if (!AppFonts::registerOnest())
            qFatal("The typeface files are missing from the resources");
        QCoreApplication::setApplicationVersion(QStringLiteral("1.0.0"));
        QCoreApplication::instance()->setProperty("VERSION_CODE", QStringLiteral("9"));
        TestEnvironment::init();
        fixture.start();
    }

    void qmlEngineAvailable(QQmlEngine *engine)
    {
        engine->addImportPath(QStringLiteral("qrc:/"));
        fixture.setEngine(engine);
    }

    void cleanupTestCase() { fixture.stop(); }

private:
    ScreensFixture fixture;
};

QUICK_TEST_MAIN_WITH_SETUP(tst_screens, ScreensTestSetup)

#include "tst_screens.moc"
