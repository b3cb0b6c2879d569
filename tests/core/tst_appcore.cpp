#include "fakeserver.h"
#include "futurewait.h"
#include "testcore.h"
#include "testenvironment.h"

#include <QMetaMethod>
#include <QSignalSpy>
#include <QTest>

// The core's start-up and the order in which it brings the services in, over the real services,
// database file and server double.
class tst_AppCore : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void init();
    void cleanup();

    void qmlSeesDispatchAndNothingElse();
    void startUpCreatesTheSchemaAndSendsNothing();
    void loginStartsTheFirstSynchronisationAndThenTheServices();
    void offlineLoginRunsTheCoreOnceUntilTheDataIsWiped();
    void destroyingTheCoreWaitsForASynchronisationUnderWay();

private:
    std::unique_ptr<FakeServer> server;
    std::unique_ptr<TestCore> core;
};

void tst_AppCore::initTestCase()
{
    TestEnvironment::init();
}

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

void tst_AppCore::qmlSeesDispatchAndNothingElse()
{
    const QMetaObject &meta = AppCore::staticMetaObject;
    QCOMPARE(QByteArray(meta.className()), QByteArray("AppCore"));
    QList<QByteArray> methods;
    for (int i = meta.methodOffset(); i < meta.methodCount(); ++i)
        methods.append(meta.method(i).methodSignature());
    QCOMPARE(methods,
        (QList<QByteArray> { "sync()", "run()", "dispatch(QString,QJsonObject,QJSValue)",
            "dispatch(QString,QJsonObject)", "dispatch(QString)" }));
    QCOMPARE(meta.method(meta.methodOffset()).access(), QMetaMethod::Private);
    QCOMPARE(meta.method(meta.methodOffset() + 1).access(), QMetaMethod::Private);
    QCOMPARE(meta.method(meta.methodOffset() + 2).parameterNames(),
        (QList<QByteArray> { "name", "args", "callback" }));
}

void tst_AppCore::startUpCreatesTheSchemaAndSendsNothing()
{
    for (const char *table : { "config", "migrations", "shift", "order", "order_status", "receipt",
             "receipt_item", "logs" })
        QVERIFY2(TestCore::count(QLatin1String(table)) >= 0, table);
    QTest::qWait(500);
    QCOMPARE(server->requests().size(), 0);
    QVERIFY(!core->mqttSyncDBService()->isConnected());
}

void tst_AppCore::loginStartsTheFirstSynchronisationAndThenTheServices()
{
    QSignalSpy first(core->httpSyncDBService(), &HttpSyncDBService::firstSyncFinished);
    QSignalSpy updateEnv(core->env(), &AppEnv::updateEnv);
    QVERIFY(first.isValid() && updateEnv.isValid());

    const auto login = core->kmApiService()->requestToken(server->domain());
    QVERIFY(waitFor(login));
    QVERIFY(server->waitForRequests(FakeServer::SyncPath, 1));
    QVERIFY(first.count() == 1 || first.wait(10000));
    // The core then reloads the models (which asks for the settings again) and starts the point
    // connection service, whose first act is the device-clock check.
    QTRY_COMPARE(updateEnv.count(), 1);
    QVERIFY(server->waitForRequests(FakeServer::TimeZonePath, 1));
    QCOMPARE(first.count(), 1);
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
    QTest::qWait(200);
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
    QTest::qWait(700);
}

QTEST_MAIN(tst_AppCore)
#include "tst_appcore.moc"
