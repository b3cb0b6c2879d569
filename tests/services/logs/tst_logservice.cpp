#include "core/appenv.h"
#include "services/logs/logservice.h"
#include "shared/kmapi.h"
#include "shared/logger.h"

#include "fakeserver.h"
#include "futurewait.h"
#include "testdatabase.h"
#include "testenvironment.h"

#include <QElapsedTimer>
#include <QJsonArray>
#include <QSqlQuery>
#include <QTest>

#include <memory>

namespace {

bool addRow(int id, const QString &message)
{
    return TestDatabase::exec(
        QStringLiteral("INSERT INTO logs (id, timestamp, level, message, file, line, function, "
                       "is_sync) VALUES (%1, '2026-03-01 10:00:%2', 3, '%3', 'kmapi.cpp', %1, "
                       "'requestSyncDB', 0)")
            .arg(id)
            .arg(id % 60, 2, 10, QLatin1Char('0'))
            .arg(message));
}

QAtomicInt failLines;
QtMessageHandler serviceHandler = nullptr;

// Counts the reports of failed statements on their way to the service's own handler.
void countFailLines(QtMsgType type, const QMessageLogContext &context, const QString &text)
{
    if (text.startsWith(QLatin1String("FAIL QUERY:")))
        failLines.ref();
    serviceHandler(type, context, text);
}

QList<int> unsentIds()
{
    QList<int> ids;
    for (const QVariant &id :
        TestDatabase::column("SELECT id FROM logs WHERE is_sync = 0 ORDER BY id"))
        ids.append(id.toInt());
    return ids;
}

// Stored lines as "level|message|file|function|line", once every pending INSERT has run.
QStringList storedLines()
{
    TestDatabase::drainThreadPool();
    return TestDatabase::textColumn("SELECT level || '|' || message || '|' || file || '|' || "
                                    "function || '|' || line FROM logs ORDER BY id");
}

} // namespace

// Log capture into table logs and the upload of its rows to the loopback server double.
class TestLogService : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase() { TestEnvironment::init(); }
    void init();
    void cleanup();

    void threshold_data();
    void threshold();
    void storesTextVerbatim_data();
    void storesTextVerbatim();
    void failingInsertDoesNotFeedItself();
    void destructionEndsCapture();

    void uploadSendsRowsAndMarksThem();
    void failedUploadKeepsRowsAndPushes();
    void uploadSendsOldestThousandFirst();
    void configDrivesTheThreshold();
    void ticksDuringAnUploadAreSkipped();
    void onlineState();
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

void TestLogService::init()
{
    database = std::make_unique<TestDatabase>();
    server = std::make_unique<FakeServer>();
    api = std::make_unique<KMAPI>();
    api->useHttps(false);
    api->setHost(server->host());
    QVERIFY(waitFor(api->requestToken(server->domain(), QStringLiteral("device-1"))));
    server->clearRequests();
    env = std::make_unique<AppEnv>();
    ILogService::lvlToWrite = 2;
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

void TestLogService::threshold_data()
{
    QTest::addColumn<int>("threshold");
    QTest::addColumn<int>("kind"); // 0..3 a Qt message type's level, 10 + n debugInfo level n
    QTest::addColumn<int>("storedLevel"); // -1: not stored
    QTest::newRow("debug below default") << 2 << 0 << -1;
    QTest::newRow("warning at default") << 2 << 2 << 2;
    QTest::newRow("info at threshold 1") << 1 << 1 << 1;
    QTest::newRow("debugInfo 3 at 3") << 3 << 13 << 3;
    QTest::newRow("debugInfo 2 at 3") << 3 << 12 << -1;
    QTest::newRow("critical while disabled") << 100 << 3 << -1;
}

void TestLogService::threshold()
{
    QFETCH(int, threshold);
    QFETCH(int, kind);
    QFETCH(int, storedLevel);
    ILogService::lvlToWrite = threshold;
    const QString text = QStringLiteral("kind %1").arg(kind);
    if (kind == 0)
        qDebug().noquote() << text;
    else if (kind == 1)
        qInfo().noquote() << text;
    else if (kind == 2)
        qWarning().noquote() << text;
    else if (kind == 3)
        qCritical().noquote() << text;
    else
        Logger::debugInfo(text, "f", "g", 12, kind - 10);
    const QStringList lines = storedLines();
    QCOMPARE(lines.size(), storedLevel < 0 ? 0 : 1);
    if (storedLevel >= 0)
        QVERIFY2(lines[0].startsWith(QStringLiteral("%1|%2|").arg(storedLevel).arg(text)),
            qPrintable(lines[0]));
}

void TestLogService::storesTextVerbatim_data()
{
    QTest::addColumn<QString>("message");
    QTest::addColumn<QByteArray>("file"); // null: none given, stored as empty text
    QTest::newRow("markers") << QStringLiteral("%1 and %4 stay") << QByteArray("%2.cpp");
    QTest::newRow("quotes and sql")
        << QStringLiteral("'); DROP TABLE logs; --") << QByteArray("it's.cpp");
    QTest::newRow("nul inside") << QString::fromUtf16(u"before\0after", 12) << QByteArray("n");
    QTest::newRow("no origin") << QStringLiteral("Не удалось") << QByteArray();
}

void TestLogService::storesTextVerbatim()
{
    QFETCH(QString, message);
    QFETCH(QByteArray, file);
    Logger::debugInfo(message, file.isNull() ? nullptr : file.constData(),
        file.isNull() ? nullptr : "fn'()", 321, 3);
    QCOMPARE(storedLines(),
        QStringList { QStringLiteral("3|%1|%2|%3|321")
                          .arg(message, QString::fromUtf8(file),
                              file.isNull() ? QString() : QStringLiteral("fn'()")) });
    // The time stamp in the form the upload sends.
    const QString stamp = TestDatabase::textColumn("SELECT timestamp FROM logs").value(0);
    const QDateTime at = QDateTime::fromString(stamp, "yyyy-MM-dd hh:mm:ss");
    QVERIFY2(at.isValid() && qAbs(at.secsTo(QDateTime::currentDateTime())) < 60, qPrintable(stamp));
}

// Lines about a failed log INSERT, and lines said while reporting it, are not stored: otherwise
// each failure would feed the next.
void TestLogService::failingInsertDoesNotFeedItself()
{
    QVERIFY(TestDatabase::exec(QStringLiteral("DROP TABLE logs")));
    ILogService::lvlToWrite = 0;
    failLines = 0;
    serviceHandler = qInstallMessageHandler(countFailLines);
    Logger::debugInfo(QStringLiteral("first"), "f", "g", 1, 2);
    // The failed INSERT reports on a pool thread; give a feedback loop time to show itself.
    for (int i = 0; i < 5; ++i) {
        TestDatabase::drainThreadPool();
        QTest::qWait(20);
    }
    qInstallMessageHandler(serviceHandler);
    QCOMPARE(failLines.loadRelaxed(), 1);
}

void TestLogService::destructionEndsCapture()
{
    service.reset();
    Logger::debugInfo(QStringLiteral("after the end"), "f", "g", 1, 3);
    QCOMPARE(storedLines().size(), 0);
}

void TestLogService::uploadSendsRowsAndMarksThem()
{
    QVERIFY(addRow(5, "first"));
    QVERIFY(addRow(6, "it''s \"quoted\""));
    QVERIFY(TestDatabase::exec("INSERT INTO logs (id, timestamp, level, message, file, line, "
                               "function, is_sync) VALUES (7, 't', 2, 'sent', 'f', 1, 'g', 1)"));
    service->run();
    QVERIFY(server->waitForRequests(FakeServer::LogsPath, 1));
    QTRY_COMPARE(unsentIds(), QList<int>());
    const auto sent = [](int id, const char *message) {
        return QJsonObject { { "timestamp", QStringLiteral("2026-03-01 10:00:0%1").arg(id) },
            { "level", 3 }, { "message", message }, { "file", "kmapi.cpp" }, { "line", id },
            { "function", "requestSyncDB" } };
    };
    QCOMPARE(server->requests(FakeServer::LogsPath).value(0).json().array(),
        QJsonArray({ sent(5, "first"), sent(6, "it's \"quoted\"") }));
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
    QTRY_COMPARE(unsentIds(), QList<int>());
    QCOMPARE(server->requests(FakeServer::LogsPath).value(1).json().array().size(), 2);
}

void TestLogService::uploadSendsOldestThousandFirst()
{
    QSqlQuery transaction;
    QVERIFY(transaction.exec("BEGIN"));
    for (int id = 2500; id >= 1; --id)
        QVERIFY(addRow(id, QStringLiteral("row %1").arg(id)));
    QVERIFY(transaction.exec("COMMIT"));
    service->run();
    QTRY_COMPARE(unsentIds().size(), 1500);
    QCOMPARE(unsentIds().first(), 1001);
    const QJsonArray sent = server->requests(FakeServer::LogsPath).value(0).json().array();
    QCOMPARE(sent.size(), 1000);
    QCOMPARE(sent.first()["message"].toString(), QStringLiteral("row 1"));
    QCOMPARE(sent.last()["message"].toString(), QStringLiteral("row 1000"));
}

// Each tick takes the threshold from the configuration; a disabled upload stores nothing more.
void TestLogService::configDrivesTheThreshold()
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

    config.enabled = true;
    config.push_lvl = 0;
    env->logConfig.set(config);
    service->update();
    QCOMPARE(ILogService::lvlToWrite.load(), 0);
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

// Offline stops the timer and coming back online uploads at once; a stopped service ignores the
// online state until run().
void TestLogService::onlineState()
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
    QTRY_COMPARE(unsentIds(), QList<int>());

    service->stop();
    QVERIFY(addRow(2, "waits for run()"));
    env->isOnline.set(false);
    env->isOnline.set(true);
    QTest::qWait(300);
    QCOMPARE(unsentIds(), QList<int>({ 2 }));
    service->run();
    QTRY_COMPARE(unsentIds(), QList<int>());
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
