#include "shared/logger.h"

#include <QMutex>
#include <QRegularExpression>
#include <QTest>
#include <QThread>
#include <QtConcurrent>

#include <memory>

namespace {

struct Captured
{
    QtMsgType type;
    QString text;
    QString category;
    QString file;
    int line;
};

QMutex capturedMutex;
QList<Captured> captured;
QtMessageHandler previousHandler = nullptr;

void captureMessage(QtMsgType type, const QMessageLogContext &context, const QString &text)
{
    const QMutexLocker locker(&capturedMutex);
    captured.append({ type, text, QString::fromLatin1(context.category),
        QString::fromLatin1(context.file), context.line });
}

QList<Captured> takeCaptured()
{
    const QMutexLocker locker(&capturedMutex);
    return std::exchange(captured, {});
}

struct SinkCall
{
    QString message;
    QString file;
    QString function;
    int line;
    int level;
};
QMutex sinkMutex;
QList<SinkCall> sinkCalls;

void recordingSink(
    const QString &message, const char *file, const char *function, int line, int level)
{
    const QMutexLocker locker(&sinkMutex);
    sinkCalls.append(
        { message, QString::fromLatin1(file), QString::fromLatin1(function), line, level });
}

QString threadIdText()
{
    QString text;
    QDebug(&text).nospace() << QThread::currentThreadId();
    return text;
}

int leadingSpaces(const QString &text)
{
    int count = 0;
    while (count < text.size() && text.at(count) == QLatin1Char(' '))
        ++count;
    return count;
}

} // namespace

class TestLogger : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void init();
    void cleanupTestCase();

    void scopesIndentByNestingPerThread();
    void scopeLinesNameTheirPlaceAndTime();
    void levels_data();
    void levels();
    void sinkTakesEveryMessageUnchanged();
    void sinkSwapWhileThreadsLog();
    void extractFileName_data();
    void extractFileName();
};

void TestLogger::initTestCase()
{
    previousHandler = qInstallMessageHandler(captureMessage);
}

void TestLogger::init()
{
    Logger::writeToDb = nullptr;
    takeCaptured();
    sinkCalls.clear();
}

void TestLogger::cleanupTestCase()
{
    Logger::writeToDb = nullptr;
    qInstallMessageHandler(previousHandler);
}

void TestLogger::scopesIndentByNestingPerThread()
{
    QString threadId;
    std::unique_ptr<QThread> thread(QThread::create([&threadId] {
        threadId = threadIdText();
        {
            const Logger outer("a.cpp", "outer", 1);
            const Logger inner("a.cpp", "inner", 2);
        }
        // A message outside every scope sets the depth back to zero, so the next outermost
        // scope is written one level in.
        Logger::debugInfo(QStringLiteral("between"), "a.cpp", "between", 3, 0);
        const Logger again("a.cpp", "again", 4);
    }));
    thread->start();
    QVERIFY(thread->wait(10000));

    QList<int> indents;
    for (const Captured &line : takeCaptured()) {
        if (line.text.contains(threadId))
            indents.append(leadingSpaces(line.text));
    }
    QCOMPARE(indents, (QList<int> { 1, 3, 3, 1, 1, 3, 3 }));
}

void TestLogger::scopeLinesNameTheirPlaceAndTime()
{
    int scopeLine = 0;
    {
        KM4_LOG_SCOPE();
        scopeLine = __LINE__ - 1;
        QThread::msleep(3);
    }
    const QList<Captured> lines = takeCaptured();
    QCOMPARE(lines.size(), 2);
    const QString entry
        = QStringLiteral(" %1 %2 \"tst_logger.cpp\" \"scopeLinesNameTheirPlaceAndTime\"")
              .arg(threadIdText())
              .arg(scopeLine);
    QCOMPARE(lines[0].text, entry);
    QCOMPARE(lines[0].type, QtDebugMsg);
    QCOMPARE(lines[0].category, QStringLiteral("default"));
    QVERIFY(lines[0].file.isEmpty());
    QCOMPARE(lines[0].line, 0);

    const QRegularExpression exitLine(QRegularExpression::escape(entry)
        + QStringLiteral(" Finish time: (\\d+) s (\\d+) ms (\\d+) us$"));
    const QRegularExpressionMatch match = exitLine.match(lines[1].text);
    QVERIFY2(match.hasMatch(), qPrintable(lines[1].text));
    const qint64 millis = match.captured(2).toLongLong();
    const qint64 micros = match.captured(3).toLongLong();
    QVERIFY(millis < 1000 && micros < 1000);
    QVERIFY(match.captured(1).toLongLong() * 1000000 + millis * 1000 + micros >= 3000);
}

void TestLogger::levels_data()
{
    QTest::addColumn<int>("level");
    QTest::addColumn<bool>("written");
    QTest::addColumn<int>("type");
    QTest::newRow("debug") << 0 << true << int(QtDebugMsg);
    QTest::newRow("info") << 1 << true << int(QtInfoMsg);
    QTest::newRow("warning") << 2 << true << int(QtWarningMsg);
    QTest::newRow("critical") << 3 << true << int(QtCriticalMsg);
    QTest::newRow("above critical") << 7 << false << 0;
    QTest::newRow("negative") << -1 << false << 0;
}

void TestLogger::levels()
{
    QFETCH(int, level);
    QFETCH(bool, written);
    QFETCH(int, type);
    Logger::debugInfo(QStringLiteral("say \"hi\"\\"), "c.cpp", "speak", 42, level);
    const QList<Captured> lines = takeCaptured();
    QCOMPARE(lines.size(), written ? 1 : 0);
    if (!written)
        return;
    QCOMPARE(int(lines[0].type), type);
    QCOMPARE(lines[0].category, QStringLiteral("default"));
    QCOMPARE(lines[0].text,
        QStringLiteral(" %1 42 c.cpp speak \"say \\\"hi\\\"\\\\\"").arg(threadIdText()));
}

void TestLogger::sinkTakesEveryMessageUnchanged()
{
    const QString composed = QStringLiteral("a \"b\\\"c\" 5 "); // the trailing blank is kept
    QCOMPARE(logText("a", QStringLiteral("b\"c"), 5), composed);

    Logger::writeToDb = recordingSink;
    Logger::debugInfo(QStringLiteral("odd level"), "d.cpp", "f", 5, 7);
    {
        const Logger scope("d.cpp", "g", 6);
    }
    KM4_LOG(3, "a", QStringLiteral("b\"c"), 5);
    Logger::writeToDb = nullptr;

    QCOMPARE(sinkCalls.size(), 2);
    QCOMPARE(sinkCalls[0].message, QStringLiteral("odd level"));
    QCOMPARE(sinkCalls[0].file, QStringLiteral("d.cpp"));
    QCOMPARE(sinkCalls[0].function, QStringLiteral("f"));
    QCOMPARE(sinkCalls[0].line, 5);
    QCOMPARE(sinkCalls[0].level, 7);
    QCOMPARE(sinkCalls[1].message, composed);
    QCOMPARE(sinkCalls[1].file, QStringLiteral("tst_logger.cpp"));
    QCOMPARE(sinkCalls[1].function, QStringLiteral("sinkTakesEveryMessageUnchanged"));
    // Scope lines never go to the sink; without a sink the message is written quoted.
    QCOMPARE(takeCaptured().size(), 2);
    KM4_LOG(3, "a", QStringLiteral("b\"c"), 5);
    const QList<Captured> lines = takeCaptured();
    QCOMPARE(lines.size(), 1);
    QVERIFY2(lines[0].text.endsWith(QStringLiteral("\"a \\\"b\\\\\\\"c\\\" 5 \"")),
        qPrintable(lines[0].text));
}

void TestLogger::sinkSwapWhileThreadsLog()
{
    constexpr int threads = 4;
    constexpr int perThread = 500;
    QList<QFuture<void>> workers;
    for (int t = 0; t < threads; ++t) {
        workers.append(QtConcurrent::run([] {
            for (int i = 0; i < perThread; ++i)
                Logger::debugInfo(QStringLiteral("m"), "e.cpp", "w", i, 0);
        }));
    }
    bool running = true;
    while (running) {
        Logger::writeToDb = Logger::writeToDb.load() ? nullptr : recordingSink;
        running = false;
        for (const QFuture<void> &worker : workers)
            running = running || !worker.isFinished();
    }
    Logger::writeToDb = nullptr;
    QCOMPARE(int(sinkCalls.size() + takeCaptured().size()), threads * perThread);
}

void TestLogger::extractFileName_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<QString>("name");
    QTest::newRow("forward") << "/src/km4Lib/models/ordermodel.cpp" << "ordermodel.cpp";
    QTest::newRow("backward") << "C:\\src\\km4Lib\\models\\ordermodel.cpp" << "ordermodel.cpp";
    QTest::newRow("mixed") << "C:\\src/models\\ordermodel.cpp" << "ordermodel.cpp";
    QTest::newRow("bare") << "ordermodel.cpp" << "ordermodel.cpp";
    QTest::newRow("trailing separator") << "/src/models/" << "";
    QTest::newRow("empty") << "" << "";
    QTest::newRow("utf8") << "/src/заказ.cpp" << "заказ.cpp";
}

void TestLogger::extractFileName()
{
    QFETCH(QString, path);
    QFETCH(QString, name);
    QCOMPARE(QString::fromStdString(::extractFileName(path.toStdString())), name);
}

QTEST_GUILESS_MAIN(TestLogger)
#include "tst_logger.moc"
