#include "shared/logger.h"
#include "shared/networkutils.h"

#include <QTest>
#include <QtConcurrent>

#include <algorithm>
#include <atomic>

namespace {

std::atomic<int> written { 0 }; // by Qt's message stream
std::atomic<int> sunk { 0 }; // by the logger's sink

void count(QtMsgType, const QMessageLogContext &, const QString &)
{
    ++written;
}

void sink(const QString &, const char *, const char *, int, int)
{
    ++sunk;
}

} // namespace

// The logger and the address helpers every part of the system builds on.
class TestFoundation : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void loggerSinkSwapWhileThreadsLog();
    void dottedAddresses_data();
    void dottedAddresses();
};

// The sink is set and cleared while pool threads log: every message goes to exactly one place.
void TestFoundation::loggerSinkSwapWhileThreadsLog()
{
    const QtMessageHandler previous = qInstallMessageHandler(count);
    QList<QFuture<void>> workers;
    for (int t = 0; t < 4; ++t) {
        workers.append(QtConcurrent::run([] {
            for (int i = 0; i < 500; ++i)
                Logger::debugInfo(QStringLiteral("m"), "e.cpp", "w", i, 0);
        }));
    }
    while (std::any_of(workers.cbegin(), workers.cend(), [](auto &w) { return !w.isFinished(); }))
        Logger::writeToDb = Logger::writeToDb.load() ? nullptr : sink;
    Logger::writeToDb = nullptr;
    qInstallMessageHandler(previous);
    QCOMPARE(sunk + written, 2000);
}

void TestFoundation::dottedAddresses_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("bytes");
    QTest::newRow("extra parts ignored") << "1.2.3.4.5" << "1.2.3.4";
    // Missing parts are 0; nothing past the given parts is read.
    QTest::newRow("two parts") << "10.1" << "10.1.0.0";
    QTest::newRow("empty") << "" << "0.0.0.0";
    QTest::newRow("empty parts") << "1..3." << "1.0.3.0";
    QTest::newRow("not numbers, lowest 8 bits") << "a.-1.257.3" << "0.0.1.3";
}

void TestFoundation::dottedAddresses()
{
    QFETCH(QString, text);
    QFETCH(QString, bytes);
    unsigned char out[5] = { 9, 9, 9, 9, 0xAB };
    NetworkUtils::stringToBytes(text, out);
    QCOMPARE(NetworkUtils::bytesToString(out), bytes);
    QCOMPARE(out[4], 0xAB); // nothing written past the four bytes
}

QTEST_GUILESS_MAIN(TestFoundation)
#include "tst_foundation.moc"
