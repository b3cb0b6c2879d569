#include "authpage.h"
#include "cachingnetworkaccessmanagerfactory.h"
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
#include "testdatabase.h"
#include "testenvironment.h"

#include <QNetworkAccessManager>
#include <QNetworkDiskCache>
#include <QQmlComponent>
#include <QQmlContext>
#include <QQmlEngine>
#include <QSignalSpy>
#include <QTest>
#include <QThread>
#include <QtConcurrent>

// The objects the screens bind to, over a real environment and synchronisation service, and the
// network managers the QML engine gets.
class tst_BridgeObjects : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase() { TestEnvironment::init(); }
    void init();
    void cleanup();

    void qmlEnvMirrorsTheEnvironment();
    void qmlEnvFollowsChangesMadeOnAnotherThread();
    void loadingStatus_data();
    void loadingStatus();
    void ordersPageShowsNonPaidOrdersOnceSwitchedOn();
    void eachNetworkManagerHasItsOwnCache();

private:
    std::unique_ptr<TestDatabase> database;
    std::unique_ptr<AppEnv> env;
    std::unique_ptr<KMAPI> api;
    std::unique_ptr<HttpSyncDBService> sync;
};

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

// Real changes are announced; a write from QML stays in the mirror until the environment changes.
void tst_BridgeObjects::qmlEnvMirrorsTheEnvironment()
{
    env->domain.set(QStringLiteral("cafe"));
    QmlAppEnv mirror(env.get());
    QCOMPARE(mirror.domain(), QStringLiteral("cafe"));
    QSignalSpy online(&mirror, &QmlAppEnv::isOnlineChanged);
    env->isOnline.set(false);
    env->isOnline.set(false);
    QCOMPARE(mirror.isOnline(), false);
    QCOMPARE(online.count(), 1);

    QQmlEngine engine;
    engine.rootContext()->setContextProperty(QStringLiteral("qmlEnv"), &mirror);
    QQmlComponent component(&engine);
    component.setData(
        "import QtQuick\nQtObject { Component.onCompleted: qmlEnv.domain = 'typed' }", QUrl());
    std::unique_ptr<QObject> object(component.create());
    QVERIFY2(object, qPrintable(component.errorString()));
    QCOMPARE(mirror.domain(), QStringLiteral("typed"));
    QCOMPARE(env->domain.value(), QStringLiteral("cafe"));
    env->domain.set(QStringLiteral("bistro"));
    QCOMPARE(mirror.domain(), QStringLiteral("bistro"));
}

void tst_BridgeObjects::qmlEnvFollowsChangesMadeOnAnotherThread()
{
    QmlAppEnv mirror(env.get());
    QThread *seenOn = nullptr;
    QString seen;
    connect(
        &mirror, &QmlAppEnv::domainChanged, &mirror,
        [&] {
            seenOn = QThread::currentThread();
            seen = mirror.domain();
        },
        Qt::DirectConnection);
    AppEnv *environment = env.get();
    QVERIFY(waitFor(
        QtConcurrent::run([environment] { environment->domain.set(QStringLiteral("far")); })));
    QTRY_COMPARE(seen, QStringLiteral("far"));
    QCOMPARE(seenOn, QThread::currentThread());
}

void tst_BridgeObjects::loadingStatus_data()
{
    QTest::addColumn<QString>("table");
    QTest::addColumn<bool>("fromPool");
    QTest::addColumn<QString>("text");
    QTest::newRow("menu") << "menu" << false << "Обновление меню";
    QTest::newRow("from a pool thread") << "receipt_item" << true << "Обновление позиций заказов";
    QTest::newRow("order_status has no text") << "order_status" << false << "";
    QTest::newRow("unknown table") << "Config" << false << "";
}

// The page shows which table the synchronisation writes, announced on the GUI thread every time.
void tst_BridgeObjects::loadingStatus()
{
    QFETCH(QString, table);
    QFETCH(bool, fromPool);
    QFETCH(QString, text);
    AuthPage page(env.get(), sync.get(), nullptr);
    QList<QThread *> changedOn;
    connect(
        &page, &AuthPage::loadingStatusChanged, &page,
        [&] { changedOn.append(QThread::currentThread()); }, Qt::DirectConnection);
    Q_EMIT sync->tableSyncing(QStringLiteral("hall"));
    HttpSyncDBService *service = sync.get();
    for (int i = 0; i < 2; ++i) {
        if (fromPool)
            QVERIFY(waitFor(
                QtConcurrent::run([service, table] { Q_EMIT service->tableSyncing(table); })));
        else
            Q_EMIT sync->tableSyncing(table);
    }
    QTRY_COMPARE(changedOn, QList<QThread *>(3, QThread::currentThread()));
    QCOMPARE(page.loadingStatus(), text);
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
    env->queueConfig.set(QueueConfig(QJsonObject { { "show_non_paid_orders", true } }));
    QCOMPARE(page.preparingOrdersModel()->rowCount(), 0);
    QCOMPARE(page.readyOrdersModel()->rowCount(), 1);
    // Switched on stays on for the page; a page built while the setting holds starts with it.
    env->queueConfig.set(QueueConfig(QJsonObject { { "show_non_paid_orders", false } }));
    QCOMPARE(page.readyOrdersModel()->rowCount(), 1);
    env->queueConfig.set(QueueConfig(QJsonObject()));
    OrdersPage second(env.get());
    const auto rewrite = env->receiptItemModel.insert(&item);
    QCOMPARE(second.readyOrdersModel()->rowCount(), 1);
    for (const auto &write : writes)
        QVERIFY(waitFor(write));
    QVERIFY(waitFor(rewrite));
}

// A disk cache serves one manager only: the engine's managers (one per loader thread) must not
// share one.
void tst_BridgeObjects::eachNetworkManagerHasItsOwnCache()
{
    CachingNetworkAccessManagerFactory factory;
    QObject owner;
    QNetworkAccessManager *first = factory.create(&owner);
    QNetworkAccessManager *second = factory.create(&owner);
    QVERIFY(first && second && first->parent() == &owner);
    const auto *firstCache = qobject_cast<QNetworkDiskCache *>(first->cache());
    const auto *secondCache = qobject_cast<QNetworkDiskCache *>(second->cache());
    QVERIFY(firstCache && secondCache && firstCache != secondCache);
    QVERIFY(firstCache->maximumCacheSize() > 0);
    QCOMPARE(firstCache->cacheDirectory(), secondCache->cacheDirectory());
}

QTEST_GUILESS_MAIN(tst_BridgeObjects)
#include "tst_bridgeobjects.moc"
