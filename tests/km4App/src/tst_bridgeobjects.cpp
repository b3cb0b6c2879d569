#include "authpage.h"
#include "config/commonconfig.h"
#include "config/queueconfig.h"
#include "core/appenv.h"
#include "entities/order.h"
#include "entities/receipt.h"
#include "entities/receiptitem.h"
#include "futurewait.h"
#include "orderspage.h"
#include "qmlappenv.h"
#include "services/syncDB/httpsyncdbservice.h"
#include "shared/kmapi.h"
#include "shared/networkutils.h"
#include "testdatabase.h"
#include "testenvironment.h"

#include <QCoreApplication>
#include <QQmlComponent>
#include <QQmlContext>
#include <QQmlEngine>
#include <QSignalSpy>
#include <QTest>
#include <QThread>
#include <QtConcurrent>

#include <memory>

// The objects the screens bind to, over a real environment and synchronisation service.
class tst_BridgeObjects : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void init();
    void cleanup();

    void qmlEnvMirrorsTheEnvironment();
    void qmlEnvFollowsChangesMadeOnAnotherThread();
    void qmlWriteStaysInTheMirror();
    void loadingStatus_data();
    void loadingStatus();
    void loadingStatusFromThePoolThreadChangesOnTheGuiThread();
    void authPageInfo();
    void versionStrings();
    void ordersPageShowsNonPaidOrdersOnceSwitchedOn();
    void ordersPageLogo();

private:
    std::unique_ptr<TestDatabase> database;
    std::unique_ptr<AppEnv> env;
    std::unique_ptr<KMAPI> api;
    std::unique_ptr<HttpSyncDBService> sync;
};

void tst_BridgeObjects::initTestCase()
{
    QCoreApplication::setApplicationVersion(QStringLiteral("1.0.0"));
    QCoreApplication::instance()->setProperty("VERSION_CODE", QStringLiteral("9"));
    TestEnvironment::init();
}

void tst_BridgeObjects::init()
{
    database = std::make_unique<TestDatabase>();
    env = std::make_unique<AppEnv>(nullptr);
    api = std::make_unique<KMAPI>(nullptr);
    sync = std::make_unique<HttpSyncDBService>(api.get(), env.get(), nullptr);
}

void tst_BridgeObjects::cleanup()
{
    TestDatabase::drainThreadPool();
    sync.reset();
    api.reset();
    env.reset();
    database.reset();
}

void tst_BridgeObjects::qmlEnvMirrorsTheEnvironment()
{
    env->domain.set(QStringLiteral("cafe"));
    env->lastUpdate.set(1700000000);
    QmlAppEnv mirror(env.get());
    QCOMPARE(mirror.domain(), QStringLiteral("cafe"));
    QCOMPARE(mirror.lastUpdate(), qlonglong(1700000000));

    QSignalSpy online(&mirror, &QmlAppEnv::isOnlineChanged);
    QSignalSpy last(&mirror, &QmlAppEnv::lastUpdateChanged);
    QVERIFY(online.isValid() && last.isValid());
    env->isOnline.set(false);
    env->isOnline.set(false); // no real change, no news
    QCOMPARE(mirror.isOnline(), false);
    QCOMPARE(online.count(), 1);
    env->lastUpdate.set(1700000100);
    QCOMPARE(mirror.lastUpdate(), qlonglong(1700000100));
    QCOMPARE(last.count(), 1);
}

void tst_BridgeObjects::qmlEnvFollowsChangesMadeOnAnotherThread()
{
    QmlAppEnv mirror(env.get());
    QThread *seenOn = nullptr;
    QString seen;
    connect(&mirror, &QmlAppEnv::domainChanged, &mirror, [&] {
        seenOn = QThread::currentThread();
        seen = mirror.domain();
    });
    AppEnv *environment = env.get();
    QVERIFY(waitFor(QtConcurrent::run(
        [environment] { environment->domain.set(QStringLiteral("far-away")); })));
    QTRY_COMPARE(seen, QStringLiteral("far-away"));
    QCOMPARE(seenOn, QThread::currentThread());
}

void tst_BridgeObjects::qmlWriteStaysInTheMirror()
{
    env->domain.set(QStringLiteral("cafe"));
    QmlAppEnv mirror(env.get());
    QSignalSpy domain(&mirror, &QmlAppEnv::domainChanged);
    QVERIFY(domain.isValid());

    QQmlEngine engine;
    engine.rootContext()->setContextProperty(QStringLiteral("qmlEnv"), &mirror);
    QQmlComponent component(&engine);
    component.setData(R"(
        import QtQuick
        QtObject {
            Component.onCompleted: { qmlEnv.domain = "typed"; qmlEnv.domain = "typed"; }
        })",
        QUrl());
    std::unique_ptr<QObject> object(component.create());
    QVERIFY2(object, qPrintable(component.errorString()));

    QCOMPARE(mirror.domain(), QStringLiteral("typed"));
    QCOMPARE(domain.count(), 2); // every write is announced
    QCOMPARE(env->domain.value(), QStringLiteral("cafe"));

    // The next change of the environment wins.
    env->domain.set(QStringLiteral("bistro"));
    QCOMPARE(mirror.domain(), QStringLiteral("bistro"));
}

void tst_BridgeObjects::loadingStatus_data()
{
    QTest::addColumn<QString>("table");
    QTest::addColumn<QString>("text");

    QTest::newRow("config") << "config" << "Обновление настроек";
    QTest::newRow("user_general") << "user_general" << "Обновление пользователей";
    QTest::newRow("shift") << "shift" << "Обновление смен";
    QTest::newRow("menu") << "menu" << "Обновление меню";
    QTest::newRow("department") << "department" << "Обновление цехов";
    QTest::newRow("receipt") << "receipt" << "Обновление чеков";
    QTest::newRow("receipt_item") << "receipt_item" << "Обновление позиций заказов";
    QTest::newRow("hall") << "hall" << "Обновление залов";
    QTest::newRow("table") << "table" << "Обновление столов";
    QTest::newRow("order") << "order" << "Обновление заказов";
    QTest::newRow("order_status has no text") << "order_status" << "";
    QTest::newRow("unknown table") << "Config" << "";
}

void tst_BridgeObjects::loadingStatus()
{
    QFETCH(QString, table);
    QFETCH(QString, text);

    AuthPage page(env.get(), sync.get(), nullptr);
    QCOMPARE(page.loadingStatus(), QString());
    QSignalSpy changed(&page, &AuthPage::loadingStatusChanged);
    QVERIFY(changed.isValid());
    Q_EMIT sync->tableSyncing(QStringLiteral("hall"));
    Q_EMIT sync->tableSyncing(table);
    QCOMPARE(page.loadingStatus(), text);
    Q_EMIT sync->tableSyncing(table);
    QCOMPARE(changed.count(), 3); // also when the text stays the same
}

void tst_BridgeObjects::loadingStatusFromThePoolThreadChangesOnTheGuiThread()
{
    AuthPage page(env.get(), sync.get(), nullptr);
    QThread *changedOn = nullptr;
    connect(&page, &AuthPage::loadingStatusChanged, &page,
        [&] { changedOn = QThread::currentThread(); }, Qt::DirectConnection);
    HttpSyncDBService *service = sync.get();
    QVERIFY(waitFor(QtConcurrent::run(
        [service] { Q_EMIT service->tableSyncing(QStringLiteral("menu")); })));
    QTRY_COMPARE(page.loadingStatus(), QStringLiteral("Обновление меню"));
    QCOMPARE(changedOn, QThread::currentThread());
}

void tst_BridgeObjects::authPageInfo()
{
    AuthPage page(env.get(), sync.get(), nullptr);
    QSignalSpy info(&page, &AuthPage::infoChanged);
    QVERIFY(info.isValid());

    QCOMPARE(page.networkInfo(), NetworkUtils::selectNetworkParams());
    QCOMPARE(page.useHttps(), true);
    QCOMPARE(page.ignoreSslErrors(), false);

    env->commonConfig.set(CommonConfig(QJsonObject {
        { QStringLiteral("client_id"), 17 },
        { QStringLiteral("partner_name"), QStringLiteral("Partner") },
        { QStringLiteral("partner_email"), QStringLiteral("help@example.org") },
        { QStringLiteral("support_phone"), QStringLiteral("+7 000 000-00-00") },
        { QStringLiteral("logo"), QStringLiteral("https://example.org/logo.png") },
    }));
    QCOMPARE(info.count(), 1);
    QCOMPARE(page.clientId(), 17);
    QCOMPARE(page.partner(), QStringLiteral("Partner"));
    QCOMPARE(page.email(), QStringLiteral("help@example.org"));
    QCOMPARE(page.supportPhone(), QStringLiteral("+7 000 000-00-00"));
    QCOMPARE(page.logo(), QStringLiteral("https://example.org/logo.png"));

    // Other changes are read live but not announced.
    env->queueConfig.set(QueueConfig(QJsonObject { { QStringLiteral("user_id"), 5 } }));
    env->domain.set(QStringLiteral("cafe"));
    QCOMPARE(info.count(), 1);
    QCOMPARE(page.queueId(), 5);
    QCOMPARE(page.domain(), QStringLiteral("cafe"));
    QCOMPARE(page.lvlPushLog(), env->logConfig.value().push_lvl);
}

void tst_BridgeObjects::versionStrings()
{
    AuthPage page(env.get(), sync.get(), nullptr);
    QCOMPARE(page.longVersionString(), QStringLiteral("1.0.0-9-stable"));
    QCOMPARE(page.shortVersionString(), QStringLiteral("1.0.0"));
}

void tst_BridgeObjects::ordersPageShowsNonPaidOrdersOnceSwitchedOn()
{
    // A packaged order that is not paid yet: ready only while non-paid orders are shown.
    Order order;
    order.uuid = QStringLiteral("A");
    order.number = 3;
    order.status = QStringLiteral("packaged");
    Receipt receipt;
    receipt.uuid = QStringLiteral("RA");
    receipt.order_uuid = order.uuid;
    ReceiptItem item;
    item.id = 1;
    item.uuid = QStringLiteral("I1");
    item.receipt_uuid = receipt.uuid;
    item.in_work = true;

    OrdersPage page(env.get());
    const QList<QFuture<void>> writes { env->orderModel.insert(&order),
        env->receiptModel.insert(&receipt), env->receiptItemModel.insert(&item) };
    QCOMPARE(page.preparingOrdersModel()->rowCount(), 1);
    QCOMPARE(page.readyOrdersModel()->rowCount(), 0);

    env->queueConfig.set(QueueConfig(QJsonObject {
        { QStringLiteral("show_non_paid_orders"), true } }));
    QCOMPARE(page.preparingOrdersModel()->rowCount(), 0);
    QCOMPARE(page.readyOrdersModel()->rowCount(), 1);

    env->queueConfig.set(QueueConfig(QJsonObject {
        { QStringLiteral("show_non_paid_orders"), false } }));
    QCOMPARE(page.preparingOrdersModel()->rowCount(), 0);
    QCOMPARE(page.readyOrdersModel()->rowCount(), 1);

    // A page built while the setting holds starts with non-paid orders shown.
    env->queueConfig.set(QueueConfig(QJsonObject()));
    OrdersPage second(env.get());
    const auto rewrite = env->receiptItemModel.insert(&item);
    QCOMPARE(second.readyOrdersModel()->rowCount(), 1);

    for (const auto &write : writes)
        QVERIFY(waitFor(write));
    QVERIFY(waitFor(rewrite));
}

void tst_BridgeObjects::ordersPageLogo()
{
    OrdersPage page(env.get());
    QSignalSpy info(&page, &OrdersPage::infoChanged);
    QVERIFY(info.isValid());
    env->commonConfig.set(
        CommonConfig(QJsonObject { { QStringLiteral("logo"), QStringLiteral("logo.png") } }));
    QCOMPARE(info.count(), 1);
    QCOMPARE(page.logo(), QStringLiteral("logo.png"));
    env->queueConfig.set(QueueConfig(QJsonObject { { QStringLiteral("user_id"), 9 } }));
    QCOMPARE(info.count(), 1);
}

QTEST_GUILESS_MAIN(tst_BridgeObjects)
#include "tst_bridgeobjects.moc"
