#include "shared/dbexception.h"
#include "shared/kmapiexception.h"
#include "shared/logger.h"
#include "shared/networkutils.h"

#include <QMutex>
#include <QNetworkInterface>
#include <QSqlError>
#include <QTest>
#include <QtConcurrent>

#include <algorithm>
#include <utility>

namespace {

QMutex mutex;
QStringList written; // Qt's message stream
QStringList sunk; // the logger's sink

void capture(QtMsgType type, const QMessageLogContext &, const QString &text)
{
    const QMutexLocker locker(&mutex);
    written.append(QString::number(type) + QLatin1Char('|') + text);
}

void sink(const QString &message, const char *file, const char *function, int line, int level)
{
    const QMutexLocker locker(&mutex);
    sunk.append(QStringLiteral("%1|%2|%3|%4|%5").arg(message, file, function).arg(line).arg(level));
}

QStringList take(QStringList &lines)
{
    const QMutexLocker locker(&mutex);
    return std::exchange(lines, {});
}

} // namespace

// The exceptions, the logger and the address helpers every part of the system builds on.
class TestFoundation : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase() { previous = qInstallMessageHandler(capture); }
    void cleanupTestCase() { qInstallMessageHandler(previous); }

    void exceptionsCrossPoolThreads();
    void loggerLevelsAndSink();
    void loggerSinkSwapWhileThreadsLog();
    void dottedAddresses_data();
    void dottedAddresses();
    void networkParamsAreThisMachines();

private:
    QtMessageHandler previous = nullptr;
};

// A failure thrown on a pool thread reaches the waiting side with its own type and content.
void TestFoundation::exceptionsCrossPoolThreads()
{
    QFuture<int> api = QtConcurrent::run([]() -> int {
        throw KMAPIException(QNetworkReply::InternalServerError,
            QJsonObject { { "code", 1003 }, { "message", "taken" } });
    });
    QString seen;
    api.onFailed([&](const AppException &e) {
           if (auto *k = dynamic_cast<const KMAPIException *>(&e))
               seen = QStringLiteral("%1 %2 %3").arg(k->code()).arg(k->message(), k->description());
           return 0;
       })
        .waitForFinished();
    QCOMPARE(seen, "1003 Терминал с таким uuid уже зарегистрирован в системе taken");
    // Server bodies of the wrong shape give no code and no description.
    const KMAPIException odd(
        QNetworkReply::UnknownServerError, { { "code", "1003" }, { "message", 5 } });
    QCOMPARE(odd.message() + odd.description(), "Неизвестная ошибка апи");

    QFuture<void> db = QtConcurrent::run(
        [] { throw DBException(QSqlError("driver", "db", QSqlError::StatementError)); });
    QVERIFY_THROWS_EXCEPTION(DBException, db.waitForFinished());
}

void TestFoundation::loggerLevelsAndSink()
{
    take(written);
    for (int level : { -1, 0, 1, 2, 3, 7 })
        Logger::debugInfo(QStringLiteral("m"), "c.cpp", "f", 42, level);
    QStringList types;
    for (const QString &line : take(written))
        types.append(line.section(QLatin1Char('|'), 0, 0));
    // Debug, info, warning, critical; levels outside 0..3 are not written.
    QCOMPARE(types, QStringList({ "0", "4", "1", "2" }));

    // With a sink, every message goes there unchanged, whatever its level; scope lines never do.
    Logger::writeToDb = sink;
    Logger::debugInfo(QStringLiteral("odd level"), "d.cpp", "f", 5, 7);
    {
        const Logger scope("d.cpp", "g", 6);
    }
    const int line = __LINE__ + 1;
    KM4_LOG(3, "a", QStringLiteral("b\"c"), 5);
    Logger::writeToDb = nullptr;
    QCOMPARE(take(sunk),
        QStringList({ "odd level|d.cpp|f|5|7",
            QStringLiteral("a \"b\\\"c\" 5 |tst_foundation.cpp|loggerLevelsAndSink|%1|3")
                .arg(line) }));
    QCOMPARE(take(written).size(), 2);
    QCOMPARE(QString::fromStdString(::extractFileName("C:\\src/models\\ordermodel.cpp")),
        "ordermodel.cpp");
}

void TestFoundation::loggerSinkSwapWhileThreadsLog()
{
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
    QCOMPARE(int(take(sunk).size() + take(written).size()), 2000);
}

void TestFoundation::dottedAddresses_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("bytes");
    QTest::newRow("extra parts ignored") << "1.2.3.4.5"
                                         << "1.2.3.4";
    // Missing parts are 0; nothing past the given parts is read.
    QTest::newRow("two parts") << "10.1"
                               << "10.1.0.0";
    QTest::newRow("empty") << ""
                           << "0.0.0.0";
    QTest::newRow("empty parts") << "1..3."
                                 << "1.0.3.0";
    QTest::newRow("not numbers, lowest 8 bits") << "a.-1.257.3"
                                                << "0.0.1.3";
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

// Every entry is an IPv4 address of one of this machine's interfaces other than loopback.
void TestFoundation::networkParamsAreThisMachines()
{
    for (const QJsonValue &value : NetworkUtils::selectNetworkParams()) {
        const QJsonObject entry = value.toObject();
        QCOMPARE(entry.keys(), QStringList({ "ip", "mask", "name" }));
        const QHostAddress ip(entry.value("ip").toString());
        QVERIFY(ip.protocol() == QAbstractSocket::IPv4Protocol && !ip.isLoopback());
        QVERIFY(QNetworkInterface::interfaceFromName(entry.value("name").toString()).isValid());
    }
}

QTEST_GUILESS_MAIN(TestFoundation)
#include "tst_foundation.moc"
