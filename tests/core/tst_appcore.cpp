#include "fakeserver.h"
#include "futurewait.h"
#include "mosquittobroker.h"
#include "testcore.h"
#include "testenvironment.h"

#include "config/envrepo.h"

#include <QElapsedTimer>
#include <QHostAddress>
#include <QJsonArray>
#include <QJsonDocument>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTest>

namespace {

QJsonObject shiftRow()
{
    return { { "id", 1 }, { "uuid", "s-1" }, { "type", "general" }, { "number", 1 },
        { "created_at", QDateTime::currentSecsSinceEpoch() - 3600 } };
}

QJsonObject orderRow(const QString &uuid, const QString &status, qint64 deletedAt = 0)
{
    return { { "uuid", uuid }, { "shift_uuid", "s-1" }, { "number", uuid.mid(2).toInt() },
        { "status", status }, { "created_at", QDateTime::currentSecsSinceEpoch() - 600 },
        { "deleted_at", deletedAt ? QJsonValue(deletedAt) : QJsonValue() } };
}

} // namespace

// The core's start-up, the order in which it brings the services in and the models of the
// current shift, over the real services, database file and server double.
class tst_AppCore : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase() { TestEnvironment::init(); }
    void init();
    void cleanup();

    void offlineLoginRunsTheCoreOnceUntilTheDataIsWiped();
    void destroyingTheCoreWaitsForASynchronisationUnderWay();
    void gapInPushesIsCaughtUp_data();
    void gapInPushesIsCaughtUp();
    void loadsTheCurrentShift_data();
    void loadsTheCurrentShift();
    void followsChangeOfCurrentShiftWhileOpen();

private:
    bool pushesArrive();
    // "uuid:type:closed" rows, and one order, receipt and item in work for each shift named.
    static void store(const QStringList &shifts, const QStringList &contentOf);
    QString content();

    std::unique_ptr<FakeServer> server;
    std::unique_ptr<TestCore> core;
    std::unique_ptr<MosquittoBroker> broker;
};

void tst_AppCore::init()
{
    server = std::make_unique<FakeServer>();
    QVERIFY(server->isListening());
    core = std::make_unique<TestCore>(*server);
}

void tst_AppCore::cleanup()
{
    core.reset();
    server.reset();
}

void tst_AppCore::offlineLoginRunsTheCoreOnceUntilTheDataIsWiped()
{
    QSignalSpy first(core->httpSyncDBService(), &HttpSyncDBService::firstSyncFinished);
    QSignalSpy finished(core->httpSyncDBService(), &HttpSyncDBService::syncFinished);
    QSignalSpy updateEnv(core->env(), &AppEnv::updateEnv);
    QVERIFY(first.isValid() && finished.isValid() && updateEnv.isValid());
    // A stopped sync service waits for the next login whatever the online flag does.
    core->httpSyncDBService()->stop();
    core->env()->isOnline.set(false);
    QCOMPARE(first.count(), 0);

    // The core runs before the (offline) synchronisation returns.
    Q_EMIT core->kmApiService()->logged();
    QCOMPARE(first.count(), 1);
    QCOMPARE(updateEnv.count(), 1);

    // Every login asks the sync service again; only the first synchronisation starts the rest.
    Q_EMIT core->kmApiService()->logged();
    QCOMPARE(finished.count(), 2);
    QCOMPARE(first.count(), 1);
    QCOMPARE(updateEnv.count(), 1);
    QCOMPARE(server->count(FakeServer::SyncPath), 0);

    // Wiping the local data and pairing again runs the core again.
    (*core)->dispatch(QStringLiteral("remove_db"));
    core->env()->isOnline.set(false);
    Q_EMIT core->kmApiService()->logged();
    QCOMPARE(updateEnv.count(), 2);
}

void tst_AppCore::destroyingTheCoreWaitsForASynchronisationUnderWay()
{
    server->setAnswer(FakeServer::SyncPath,
        FakeServer::sync(QJsonObject(), QDateTime::currentSecsSinceEpoch()).withDelay(500));
    const auto login = core->kmApiService()->requestToken(server->domain());
    QVERIFY(waitFor(login));
    QVERIFY(server->waitForRequests(FakeServer::SyncPath, 1));
    core.reset(); // must not leave pool work behind that touches the destroyed services
    QTest::qWait(700); // where such work would run (and fail under ASan)
}

bool tst_AppCore::pushesArrive()
{
    static int probes = 0;
    const QString uuid = QStringLiteral("p-%1").arg(1000 + ++probes);
    const QByteArray push = QJsonDocument(
        QJsonObject { { "from", "server" }, { "body", orderRow(uuid, QStringLiteral("new")) } })
                                .toJson(QJsonDocument::Compact);
    for (int attempt = 0; attempt < 50; ++attempt) {
        if (broker->publish(QStringLiteral("127/point/7/order"), push)
            && QTest::qWaitFor([&] { return core->env()->orderModel.byUuid(uuid).isValid(); }, 100))
            return true;
    }
    return false;
}

void tst_AppCore::gapInPushesIsCaughtUp_data()
{
    QTest::addColumn<QString>("gap");
    QTest::newRow("broker restarted") << "broker";
    QTest::newRow("offline start comes online") << "offline start";
    QTest::newRow("server away and back") << "server";
}

// Orders changed while pushes could not reach the board show once the gap is over. The services
// start once, after the settings the first synchronisation stored have been loaded: the push
// client never tries the compiled broker.
void tst_AppCore::gapInPushesIsCaughtUp()
{
    QFETCH(QString, gap);
    if (!broker) {
        broker = std::make_unique<MosquittoBroker>();
        QVERIFY2(broker->start(), qPrintable(broker->errorString()));
    }
    AppEnv *env = core->env();
    QTcpServer compiledBroker;
    QVERIFY(compiledBroker.listen(QHostAddress::LocalHost));
    SyncConfig sync;
    sync.mqtt_host = QStringLiteral("127.0.0.1");
    sync.mqtt_port = compiledBroker.serverPort();
    env->syncConfig.set(sync);
    QueueConfig queue;
    queue.max_api_error = 1;
    queue.check_online_timeout = 200;
    env->queueConfig.set(queue);
    QSignalSpy first(core->httpSyncDBService(), &HttpSyncDBService::firstSyncFinished);

    sync.http_sync_ms = 600000;
    sync.mqtt_host = broker->host();
    sync.mqtt_port = broker->port();
    sync.mqtt_login = broker->username();
    sync.mqtt_password = broker->password();
    const QJsonObject point { { "id", 7 } };
    const qint64 now = QDateTime::currentSecsSinceEpoch();
    if (gap == QLatin1String("offline start")) {
        ENVRepo::insertENV(QStringLiteral("point"), QJsonDocument(point).toJson());
        ENVRepo::insertENV(QStringLiteral("sync-config"), QJsonDocument(sync.toJSON()).toJson());
        ENVRepo::insertENV(QStringLiteral("last_update"), now - 60);
        QVERIFY(TestDatabase::exec(QStringLiteral("INSERT INTO shift (id, uuid, type, number, "
                                                  "created_at) VALUES (1, 's-1', 'general', 1, %1)")
                                       .arg(now - 3600)));
        QVERIFY(
            TestDatabase::exec(QStringLiteral("INSERT INTO 'order' (uuid, shift_uuid, number, "
                                              "status, created_at) VALUES ('o-1', 's-1', 1, "
                                              "'cooking', %1), ('o-2', 's-1', 2, 'cooking', %1)")
                                   .arg(now - 600)));
        Q_EMIT env->updateEnv();
        QTRY_COMPARE(env->lastUpdate.value(), now - 60);
        server->setAnswer(FakeServer::TokenPath, FakeServer::closeConnection());
    } else {
        const QJsonArray settings { QJsonObject { { "key", "point" }, { "value", point } },
            QJsonObject { { "key", "sync-config" }, { "value", sync.toJSON() } } };
        server->enqueue(FakeServer::SyncPath,
            FakeServer::sync(
                { { "config", settings }, { "shift", QJsonArray { shiftRow() } },
                    { "order",
                        QJsonArray { orderRow("o-1", "cooking"), orderRow("o-2", "cooking") } } },
                now));
    }
    QCOMPARE(server->requests().size(), 0); // nothing goes out before the login
    env->domain.set(server->domain());
    (void)core->kmApiService()->requestToken(server->domain());
    QTRY_VERIFY_WITH_TIMEOUT(core->mqttSyncDBService()->isConnected(), 10000);
    QVERIFY(pushesArrive());

    // While pushes cannot arrive, o-1 becomes ready, o-2 is deleted and o-3 is new.
    const FakeServer::Answer changed = FakeServer::sync(
        { { "shift", QJsonArray { shiftRow() } },
            { "order",
                QJsonArray { orderRow("o-1", "ready"), orderRow("o-2", "cooking", now),
                    orderRow("o-3", "cooking") } } },
        now + 1);
    if (gap == QLatin1String("broker")) {
        broker->stop();
        server->setAnswer(FakeServer::SyncPath, changed);
        QVERIFY(!broker->publish(QStringLiteral("127/point/7/order"), "{}"));
        QTRY_VERIFY(!core->mqttSyncDBService()->isConnected());
        QVERIFY2(broker->start(), qPrintable(broker->errorString()));
        QElapsedTimer back;
        back.start();
        QTRY_VERIFY_WITH_TIMEOUT(core->mqttSyncDBService()->isConnected(), 5000);
        QVERIFY2(back.elapsed() < 2000, qPrintable(QString::number(back.elapsed())));
    } else {
        if (gap == QLatin1String("server")) {
            server->setAnswer(FakeServer::TokenPath, FakeServer::closeConnection());
            server->setAnswer(FakeServer::SyncPath, FakeServer::closeConnection());
            (void)core->httpSyncDBService()->manualSync();
        }
        QTRY_VERIFY(!env->isOnline.value());
        server->resetAnswers();
        server->setAnswer(FakeServer::SyncPath, changed);
    }

    const OrderModel &orders = env->orderModel;
    QTRY_COMPARE_WITH_TIMEOUT(orders.byUuid("o-1").status, QStringLiteral("ready"), 5000);
    QVERIFY(orders.byUuid("o-3").isValid());
    QVERIFY(!orders.byUuid("o-2").isValid());
    QTRY_COMPARE(TestCore::scalar("SELECT status FROM 'order' WHERE uuid = 'o-1'").toString(),
        QStringLiteral("ready"));
    QVERIFY(env->isOnline.value());
    QVERIFY(pushesArrive());
    QCOMPARE(first.count(), 1);
    QCOMPARE(server->count(FakeServer::TimeZonePath), 1);
    QCOMPARE(compiledBroker.hasPendingConnections(), false);
}

void tst_AppCore::store(const QStringList &shifts, const QStringList &contentOf)
{
    int number = 0;
    for (const QString &shift : shifts) {
        const QStringList f = shift.split(QLatin1Char(':'));
        QVERIFY(TestDatabase::exec(
            QStringLiteral("INSERT INTO shift (id, uuid, type, number, "
                           "created_at, closed_at) VALUES (%1, '%2', '%3', "
                           "%1, 1700000000, %4)")
                .arg(++number)
                .arg(f[0], f[1], f[2] == QLatin1String("0") ? QStringLiteral("NULL") : f[2])));
    }
    for (const QString &s : contentOf) {
        QVERIFY(TestDatabase::exec(
            QStringLiteral("INSERT INTO 'order' (uuid, shift_uuid) VALUES ('order-%1', '%1')")
                .arg(s)));
        QVERIFY(
            TestDatabase::exec(QStringLiteral("INSERT INTO receipt (uuid, shift_uuid, order_uuid) "
                                              "VALUES ('receipt-%1', '%1', 'order-%1')")
                                   .arg(s)));
        QVERIFY(
            TestDatabase::exec(QStringLiteral("INSERT INTO receipt_item (id, uuid, receipt_uuid, "
                                              "in_work) VALUES (1, 'item-%1', 'receipt-%1', 1)")
                                   .arg(s)));
    }
}

// What the three shift models hold, as "order/receipt/item" uuids.
QString tst_AppCore::content()
{
    auto first = [](const QAbstractItemModel &model, int role) {
        return model.rowCount() == 0 ? QStringLiteral("-")
                                     : model.index(0, 0).data(role).toString();
    };
    return first(core->env()->orderModel, OrderModel::uuidRole) + QLatin1Char('/')
        + first(core->env()->receiptModel, ReceiptModel::uuidRole) + QLatin1Char('/')
        + first(core->env()->receiptItemModel, ReceiptItemModel::uuidRole);
}

void tst_AppCore::loadsTheCurrentShift_data()
{
    QTest::addColumn<QStringList>("shifts");
    QTest::addColumn<QStringList>("contentOf");
    QTest::addColumn<QString>("current");
    QTest::addColumn<bool>("open");
    QTest::addColumn<QString>("content"); // empty: nothing is loaded

    QTest::newRow("no general shift: the empty one")
        << QStringList { "cash:cash:0" } << QStringList { "" } << "" << true << "order-/receipt-/-";
    QTest::newRow("the open general one")
        << QStringList { "old:general:1700000500", "it''s:general:0", "cash:cash:0" }
        << QStringList { "old", "it''s" } << "it's" << true << "order-it's/receipt-it's/item-it's";
    QTest::newRow("closed: nothing")
        << QStringList { "s1:general:1700000500" } << QStringList { "s1" } << "s1" << false << "";
}

void tst_AppCore::loadsTheCurrentShift()
{
    QFETCH(QStringList, shifts);
    QFETCH(QStringList, contentOf);
    QFETCH(QString, current);
    QFETCH(bool, open);
    QFETCH(QString, content);
    store(shifts, contentOf);
    AppEnv *env = core->env();
    QSignalSpy updateEnv(env, &AppEnv::updateEnv);
    QSignalSpy orderResets(&env->orderModel, &QAbstractItemModel::modelReset);

    env->updateAllModels();
    // The settings are asked for before the shifts have been read.
    QCOMPARE(updateEnv.count(), 1);
    QTRY_COMPARE(env->shiftModel.rowCount(), shifts.size());
    QTRY_COMPARE(env->shiftUuid.value(), current);
    QCOMPARE(env->isShiftOpen.value(), open);
    if (open) {
        QTRY_COMPARE(this->content(), content);
        QVERIFY(env->modelsLoaded);
    } else {
        QTest::qWait(100);
        QVERIFY(!env->modelsLoaded);
        QCOMPARE(orderResets.count(), 0);
    }
}

void tst_AppCore::followsChangeOfCurrentShiftWhileOpen()
{
    store({ "s1:general:0" }, { "s1", "s2" });
    AppEnv *env = core->env();
    env->updateAllModels();
    QTRY_COMPARE(content(), QStringLiteral("order-s1/receipt-s1/item-s1"));

    // A new current shift, as a pushed shift sets it.
    env->shiftUuid.set(QStringLiteral("s2"));
    QTRY_COMPARE(content(), QStringLiteral("order-s2/receipt-s2/-"));

    // Once the shift is closed, a change of the current shift loads nothing.
    QSignalSpy orderResets(&env->orderModel, &QAbstractItemModel::modelReset);
    env->isShiftOpen.set(false);
    env->shiftUuid.set(QStringLiteral("s1"));
    QTest::qWait(100);
    QCOMPARE(orderResets.count(), 0);
    QCOMPARE(content(), QStringLiteral("order-s2/receipt-s2/-"));
}

QTEST_MAIN(tst_AppCore)
#include "tst_appcore.moc"
