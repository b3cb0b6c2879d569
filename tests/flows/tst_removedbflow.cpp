#include "config/envrepo.h"
#include "fakeserver.h"
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
    void initTestCase() { TestEnvironment::init(); }
    void init();
    void cleanup();

    void wipesTheDataAndUnpairs();
    void noSynchronisationOfTheRemovedAccountFollows();
    void waitsForASynchronisationUnderWay();
    void aWipeThatLeavesDataAnswersWithAText();
    void aSettingsLoadStartedBeforeTheWipeIsNotApplied();

private:
    QVariantList wipe();
    bool pair();

    std::unique_ptr<FakeServer> server;
    std::unique_ptr<TestCore> core;
};

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

QVariantList tst_RemoveDbFlow::wipe()
{
    JsCallback callback;
    (*core)->dispatch(QStringLiteral("remove_db"), QJsonObject(), callback.function());
    return callback.count() == 1 ? callback.arguments() : QVariantList { "not answered at once" };
}

// Pairs the board with the double and waits for the first synchronisation to end.
bool tst_RemoveDbFlow::pair()
{
    core->env()->domain.set(server->domain());
    QSignalSpy finished(core->httpSyncDBService(), &HttpSyncDBService::syncFinished);
    JsCallback callback;
    (*core)->dispatch(QStringLiteral("auth_domain"), QJsonObject { { "domain", server->domain() } },
        callback.function());
    return callback.waitForCalls(1) && callback.arguments() == QVariantList { false }
    && (finished.count() > 0 || finished.wait(10000));
}

void tst_RemoveDbFlow::wipesTheDataAndUnpairs()
{
    QVERIFY(TestDatabase::exec(QStringLiteral(
        "INSERT INTO shift (uuid, type, number, created_at) VALUES ('S', 'general', 1, 1)")));
    QVERIFY(TestDatabase::exec(
        QStringLiteral("INSERT INTO 'order' (uuid, shift_uuid, number) VALUES ('A', 'S', 1)")));
    QVERIFY(TestDatabase::exec(QStringLiteral(
        "INSERT INTO receipt (uuid, shift_uuid, order_uuid) VALUES ('RA', 'S', 'A')")));
    ENVRepo::insertENV(QStringLiteral("domain"), server->domain());
    AppEnv *env = core->env();
    env->domain.set(server->domain());
    env->lastUpdate.set(1700000000);
    env->isOnline.set(false);

    QCOMPARE(wipe(), QVariantList { false });
    QCOMPARE(env->domain.value(), QString());
    QCOMPARE(env->lastUpdate.value(), 0LL);
    QCOMPARE(env->isOnline.value(), true);
    for (const char *table : { "order", "shift", "config" })
        QCOMPARE(TestCore::count(QLatin1String(table)), 0);
    QCOMPARE(TestCore::count(QStringLiteral("receipt")), 1); // receipts are kept
    QVERIFY(TestCore::count(QStringLiteral("migrations")) > 0);
}

void tst_RemoveDbFlow::noSynchronisationOfTheRemovedAccountFollows()
{
    QVERIFY(pair());
    // Too many failed exchanges took the board offline; the wipe sets it online again.
    core->env()->isOnline.set(false);
    const int syncs = server->count(FakeServer::SyncPath);
    const int logins = server->count(FakeServer::TokenPath);
    QCOMPARE(wipe(), QVariantList { false });
    QTest::qWait(500);
    QCOMPARE(server->count(FakeServer::SyncPath), syncs);
    QCOMPARE(server->count(FakeServer::TokenPath), logins);

    // The next pairing synchronises again, as a first synchronisation.
    QSignalSpy first(core->httpSyncDBService(), &HttpSyncDBService::firstSyncFinished);
    QVERIFY(pair());
    QTRY_COMPARE(first.count(), 1);
}

void tst_RemoveDbFlow::waitsForASynchronisationUnderWay()
{
    const qint64 stamp = QDateTime::currentSecsSinceEpoch();
    server->enqueue(FakeServer::SyncPath, FakeServer::sync(QJsonObject(), stamp).withDelay(1000));
    core->env()->domain.set(server->domain());
    JsCallback login;
    (*core)->dispatch(QStringLiteral("auth_domain"), QJsonObject { { "domain", server->domain() } },
        login.function());
    QVERIFY(login.waitForCalls(1));
    QVERIFY(server->waitForRequests(FakeServer::SyncPath, 1));

    QElapsedTimer timer;
    timer.start();
    QCOMPARE(wipe(), QVariantList { false });
    QVERIFY(timer.elapsed() >= 500);
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
    QCOMPARE(wipe(), QVariantList { QStringLiteral("Не удалось удалить данные") });
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
