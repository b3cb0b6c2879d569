#include "services/logs/ilogservice.h"
#include "shared/logger.h"

#include "stdoutcapture.h"
#include "testdatabase.h"
#include "testenvironment.h"

#include <QSqlError>
#include <QSqlQuery>
#include <QSqlRecord>
#include <QTest>

#include <memory>

namespace {

// The capture half on its own; the upload half has nothing to start here.
class CaptureOnly : public ILogService
{
public:
    CaptureOnly()
        : ILogService(nullptr)
    { }
    void run() override { }
    void stop() override { }
};

struct Row
{
    int level = -1;
    QString message;
    QVariant file;
    int line = -1;
    QVariant function;
    int isSync = -1;
    QString timestamp;
};

QList<Row> storedRows()
{
    TestDatabase::drainThreadPool();
    QList<Row> rows;
    QSqlQuery query;
    if (!query.exec(QStringLiteral("SELECT level, message, file, line, function, is_sync, "
                                   "timestamp FROM logs ORDER BY id")))
        qWarning() << query.lastError().text();
    while (query.next())
        rows.append({ query.value(0).toInt(), query.value(1).toString(), query.value(2),
            query.value(3).toInt(), query.value(4), query.value(5).toInt(),
            query.value(6).toString() });
    return rows;
}

} // namespace

class TestILogService : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void init();
    void cleanup();

    void threshold_data();
    void threshold();
    void storesTextVerbatim_data();
    void storesTextVerbatim();
    void everyLineIsEchoed();
    void failingInsertDoesNotFeedItself();
    void destructionEndsCapture();

private:
    std::unique_ptr<TestDatabase> database;
    std::unique_ptr<CaptureOnly> service;
};

void TestILogService::initTestCase()
{
    TestEnvironment::init();
}

void TestILogService::init()
{
    database = std::make_unique<TestDatabase>();
    ILogService::lvlToWrite = 2;
    service = std::make_unique<CaptureOnly>();
}

void TestILogService::cleanup()
{
    service.reset();
    database.reset();
    ILogService::lvlToWrite = 2;
}

void TestILogService::threshold_data()
{
    QTest::addColumn<int>("threshold");
    QTest::addColumn<int>("kind"); // 0..4 a Qt message type's level, 10 + n debugInfo level n
    QTest::addColumn<int>("storedLevel"); // -1: not stored

    QTest::newRow("debug below default") << 2 << 0 << -1;
    QTest::newRow("warning at default") << 2 << 2 << 2;
    QTest::newRow("critical above default") << 2 << 3 << 3;
    QTest::newRow("info at threshold 1") << 1 << 1 << 1;
    QTest::newRow("debug at threshold 0") << 0 << 0 << 0;
    QTest::newRow("debugInfo 2 at default") << 2 << 12 << 2;
    QTest::newRow("debugInfo 3 at push level 3") << 3 << 13 << 3;
    QTest::newRow("debugInfo 2 at push level 3") << 3 << 12 << -1;
    QTest::newRow("critical while disabled") << 100 << 3 << -1;
}

void TestILogService::threshold()
{
    QFETCH(int, threshold);
    QFETCH(int, kind);
    QFETCH(int, storedLevel);

    ILogService::lvlToWrite = threshold;
    const QString text = QStringLiteral("line of kind %1").arg(kind);
    if (kind == 0)
        qDebug().noquote() << text;
    else if (kind == 1)
        qInfo().noquote() << text;
    else if (kind == 2)
        qWarning().noquote() << text;
    else if (kind == 3)
        qCritical().noquote() << text;
    else
        Logger::debugInfo(text, "somefile", "someFunction", 12, kind - 10);

    const QList<Row> rows = storedRows();
    if (storedLevel < 0) {
        QCOMPARE(rows.size(), 0);
        return;
    }
    QCOMPARE(rows.size(), 1);
    QCOMPARE(rows[0].level, storedLevel);
    QCOMPARE(rows[0].message, text);
    QCOMPARE(rows[0].isSync, 0);
    // A Qt message may come without file or function; those are stored as empty text.
    QVERIFY(!rows[0].file.isNull() && !rows[0].function.isNull());
    const QDateTime stamp
        = QDateTime::fromString(rows[0].timestamp, QStringLiteral("yyyy-MM-dd hh:mm:ss"));
    QVERIFY2(stamp.isValid(), qPrintable(rows[0].timestamp));
    QVERIFY(qAbs(stamp.secsTo(QDateTime::currentDateTime())) < 60);
}

void TestILogService::storesTextVerbatim_data()
{
    QTest::addColumn<QString>("message");
    QTest::addColumn<QByteArray>("file"); // null: none given
    QTest::addColumn<QByteArray>("function");
    const auto row
        = [](const char *name, const QString &message, const char *file, const char *function) {
              QTest::newRow(name) << message << QByteArray(file) << QByteArray(function);
          };

    row("markers", QStringLiteral("%1 and %4 stay, %7 too"), "%2.cpp", "%3");
    row("quote in file and function", QStringLiteral("plain"), "it's.cpp", "operator'()");
    row("sql-looking", QStringLiteral("'); DROP TABLE logs; --"), "x", "y");
    row("nul inside", QString::fromUtf16(u"before\0after", 12), "n", "m");
    row("cyrillic", QStringLiteral("Не удалось отправить логи: ошибка"), "f", "g");
    row("no file or function: empty text", QStringLiteral("no origin"), nullptr, nullptr);
}

void TestILogService::storesTextVerbatim()
{
    QFETCH(QString, message);
    QFETCH(QByteArray, file);
    QFETCH(QByteArray, function);

    Logger::debugInfo(message, file.isNull() ? nullptr : file.constData(),
        function.isNull() ? nullptr : function.constData(), 321, 3);

    const QList<Row> rows = storedRows();
    QCOMPARE(rows.size(), 1);
    QCOMPARE(rows[0].message, message);
    QVERIFY(!rows[0].file.isNull() && !rows[0].function.isNull());
    QCOMPARE(rows[0].file.toString(), QString::fromUtf8(file));
    QCOMPARE(rows[0].function.toString(), QString::fromUtf8(function));
    QCOMPARE(rows[0].line, 321);
    QCOMPARE(rows[0].level, 3);
}

void TestILogService::everyLineIsEchoed()
{
    StdoutCapture capture;
    Logger::debugInfo(QStringLiteral("quiet \"one\""), "f", "g", 1, 0);
    qWarning().noquote() << QStringLiteral("loud one");
    const QString echoed = capture.take();

    // Nothing but the text itself goes on the line, whatever the threshold.
    QVERIFY2(echoed.contains(QStringLiteral("quiet \"one\"\nloud one\n")), qPrintable(echoed));
    QCOMPARE(storedRows().size(), 1);
}

void TestILogService::failingInsertDoesNotFeedItself()
{
    QSqlQuery drop;
    QVERIFY(drop.exec(QStringLiteral("DROP TABLE logs")));
    ILogService::lvlToWrite = 0;

    StdoutCapture capture;
    Logger::debugInfo(QStringLiteral("first"), "f", "g", 1, 2);
    // The failed INSERT reports on a pool thread; give a feedback loop time to show itself.
    for (int i = 0; i < 5; ++i) {
        TestDatabase::drainThreadPool();
        QTest::qWait(20);
    }
    const QString echoed = capture.take();

    QCOMPARE(echoed.count(QStringLiteral("FAIL QUERY:")), 1);
    // The failure itself is written once, straight to standard output.
    QCOMPARE(echoed.count(QStringLiteral("no such table: logs")), 2);
}

void TestILogService::destructionEndsCapture()
{
    service.reset();
    QVERIFY(Logger::writeToDb.load() == nullptr);

    StdoutCapture capture;
    Logger::debugInfo(QStringLiteral("after the end"), "f", "g", 1, 3);
    QCOMPARE(storedRows().size(), 0);
    QVERIFY(!capture.take().contains(QStringLiteral("after the end")));
}

QTEST_GUILESS_MAIN(TestILogService)
#include "tst_ilogservice.moc"
