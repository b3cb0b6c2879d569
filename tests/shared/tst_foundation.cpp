#include "shared/logger.h"
#include "shared/networkutils.h"

#include <QTest>
#include <QtConcurrent>

#include <atomic>

static std::atomic<int> written { 0 }; // messages that went to Qt's message stream or the sink

// The logger and the address helpers every part of the system builds on.
class TestFoundation : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    // The sink is set and cleared while pool threads log: every message goes to exactly one place.
    void loggerSinkSwapWhileThreadsLog()
    {
        qInstallMessageHandler(
            [](QtMsgType, const QMessageLogContext &, const QString &) { ++written; });
        const Logger::Sink sink
            = [](const QString &, const char *, const char *, int, int) { ++written; };
        QList<int> lines(2000);
        const QFuture<void> logging = QtConcurrent::map(lines,
            [](int &line) { Logger::debugInfo(QStringLiteral("m"), "e.cpp", "w", line, 0); });
        while (!logging.isFinished())
            Logger::writeToDb = Logger::writeToDb.load() ? nullptr : sink;
        Logger::writeToDb = nullptr;
        QCOMPARE(written, 2000);
    }

    // Missing parts are 0; nothing past the given parts is read, nothing past four bytes written.
    void dottedAddresses_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("bytes");
        // clang-format off
        QTest::newRow("two parts") << "10.1" << "10.1.0.0";
        QTest::newRow("empty") << "" << "0.0.0.0";
        QTest::newRow("empty parts") << "1..3." << "1.0.3.0";
        QTest::newRow("not numbers, lowest 8 bits") << "a.-1.257.3" << "0.0.1.3";
        // clang-format on
    }

    void dottedAddresses()
    {
        QFETCH(QString, text);
        QFETCH(QString, bytes);
        unsigned char out[5] = { 9, 9, 9, 9, 0xAB };
        NetworkUtils::stringToBytes(text, out);
        QCOMPARE(NetworkUtils::bytesToString(out), bytes);
        QCOMPARE(out[4], 0xAB);
    }
};

QTEST_GUILESS_MAIN(TestFoundation)
#include "tst_foundation.moc"
