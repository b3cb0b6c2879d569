#include "cachingnetworkaccessmanagerfactory.h"
#include "config/commonconfig.h"
#include "config/logconfig.h"
#include "config/queueconfig.h"
#include "futurewait.h"
#include "screensfixture.h"
#include "services/syncDB/httpsyncdbservice.h"
#include "shared/kmapi.h"
#include "testenvironment.h"

#include <QAbstractItemModelTester>
#include <QNetworkDiskCache>
#include <QRandomGenerator>
#include <QSignalSpy>
#include <QtConcurrent>

#include <map>

namespace {

// What the board shows of its rows, as "uuid|number".
QStringList rowsOf(const QAbstractItemModel &model)
{
    QStringList rows;
    for (int row = 0; row < model.rowCount(); ++row)
        rows.append(model.index(row, 0).data(InWorkOrdersModel::UuidRole).toString() + '|'
            + model.index(row, 0).data(InWorkOrdersModel::NumberRole).toString());
    return rows;
}

bool allDone(const QList<QFuture<void>> &writes)
{
    return std::all_of(writes.cbegin(), writes.cend(), [](const auto &w) { return waitFor(w); });
}

// The account as the support panel and the login page show it.
QStringList shownAccount(const AuthPage &page)
{
    return { QString::number(page.clientId()), QString::number(page.queueId()), page.domain(),
        page.partner(), page.email(), page.supportPhone(), page.logo() };
}

using EnvChange = std::function<void(AppEnv &)>;

} // namespace

Q_DECLARE_METATYPE(EnvChange)

// The board's models and the objects the screens bind to, over a real database file.
class tst_OrderBoard : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase() { TestEnvironment::init(); }
    void init() { database = std::make_unique<TestDatabase>(); }
    void cleanup() { database.reset(); }

    void incrementalMatchesFullRebuild_data();
    void incrementalMatchesFullRebuild();
    void ordersPageShowsNonPaidOrdersOnceSwitchedOn();
    void poolThreadChangesReachTheScreensOnTheGuiThread();
    void eachFactOfTheLoginPageIsAnnounced_data();
    void eachFactOfTheLoginPageIsAnnounced();
    void wipedAccountLeavesTheScreens_data();
    void wipedAccountLeavesTheScreens();
    void eachNetworkManagerHasItsOwnCache();

private:
    std::unique_ptr<TestDatabase> database;
};

void tst_OrderBoard::incrementalMatchesFullRebuild_data()
{
    QTest::addColumn<quint32>("seed");
    for (quint32 seed = 1; seed <= 6; ++seed)
        QTest::addRow("seed %u", seed) << seed;
}

// Random pushes of orders, receipts and items (new, changed, moved to another receipt or order,
// out of work, closed, deleted), list pushes and reloads, and halfway the non-paid switch: after
// each, the board holds one row per order, ranked by its first item in work, and the columns split
// it by status and payment, exactly as a full rebuild from the records gives.
void tst_OrderBoard::incrementalMatchesFullRebuild()
{
    QFETCH(quint32, seed);
    QRandomGenerator random(seed);
    // Items are reloaded through their receipt's shift.
    QVERIFY(TestDatabase::exec(QStringLiteral(
        "INSERT INTO shift (uuid, type, number, created_at) VALUES ('S', 'general', 1, 1)")));
    OrderModel orders;
    ReceiptModel receipts;
    ReceiptItemModel items;
    InWorkOrdersModel inWork(&items, &receipts, &orders, nullptr);
    PreparingOrdersModel preparing;
    ReadyOrdersModel ready;
    preparing.setSourceModel(&inWork);
    ready.setSourceModel(&inWork);
    const auto mode = QAbstractItemModelTester::FailureReportingMode::QtTest;
    const QAbstractItemModelTester testers[] { { &items, mode }, { &inWork, mode },
        { &preparing, mode }, { &ready, mode } };
    const auto pick = [&random](const char *prefix, int count) {
        return QString::fromLatin1(prefix) + QString::number(random.bounded(count));
    };
    const QStringList statuses
        = QStringLiteral("new cooking packaged packaged given Packaged").split(' ');
    QList<QFuture<void>> writes;
    int lastItemId = 0;
    bool nonPaidShown = false;
    int stepsWithRows = 0;
    for (int step = 0; step < 150; ++step) {
        const int kind = random.bounded(98);
        if (kind < 25) {
            const int chance = random.bounded(10);
            writes += push<Order>(orders,
                { { "uuid", pick("O", 10) }, { "number", random.bounded(1, 100) },
                    { "shift_uuid", "S" }, { "status", statuses.at(random.bounded(6)) },
                    { "is_paid", random.bounded(3) != 0 }, { "created_at", 1700000000 },
                    { "closed_at", chance == 0 ? 1700000100 : 0 },
                    { "deleted_at", chance == 1 ? 1700000200 : 0 } });
        } else if (kind < 45) {
            writes += push<Receipt>(receipts,
                { { "uuid", pick("R", 14) }, { "shift_uuid", "S" },
                    { "order_uuid", random.bounded(12) == 0 ? QString() : pick("O", 11) } });
        } else if (kind < 93) {
            // One item, or a list of them as one push.
            QList<ReceiptItem> list(kind < 88 ? 1 : random.bounded(1, 4));
            QList<ReceiptItem *> pointers;
            for (ReceiptItem &i : list) {
                i.fromJson({ { "id", ++lastItemId }, { "uuid", pick("I", 40) },
                    { "receipt_uuid", pick("R", 15) }, { "in_work", random.bounded(3) != 0 },
                    { "deleted_at", random.bounded(10) == 0 ? 1700000300 : 0 } });
                pointers.append(&i);
            }
            writes += kind < 88 ? items.insert(pointers.first()) : items.insert(pointers);
        } else {
            EntityModel *models[] = { &orders, &receipts, &items };
            QVERIFY(waitFor(models[random.bounded(3)]->update(QStringLiteral("S"))));
        }
        if (inWork.rowCount() > 0)
            QCOMPARE(inWork.rowCount(inWork.index(0, 0)), 0);
        if (step == 75) {
            nonPaidShown = true;
            preparing.showNonPaidOrders();
            ready.showNonPaidOrders();
        }

        // The full rebuild: the orders of the items in work, ranked by their first item in work
        // (by item id, then uuid), wherever the items stand in their model.
        std::map<std::pair<int, QString>, Order> firstItems;
        for (int row = 0; row < items.rowCount(); ++row) {
            const QModelIndex i = items.index(row, 0);
            const Receipt r = receipts.byUuid(i.data(ReceiptItemModel::receiptUuidRole).toString());
            const Order o = orders.byUuid(r.order_uuid);
            if (i.data(ReceiptItemModel::inWorkRole).toBool() && r.isValid() && o.isValid()
                && o.closed_at == 0 && o.deleted_at == 0) {
                firstItems.emplace(std::pair(i.data(ReceiptItemModel::idRole).toInt(),
                                       i.data(ReceiptItemModel::uuidRole).toString()),
                    o);
            }
        }
        QStringList board;
        QStringList preparingRows;
        QStringList readyRows;
        QStringList seen;
        for (const auto &[rank, o] : firstItems) {
            if (seen.contains(o.uuid))
                continue;
            seen.append(o.uuid);
            const QString shown = o.uuid + '|' + QString::number(o.number);
            board.append(shown);
            // A paid order, or any once non-paid ones are shown, leaves "preparing" when packed
            // (for "ready") or given (for good).
            const bool packed = o.status == QLatin1String("packaged");
            if ((!packed && o.status != QLatin1String("given")) || !(o.is_paid || nonPaidShown))
                preparingRows.append(shown);
            else if (packed)
                readyRows.append(shown);
        }
        QCOMPARE(rowsOf(inWork), board);
        QCOMPARE(rowsOf(preparing), preparingRows);
        QCOMPARE(rowsOf(ready), readyRows);
        stepsWithRows += readyRows.size() > 0 && preparingRows.size() > 0;
    }
    // The sequence reached a busy board, not only an empty one.
    QVERIFY2(stepsWithRows > 15, qPrintable(QString::number(stepsWithRows)));
    QVERIFY(allDone(writes));
}

// A packaged order that is not paid yet is ready only once non-paid orders are shown; switched on
// stays on for the page.
void tst_OrderBoard::ordersPageShowsNonPaidOrdersOnceSwitchedOn()
{
    AppEnv env(nullptr);
    OrdersPage page(&env);
    const QList<QFuture<void>> writes {
        push<Order>(env.orderModel, { { "uuid", "A" }, { "number", 3 }, { "status", "packaged" } }),
        push<Receipt>(env.receiptModel, { { "uuid", "RA" }, { "order_uuid", "A" } }),
        push<ReceiptItem>(env.receiptItemModel,
            { { "id", 1 }, { "uuid", "I1" }, { "receipt_uuid", "RA" }, { "in_work", true } }),
    };
    QList<int> rows;
    for (bool shown : { false, true, false }) {
        env.queueConfig.set(QueueConfig(QJsonObject { { "show_non_paid_orders", shown } }));
        rows << page.preparingOrdersModel()->rowCount() << page.readyOrdersModel()->rowCount();
    }
    QCOMPARE(rows, QList<int>({ 1, 0, 0, 1, 0, 1 }));
    QVERIFY(allDone(writes));
}

// Changes made on a pool thread reach the objects the screens bind to on the GUI thread, every
// time: the environment's mirror, and the loading page's text of the table being written.
void tst_OrderBoard::poolThreadChangesReachTheScreensOnTheGuiThread()
{
    AppEnv env(nullptr);
    KMAPI api(nullptr);
    HttpSyncDBService sync(&api, &env, nullptr);
    AuthPage page(&env, &sync, nullptr);
    QmlAppEnv mirror(&env);
    QList<QThread *> changedOn;
    const auto note = [&] { changedOn.append(QThread::currentThread()); };
    connect(&page, &AuthPage::loadingStatusChanged, &page, note, Qt::DirectConnection);
    connect(&mirror, &QmlAppEnv::domainChanged, &mirror, note, Qt::DirectConnection);
    Q_EMIT sync.tableSyncing(QStringLiteral("hall"));
    QVERIFY(waitFor(QtConcurrent::run([&] {
        Q_EMIT sync.tableSyncing(QStringLiteral("receipt_item"));
        Q_EMIT sync.tableSyncing(QStringLiteral("receipt_item"));
        env.domain.set(QStringLiteral("far"));
    })));
    QTRY_COMPARE(changedOn, QList<QThread *>(4, QThread::currentThread()));
    QCOMPARE(page.loadingStatus(), QStringLiteral("Обновление позиций заказов"));
    QCOMPARE(mirror.domain(), QStringLiteral("far"));
}

void tst_OrderBoard::eachFactOfTheLoginPageIsAnnounced_data()
{
    QTest::addColumn<QByteArray>("fact");
    QTest::addColumn<EnvChange>("change");
    const auto row = [](const char *name, const char *fact, const EnvChange &change) {
        QTest::newRow(name) << QByteArray(fact) << change;
    };
    row("client id", "clientId", [](AppEnv &env) {
        env.commonConfig.set(CommonConfig({ { "client_id", 41 } }));
    });
    row("queue id", "queueId", [](AppEnv &env) {
        env.queueConfig.set(QueueConfig({ { "user_id", 17 } }));
    });
    row("domain", "domain", [](AppEnv &env) { env.domain.set(QStringLiteral("cafe")); });
    row("push level", "lvlPushLog", [](AppEnv &env) {
        env.logConfig.set(LogConfig({ { "push_lvl", 1 } }));
    });
    row("plain http", "useHttps", [](AppEnv &env) { env.useHttps.set(false); });
    row("ignored certificate errors", "ignoreSslErrors",
        [](AppEnv &env) { env.ignoreSslErrors.set(true); });
}

// A binding to a fact of the login page reads it again when its own setting changes, not only
// with the next change of the common record.
void tst_OrderBoard::eachFactOfTheLoginPageIsAnnounced()
{
    QFETCH(QByteArray, fact);
    QFETCH(EnvChange, change);
    AppEnv env(nullptr);
    KMAPI api(nullptr);
    HttpSyncDBService sync(&api, &env, nullptr);
    AuthPage page(&env, &sync, nullptr);
    const QVariant before = page.property(fact);
    QVariantList announced;
    connect(&page, &AuthPage::infoChanged, &page, [&] { announced.append(page.property(fact)); });
    change(env);
    QCOMPARE(announced.size(), 1);
    QVERIFY(announced.first() != before);
}

void tst_OrderBoard::wipedAccountLeavesTheScreens_data()
{
    QTest::addColumn<QJsonArray>("settings");
    const QJsonObject common { { "client_id", 41 }, { "partner_name", "Кофейня" },
        { "partner_email", "cafe@example.org" }, { "support_phone", "+7 000 000-00-00" },
        { "logo", "http://127.0.0.1/logo.png" } };
    const QJsonObject terminal { { "user_id", 17 } };
    QTest::newRow("account with its own settings")
        << QJsonArray { QJsonObject { { "key", "common" }, { "value", common } },
               QJsonObject { { "key", "terminal" }, { "value", terminal } } };
    // Only the domain goes then.
    QTest::newRow("account on the defaults") << QJsonArray {};
}

// After a wipe the support panel and the board show no account, as on a board never paired:
// the wiped account's facts are gone from the core, and each page announces the change.
void tst_OrderBoard::wipedAccountLeavesTheScreens()
{
    QFETCH(QJsonArray, settings);
    database.reset(); // the core opens the database itself
    AppEnv never(nullptr);
    KMAPI api(nullptr);
    HttpSyncDBService neverSync(&api, &never, nullptr);
    const QStringList noAccount = shownAccount(AuthPage(&never, &neverSync, nullptr));
    const QString noLogo = OrdersPage(&never).logo();

    FakeServer server;
    BasicTestCore<QmlAppCore> core(server);
    SyncConfig noBroker = core.env()->syncConfig.value();
    noBroker.mqtt_enabled = false;
    core.env()->syncConfig.set(noBroker);
    const AuthPage &auth = *core->authPage();
    const OrdersPage &orders = *core->ordersPage();
    QTRY_VERIFY(core->qmlEnv()->settingsLoaded());
    QSignalSpy loaded(core->appServices().envService, &ENVService::loaded);
    QVERIFY(loaded.isValid());
    server.enqueue(FakeServer::SyncPath,
        FakeServer::sync({ { "config", settings } }, QDateTime::currentSecsSinceEpoch()));
    // A paired board signs in.
    core.env()->domain.set(server.domain());
    core->dispatch(QStringLiteral("auth_domain"), { { "domain", server.domain() } });
    // The settings that the first synchronisation stored are shown.
    QTRY_VERIFY_WITH_TIMEOUT(loaded.count() > 0, 10000);
    QCOMPARE(auth.domain(), server.domain());
    QCOMPARE(auth.partner().isEmpty(), settings.isEmpty());

    // What a binding reads when a page announces a change.
    QList<QStringList> authRead;
    QStringList ordersRead;
    connect(&auth, &AuthPage::infoChanged, &server, [&] { authRead.append(shownAccount(auth)); });
    connect(&orders, &OrdersPage::infoChanged, &server, [&] { ordersRead.append(orders.logo()); });
    const qsizetype loads = loaded.count();
    core->dispatch(QStringLiteral("remove_db"));
    QTRY_VERIFY(loaded.count() > loads); // the emptied settings table, read again
    QCOMPARE(shownAccount(auth), noAccount);
    QVERIFY(!authRead.isEmpty());
    QCOMPARE(authRead.last(), noAccount);
    // The board's logo changes only where the account had one.
    QCOMPARE(orders.logo(), noLogo);
    QCOMPARE(ordersRead, settings.isEmpty() ? QStringList() : QStringList { noLogo });
}

// A disk cache serves one manager only: the engine's managers (one per loader thread) must not
// share one.
void tst_OrderBoard::eachNetworkManagerHasItsOwnCache()
{
    CachingNetworkAccessManagerFactory factory;
    QObject owner;
    auto *first = qobject_cast<QNetworkDiskCache *>(factory.create(&owner)->cache());
    auto *second = qobject_cast<QNetworkDiskCache *>(factory.create(&owner)->cache());
    QVERIFY(first && second && first != second);
}

QTEST_GUILESS_MAIN(tst_OrderBoard)
#include "tst_orderboard.moc"
