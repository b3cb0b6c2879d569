#include "config/envrepo.h"
#include "entities/entitiesrepo.h"
#include "entities/order.h"
#include "entities/receipt.h"
#include "entities/shift.h"
#include "fakeserver.h"
#include "futurewait.h"
#include "jscallback.h"
#include "testcore.h"
#include "testenvironment.h"

#include <QDateTime>
#include <QElapsedTimer>
#include <QSignalSpy>
#include <QSqlQuery>
#include <QTest>
#include <QThread>

// Wiping the local data through the real core, services and database file.
class tst_RemoveDbFlow : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void init();
    void cleanup();

    void wipesTheDataAndUnpairs();
    void runsWithoutArgumentsOrCallback();
    void noSynchronisationOfTheRemovedAccountFollows();
    void waitsForASynchronisationUnderWay();
    void aWipeThatLeavesDataAnswersWithAText();
    void aSettingsLoadStartedBeforeTheWipeIsNotApplied();

private:
    bool pair();
    void storeSomeData();

    std::unique_ptr<FakeServer> server;
    std::unique_ptr<TestCore> core;
};

void tst_RemoveDbFlow::initTestCase()
{
    TestEnvironment::init();
}

void tst_RemoveDbFlow::init()
{
    server = std::make_unique<FakeServer>();
    QVERIFY(server->isListening());
    core = std::make_unique<TestCore>(*server);
}

void tst_RemoveDbFlow::cleanup()
{
    core.reset();
    server.reset();
}

// Pairs the board with the double and waits for the first synchronisation to end.
bool tst_RemoveDbFlow::pair()
{
    core->env()->domain.set(server->domain());
    QSignalSpy finished(core->httpSyncDBService(), &HttpSyncDBService::syncFinished);
    JsCallback callback;
    (*core)->dispatch(QStringLiteral("auth_domain"),
        QJsonObject { { QStringLiteral("domain"), server->domain() } }, callback.function());
    return callback.waitForCalls(1) && callback.arguments() == QVariantList { false }
    && (finished.count() > 0 || finished.wait(10000));
}

void tst_RemoveDbFlow::storeSomeData()
{
    Shift shift;
    shift.id = 1;
    shift.uuid = QStringLiteral("S");
    shift.type = QStringLiteral("general");
    shift.created_at = QDateTime::currentSecsSinceEpoch();
    Order order;
    order.uuid = QStringLiteral("A");
    order.shift_uuid = shift.uuid;
    order.number = 1;
    Receipt receipt;
    receipt.uuid = QStringLiteral("RA");
    receipt.order_uuid = order.uuid;
    QVERIFY(waitFor(EntitiesRepo::insertShift({ &shift })));
    QVERIFY(waitFor(EntitiesRepo::insertOrder({ &order })));
    QVERIFY(waitFor(EntitiesRepo::insertReceipt({ &receipt })));
    ENVRepo::insertENV(QStringLiteral("domain"), server->domain());
    QCOMPARE(TestCore::count(QStringLiteral("shift")), 1);
    QCOMPARE(TestCore::count(QStringLiteral("order")), 1);
}

void tst_RemoveDbFlow::wipesTheDataAndUnpairs()
{
    storeSomeData();
    AppEnv *env = core->env();
    env->domain.set(server->domain());
    env->lastUpdate.set(1700000000);

    JsCallback callback;
    (*core)->dispatch(QStringLiteral("remove_db"), QJsonObject(), callback.function());
    QCOMPARE(callback.count(), 1); // before dispatch returned
    QCOMPARE(callback.arguments(), QVariantList { false });

    QCOMPARE(env->domain.value(), QString());
    QCOMPARE(env->lastUpdate.value(), 0LL);
    QCOMPARE(env->isOnline.value(), true);
    QCOMPARE(TestCore::setting(QStringLiteral("domain")), QString());
    QCOMPARE(TestCore::count(QStringLiteral("order")), 0);
    QCOMPARE(TestCore::count(QStringLiteral("shift")), 0);
    QCOMPARE(TestCore::count(QStringLiteral("config")), 0);
    QCOMPARE(TestCore::count(QStringLiteral("receipt")), 1); // receipts are kept
    QVERIFY(TestCore::count(QStringLiteral("migrations")) > 0);
}

void tst_RemoveDbFlow::runsWithoutArgumentsOrCallback()
{
    storeSomeData();
    core->env()->domain.set(server->domain());
    QMetaObject::invokeMethod(&**core, "dispatch", Q_ARG(QString, QStringLiteral("remove_db")));
    QCOMPARE(core->env()->domain.value(), QString());
    QCOMPARE(TestCore::count(QStringLiteral("order")), 0);
}

void tst_RemoveDbFlow::noSynchronisationOfTheRemovedAccountFollows()
{
    QVERIFY(pair());
    // Too many failed exchanges took the board offline.
    core->env()->isOnline.set(false);
    const int syncs = server->count(FakeServer::SyncPath);
    const int logins = server->count(FakeServer::TokenPath);

    JsCallback callback;
    (*core)->dispatch(QStringLiteral("remove_db"), QJsonObject(), callback.function());
    QCOMPARE(callback.arguments(), QVariantList { false });
    QCOMPARE(core->env()->isOnline.value(), true);

    QTest::qWait(1000);
    QCOMPARE(server->count(FakeServer::SyncPath), syncs);
    QCOMPARE(server->count(FakeServer::TokenPath), logins);

    // The next pairing synchronises again, as a first synchronisation.
    QSignalSpy first(core->httpSyncDBService(), &HttpSyncDBService::firstSyncFinished);
    QVERIFY(pair());
    QTRY_COMPARE(first.count(), 1);
}

void tst_RemoveDbFlow::waitsForASynchronisationUnderWay()
{
    // The first synchronisation after the login answers late.
    const qint64 stamp = QDateTime::currentSecsSinceEpoch();
    server->enqueue(FakeServer::SyncPath, FakeServer::sync(QJsonObject(), stamp).withDelay(1000));
    core->env()->domain.set(server->domain());
    JsCallback login;
    (*core)->dispatch(QStringLiteral("auth_domain"),
        QJsonObject { { QStringLiteral("domain"), server->domain() } }, login.function());
    QVERIFY(login.waitForCalls(1));
    QVERIFY(server->waitForRequests(FakeServer::SyncPath, 1));

    QElapsedTimer timer;
    timer.start();
    JsCallback callback;
    (*core)->dispatch(QStringLiteral("remove_db"), QJsonObject(), callback.function());
    QVERIFY(timer.elapsed() >= 500);
    QCOMPARE(callback.arguments(), QVariantList { false });

    // The time stamp of that synchronisation belonged to the account just removed.
    QTest::qWait(300);
    QCOMPARE(core->env()->lastUpdate.value(), 0LL);
    QCOMPARE(TestCore::setting(QStringLiteral("last_update")), QString());
    QCOMPARE(TestCore::setting(QStringLiteral("domain")), QString());
}

void tst_RemoveDbFlow::aWipeThatLeavesDataAnswersWithAText()
{
    // Something that is no table where the orders belong survives the schema's drop.
    QSqlQuery query(ThreadStorage::instance()->database());
    QVERIFY(query.exec(QStringLiteral("DROP TABLE 'order'")));
    QVERIFY(query.exec(QStringLiteral("CREATE VIEW 'order' AS SELECT 1 AS uuid")));

    JsCallback callback;
    (*core)->dispatch(QStringLiteral("remove_db"), QJsonObject(), callback.function());
    QCOMPARE(callback.arguments(), QVariantList { QStringLiteral("Не удалось удалить данные") });
}

// The wiped account's domain must not come back with a load that read it before the wipe.
void tst_RemoveDbFlow::aSettingsLoadStartedBeforeTheWipeIsNotApplied()
{
    AppEnv *env = core->env();
    for (int round = 0; round < 40; ++round) {
        ENVRepo::insertENV(QStringLiteral("domain"), QStringLiteral("wiped-cafe"));
        Q_EMIT env->updateEnv();
        // Now and then the read gets a head start, so that it lands on either side of the wipe.
        if (round % 2)
            QThread::msleep(round % 4 == 1 ? 1 : 5);
        (*core)->dispatch(QStringLiteral("remove_db"));
        TestDatabase::drainThreadPool();
        QTest::qWait(5);
        QCOMPARE(env->domain.value(), QString());
    }
}

QTEST_MAIN(tst_RemoveDbFlow)
#include "tst_removedbflow.moc"
