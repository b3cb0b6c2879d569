#include "core/appenv.h"
#include "services/logs/logservice.h"
#include "shared/kmapi.h"

#include "fakeserver.h"
#include "futurewait.h"
#include "testdatabase.h"
#include "testenvironment.h"

#include <QElapsedTimer>
#include <QJsonArray>
#include <QSqlError>
#include <QSqlQuery>
#include <QTest>

#include <memory>

namespace {

bool addRow(int id, const QString &message)
{
    return TestDatabase::exec(
        QStringLiteral("INSERT INTO logs (id, timestamp, level, message, file, line, "
                       "function, is_sync) VALUES (%1, '2026-03-01 10:00:%2', 3, '%3', "
                       "'kmapi.cpp', %1, 'requestSyncDB', 0)")
            .arg(id)
            .arg(id % 60, 2, 10, QLatin1Char('0'))
            .arg(message));
}

QList<int> unsentIds()
{
    QList<int> ids;
    for (const QVariant &id :
        TestDatabase::column("SELECT id FROM logs WHERE is_sync = 0 ORDER BY id"))
        ids.append(id.toInt());
    return ids;
}

} // namespace

class TestLogService : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void init();
    void cleanup();

    void uploadSendsRowsAndMarksThem();
    void failedUploadKeepsRowsAndPushes();
    void uploadSendsOldestThousandFirst();
    void disabledUploadStopsStorage();
    void thresholdFollowsPushLevel();
    void ticksDuringAnUploadAreSkipped();
    void offlineStopsTheTimerAndOnlineUploadsAtOnce();
    void stoppedServiceIgnoresOnlineChanges();
    void nonPositivePeriodUsesTheDefault();
    void destructionWaitsForARunningUpload();

private:
    std::unique_ptr<TestDatabase> database;
    std::unique_ptr<FakeServer> server;
    std::unique_ptr<KMAPI> api;
    std::unique_ptr<AppEnv> env;
    std::unique_ptr<LogService> service;
    QStringList pushes;
};

void TestLogService::initTestCase()
{
    TestEnvironment::init();
}

void TestLogService::init()
{
    database = std::make_unique<TestDatabase>();
    server = std::make_unique<FakeServer>();
    QVERIFY(server->isListening());
    api = std::make_unique<KMAPI>();
    api->useHttps(false);
    api->setHost(server->host());
    const APIFuture login = api->requestToken(server->domain(), QStringLiteral("device-1"));
    QVERIFY(waitFor(login));
    server->clearRequests();
    env = std::make_unique<AppEnv>();
    service = std::make_unique<LogService>(api.get(), env.get());
    pushes.clear();
    connect(service.get(), &IService::push, this, [this](PushType type, const QString &text) {
        pushes.append(QString::number(type) + ' ' + text);
    });
}

void TestLogService::cleanup()
{
    service.reset();
    env.reset();
    api.reset();
    server.reset();
    database.reset();
    ILogService::lvlToWrite = 2;
}

void TestLogService::uploadSendsRowsAndMarksThem()
{
    QVERIFY(addRow(5, "first"));
    QVERIFY(addRow(6, "it''s \"quoted\""));
    QVERIFY(addRow(9, "third"));
    QVERIFY(TestDatabase::exec(
        "INSERT INTO logs (id, timestamp, level, message, file, line, function, is_sync) "
        "VALUES (7, '2026-03-01 09:00:00', 2, 'sent before', 'f', 1, 'g', 1)"));

    service->run();
    QVERIFY(server->waitForRequests(FakeServer::LogsPath, 1));
    QTRY_COMPARE(unsentIds(), QList<int>());

    const RecordedRequest request = server->requests(FakeServer::LogsPath).value(0);
    const auto sent = [](int id, const char *message) {
        return QJsonObject { { "timestamp", QStringLiteral("2026-03-01 10:00:0%1").arg(id) },
            { "level", 3 }, { "message", message }, { "file", "kmapi.cpp" }, { "line", id },
            { "function", "requestSyncDB" } };
    };
    const QJsonArray expected { sent(5, "first"), sent(6, "it's \"quoted\""), sent(9, "third") };
    QCOMPARE(request.json().array(), expected);
    QVERIFY(pushes.isEmpty());
}

void TestLogService::failedUploadKeepsRowsAndPushes()
{
    QVERIFY(addRow(1, "kept"));
    QVERIFY(addRow(2, "kept too"));
    server->enqueue(FakeServer::LogsPath, FakeServer::error(500, 0, "down"));

    service->run();
    QTRY_COMPARE(pushes, QStringList("3 Не удалось отправить логи: Неизвестная ошибка апи"));
    QCOMPARE(unsentIds(), QList<int>({ 1, 2 }));

    // The next tick sends the same rows and marks them.
    service->update();
    QVERIFY(server->waitForRequests(FakeServer::LogsPath, 2));
    QTRY_COMPARE(unsentIds(), QList<int>());
    QCOMPARE(server->requests(FakeServer::LogsPath).value(1).json().array().size(), 2);
}

void TestLogService::uploadSendsOldestThousandFirst()
{
    QSqlQuery insert;
    QVERIFY(insert.exec("BEGIN"));
    for (int id = 2500; id >= 1; --id)
        QVERIFY(addRow(id, QStringLiteral("row %1").arg(id)));
    QVERIFY(insert.exec("COMMIT"));

    service->run();
    QVERIFY(server->waitForRequests(FakeServer::LogsPath, 1));
    QTRY_COMPARE(unsentIds().size(), 1500);
    QCOMPARE(unsentIds().first(), 1001);
    const QJsonArray sent = server->requests(FakeServer::LogsPath).value(0).json().array();
    QCOMPARE(sent.size(), 1000);
    QCOMPARE(sent.first()["message"].toString(), QStringLiteral("row 1"));
    QCOMPARE(sent.last()["message"].toString(), QStringLiteral("row 1000"));

    service->update();
    QVERIFY(server->waitForRequests(FakeServer::LogsPath, 2));
    QTRY_COMPARE(unsentIds().size(), 500);
}

void TestLogService::disabledUploadStopsStorage()
{
    QVERIFY(addRow(1, "waiting"));
    LogConfig config;
    config.enabled = false;
    env->logConfig.set(config);

    service->run();
    QCOMPARE(ILogService::lvlToWrite.load(), 100);
    qCritical("not stored while the upload is disabled");
    TestDatabase::drainThreadPool();
    QTest::qWait(100);
    QCOMPARE(server->count(FakeServer::LogsPath), 0);
    QCOMPARE(unsentIds(), QList<int>({ 1 }));
}

void TestLogService::thresholdFollowsPushLevel()
{
    for (const int level : { 0, 3 }) {
        LogConfig config;
        config.push_lvl = level;
        env->logConfig.set(config);
        service->update();
        QCOMPARE(ILogService::lvlToWrite.load(), level);
    }
}

void TestLogService::ticksDuringAnUploadAreSkipped()
{
    QVERIFY(addRow(1, "once"));
    server->enqueue(FakeServer::LogsPath, FakeServer::json({}).withDelay(800));
    service->update();
    QVERIFY(server->waitForRequests(FakeServer::LogsPath, 1));
    service->update();
    service->update();
    QTRY_COMPARE(unsentIds(), QList<int>());
    QTest::qWait(100);
    QCOMPARE(server->count(FakeServer::LogsPath), 1);
}

void TestLogService::offlineStopsTheTimerAndOnlineUploadsAtOnce()
{
    LogConfig config;
    config.period_push_ms = 100;
    env->logConfig.set(config);
    service->run();
    TestDatabase::drainThreadPool(); // the upload of run() finds nothing to send
    env->isOnline.set(false);
    QVERIFY(addRow(1, "while offline"));
    QTest::qWait(300);
    QCOMPARE(server->count(FakeServer::LogsPath), 0);

    env->isOnline.set(true);
    QVERIFY(server->waitForRequests(FakeServer::LogsPath, 1));
    QTRY_COMPARE(unsentIds(), QList<int>());
}

void TestLogService::stoppedServiceIgnoresOnlineChanges()
{
    service->run(); // nothing to send yet
    TestDatabase::drainThreadPool();
    service->stop();
    QVERIFY(addRow(1, "waits for run()"));
    env->isOnline.set(false);
    env->isOnline.set(true);
    TestDatabase::drainThreadPool();
    QTest::qWait(100);
    QCOMPARE(server->count(FakeServer::LogsPath), 0);
    QVERIFY(pushes.isEmpty());

    service->run();
    QVERIFY(server->waitForRequests(FakeServer::LogsPath, 1));
}

void TestLogService::nonPositivePeriodUsesTheDefault()
{
    LogConfig config;
    config.period_push_ms = 0;
    env->logConfig.set(config);
    QVERIFY(addRow(1, "one"));
    service->run();
    QVERIFY(server->waitForRequests(FakeServer::LogsPath, 1));
    QVERIFY(addRow(2, "two"));
    // With an interval of 0 the timer would fire on every pass of the event loop.
    QTest::qWait(300);
    QCOMPARE(server->count(FakeServer::LogsPath), 1);
}

void TestLogService::destructionWaitsForARunningUpload()
{
    QVERIFY(addRow(1, "in flight"));
    server->enqueue(FakeServer::LogsPath, FakeServer::json({}).withDelay(1000));
    service->update();
    QVERIFY(server->waitForRequests(FakeServer::LogsPath, 1));
    QElapsedTimer elapsed;
    elapsed.start();
    service.reset();
    QVERIFY(elapsed.elapsed() > 500);
    QCOMPARE(unsentIds(), QList<int>());
}

QTEST_GUILESS_MAIN(TestLogService)
#include "tst_logservice.moc"
