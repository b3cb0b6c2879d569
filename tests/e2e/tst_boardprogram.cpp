#include "fakeserver.h"

#include <QDir>
#include <QGuiApplication>
#include <QImage>
#include <QProcess>
#include <QRegularExpression>
#include <QScreen>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QTest>
#include <QUuid>

#include <csignal>
#include <sys/prctl.h>

// The real program under X against the simulator program: paired by typing, back on its board
// after a restart without any input, and still up while its server is away. What it did is read
// from its database file and from screenshots, kept in the build folder.
class TestBoardProgram : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanup();
    void pairRestartAndRideOutTheServer();

private:
    void startSimulator();
    void startBoard();
    void stop(QProcess &process);
    QVariant stored(const QString &sql) const;
    QImage screenshot(const QString &name) const;
    bool showsBoard(const QString &name) const;

    QTemporaryDir home;
    QProcess simulator;
    QProcess board;
    quint16 port = 0;
    quint16 brokerPort = 0;
    QString brokerPassword = QUuid::createUuid().toString(QUuid::Id128);
    QList<qint64> brokerPids;
    QStringList boardArguments; // as the simulator prints them
    FakeServer clock; // the time-zone service the board is pointed at, to see that it asks here
};

namespace {

// xdotool's search for the board's window ("Kolmira Queque V4"), as a pattern without blanks.
const QString findWindow = QStringLiteral("search %1 --onlyvisible --name ^Kolmira.Queque.V4$");
// The middle of the sign-in page's domain field, in the window.
constexpr int domainX = 1058;
constexpr int domainY = 122;
const QRgb readyGreen = qRgb(0x64, 0xCC, 0x64);
const QString lastUpdateSql = QStringLiteral("SELECT value FROM config WHERE key = 'last_update'");
const QString orderCountSql = QStringLiteral("SELECT COUNT(*) FROM 'order'");

bool isReadyGreen(QRgb pixel)
{
    return qAbs(qRed(pixel) - qRed(readyGreen)) < 12
        && qAbs(qGreen(pixel) - qGreen(readyGreen)) < 12
        && qAbs(qBlue(pixel) - qBlue(readyGreen)) < 12;
}

// Runs one xdotool command (words split at blanks) to its end: its output, null on failure.
QByteArray xdotool(const QString &command)
{
    QProcess tool;
    tool.start(QStringLiteral("xdotool"), command.split(QLatin1Char(' '), Qt::SkipEmptyParts));
    if (!tool.waitForFinished(20000) || tool.exitCode() != 0) {
        tool.kill();
        tool.waitForFinished();
        return {};
    }
    const QByteArray out = tool.readAllStandardOutput();
    return out.isNull() ? QByteArray("") : out;
}

bool alive(qint64 pid)
{
    return pid > 0 && ::kill(pid_t(pid), 0) == 0;
}

} // namespace

void TestBoardProgram::initTestCase()
{
    QVERIFY(home.isValid());
    QDir(QStringLiteral(KM4_ARTEFACTS_DIR)).removeRecursively();
    QVERIFY(QDir().mkpath(QStringLiteral(KM4_ARTEFACTS_DIR)));
    port = FakeServer::unusedPort();
    brokerPort = FakeServer::unusedPort();
    QVERIFY(port && brokerPort && port != brokerPort);
    // Should the test itself crash, its children end with it.
    for (QProcess *child : { &simulator, &board })
        child->setChildProcessModifier([] { ::prctl(PR_SET_PDEATHSIG, SIGTERM); });
}

// Whatever happened, no process of the test outlives it.
void TestBoardProgram::cleanup()
{
    stop(board);
    stop(simulator);
    for (qint64 pid : std::as_const(brokerPids))
        QVERIFY2(!alive(pid), "the simulator's broker is still running");
}

void TestBoardProgram::stop(QProcess &process)
{
    if (process.state() == QProcess::NotRunning)
        return;
    process.terminate();
    if (!process.waitForFinished(10000)) {
        process.kill();
        process.waitForFinished();
        QFAIL(qPrintable(process.program() + QStringLiteral(" did not stop on SIGTERM")));
    }
}

void TestBoardProgram::startSimulator()
{
    simulator.setProcessChannelMode(QProcess::MergedChannels);
    simulator.start(QStringLiteral(KM4_SIMULATOR),
        { QStringLiteral("--fast"), QStringLiteral("--port"), QString::number(port),
            QStringLiteral("--broker-port"), QString::number(brokerPort),
            QStringLiteral("--broker-password"), brokerPassword });
    QByteArray banner;
    QTRY_VERIFY_WITH_TIMEOUT((banner += simulator.readAll()).contains("Stop with Ctrl-C")
            || simulator.state() == QProcess::NotRunning,
        15000);
    QVERIFY2(simulator.state() == QProcess::Running, banner.constData());
    const auto pid = QRegularExpression(QStringLiteral("mosquitto pid (\\d+)"))
                         .match(QString::fromUtf8(banner));
    QVERIFY2(pid.hasMatch(), banner.constData());
    brokerPids.append(pid.captured(1).toLongLong());
    const auto board = QRegularExpression(QStringLiteral(" km4App (--use-http .*)\n"))
                           .match(QString::fromUtf8(banner));
    QVERIFY2(board.hasMatch(), banner.constData());
    boardArguments = board.captured(1).split(QLatin1Char(' '));
    QVERIFY(boardArguments.contains(QStringLiteral("0.0.1:%1").arg(port)));
}

void TestBoardProgram::startBoard()
{
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("XDG_DATA_HOME"), home.filePath(QStringLiteral("data")));
    environment.insert(QStringLiteral("XDG_CACHE_HOME"), home.filePath(QStringLiteral("cache")));
    environment.insert(QStringLiteral("KM4_TIMEZONE_HOST"), clock.timeZoneHost());
    board.setProcessEnvironment(environment);
    board.setWorkingDirectory(home.path());
    board.setProcessChannelMode(QProcess::MergedChannels);
    board.setStandardOutputFile(QStringLiteral(KM4_ARTEFACTS_DIR "/board.log"), QIODevice::Append);
    board.start(QStringLiteral(KM4APP_EXECUTABLE),
        boardArguments + QStringList { QStringLiteral("--uuid"), QStringLiteral("board-e2e") });
    QVERIFY(board.waitForStarted());
    QVERIFY2(!xdotool(findWindow.arg(QStringLiteral("--sync"))).isNull(),
        "the board's window did not appear");
}

QVariant TestBoardProgram::stored(const QString &sql) const
{
    QVariant value;
    {
        QSqlDatabase db
            = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("peek"));
        db.setDatabaseName(home.filePath(QStringLiteral("data/Kolmira/Kolmira Queue/point.db")));
        db.setConnectOptions(QStringLiteral("QSQLITE_OPEN_READONLY;QSQLITE_BUSY_TIMEOUT=2000"));
        if (db.open()) {
            QSqlQuery query(db);
            if (query.exec(sql) && query.next())
                value = query.value(0);
        }
    }
    QSqlDatabase::removeDatabase(QStringLiteral("peek"));
    return value;
}

QImage TestBoardProgram::screenshot(const QString &name) const
{
    const QImage shot = QGuiApplication::primaryScreen()->grabWindow(0).toImage();
    shot.save(QStringLiteral(KM4_ARTEFACTS_DIR "/%1.png").arg(name));
    return shot;
}

// The board is on screen when the green "Готовы" header is (a run of its green far longer than
// any digit), and a ready number is drawn when the same green shows below the header.
bool TestBoardProgram::showsBoard(const QString &name) const
{
    const QImage shot = screenshot(name);
    int headerBottom = -1, headerLeft = 0, headerRight = 0;
    for (int y = 0; y < shot.height() / 3; ++y) {
        int run = 0;
        for (int x = 0; x < shot.width(); ++x) {
            run = isReadyGreen(shot.pixel(x, y)) ? run + 1 : 0;
            if (run == 300) {
                headerBottom = y;
                headerLeft = x - run + 1;
                headerRight = x;
            }
        }
    }
    if (headerBottom < 0)
        return false;
    int numberPixels = 0;
    for (int y = headerBottom + 8; y < shot.height(); ++y)
        for (int x = headerLeft; x < headerRight; ++x)
            numberPixels += isReadyGreen(shot.pixel(x, y)) ? 1 : 0;
    return numberPixels > 100;
}

void TestBoardProgram::pairRestartAndRideOutTheServer()
{
    startSimulator();
    startBoard();

    // Paired by typing the domain into the sign-in page.
    const QString window
        = QString::fromLatin1(xdotool(findWindow.arg(QString())).split('\n').value(0));
    QVERIFY(!window.isEmpty());
    // Mapped is not yet drawn: the window's own dark grey instead of the screen's black.
    QTRY_VERIFY_WITH_TIMEOUT(
        screenshot(QStringLiteral("1-sign-in")).pixel(domainX, domainY + 80) != qRgb(0, 0, 0),
        20000);
    QVERIFY(!xdotool(
        QStringLiteral("mousemove --window %1 %2 %3 click 1").arg(window).arg(domainX).arg(domainY))
                 .isNull());
    QVERIFY(!xdotool(QStringLiteral("type --delay 50 127")).isNull());
    QVERIFY(!xdotool(QStringLiteral("key Return")).isNull());
    QTRY_COMPARE_WITH_TIMEOUT(
        stored(QStringLiteral("SELECT value FROM config WHERE key = 'domain'")).toString(),
        QStringLiteral("127"), 20000);
    QTRY_VERIFY_WITH_TIMEOUT(showsBoard(QStringLiteral("2-board")), 20000);
    QVERIFY(stored(orderCountSql).toInt() > 0);
    QVERIFY(clock.waitForRequests(QString::fromLatin1(FakeServer::TimeZonePath), 1));

    // Started again, it signs in by itself and shows the board.
    stop(board);
    startBoard();
    QTRY_VERIFY_WITH_TIMEOUT(showsBoard(QStringLiteral("3-board-after-restart")), 20000);

    // Without its server it keeps showing the board, and it picks up again when the server is
    // back: new synchronisations and new pushes reach the database.
    stop(simulator);
    QVERIFY2(!alive(brokerPids.constLast()), "the simulator left its broker running");
    const qint64 lastUpdate = stored(lastUpdateSql).toLongLong();
    const int orders = stored(orderCountSql).toInt();
    QTest::qWait(3000); // three synchronisation periods of the fast pace
    QCOMPARE(board.state(), QProcess::Running);
    QVERIFY(showsBoard(QStringLiteral("4-board-offline")));
    startSimulator();
    QTRY_VERIFY_WITH_TIMEOUT(stored(lastUpdateSql).toLongLong() > lastUpdate, 30000);
    QTRY_VERIFY_WITH_TIMEOUT(stored(orderCountSql).toInt() > orders + 2, 30000);
    QVERIFY(showsBoard(QStringLiteral("5-board-back-online")));
}

QTEST_MAIN(TestBoardProgram)
#include "tst_boardprogram.moc"
