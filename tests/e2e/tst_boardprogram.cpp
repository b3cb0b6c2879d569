#include "fakeserver.h"
#include "testenvironment.h"

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

namespace {

const QString artefacts = QStringLiteral(KM4_ARTEFACTS_DIR);

// One xdotool command (words split at blanks) run to its end.
bool xdotool(const QString &command)
{
    QProcess tool;
    tool.start(QStringLiteral("xdotool"), command.split(QLatin1Char(' ')));
    const bool done = tool.waitForFinished(TestEnvironment::patienceMs) && tool.exitCode() == 0;
    if (!done)
        qWarning().noquote() << "xdotool" << command << ":" << tool.readAllStandardError();
    tool.kill();
    return done;
}
const QString findWindow = QStringLiteral("search%1 --onlyvisible --name ^Kolmira.Queque.V4$");

// A screenshot, kept as an artefact, shows the board when the green "Готовы" header is there (a
// run of its green far longer than any digit) and a ready number is drawn in the same green
// below it.
bool showsBoard(const QString &name)
{
    const QImage shot = QGuiApplication::primaryScreen()->grabWindow(0).toImage();
    shot.save(artefacts + QStringLiteral("/%1.png").arg(name));
    const auto green = [&shot](int x, int y) {
        const QRgb pixel = shot.pixel(x, y);
        return qAbs(qRed(pixel) - 0x64) + qAbs(qGreen(pixel) - 0xCC) + qAbs(qBlue(pixel) - 0x64)
            < 30;
    };
    int bottom = -1, left = 0, numberPixels = 0;
    for (int y = 0; y < shot.height() / 3; ++y)
        for (int x = 0, run = 0; x < shot.width(); ++x)
            if ((run = green(x, y) ? run + 1 : 0) == 300)
                std::tie(bottom, left) = std::make_pair(y, x - 299);
    for (int y = bottom + 8; bottom >= 0 && y < shot.height(); ++y)
        for (int x = left; x < left + 300; ++x)
            numberPixels += green(x, y);
    return numberPixels > 100;
}

} // namespace

// The real program under X against the simulator program: paired by typing, back on its board
// after a restart without any input, and still up while its server is away. What it did is read
// from its database file and from screenshots, kept in the build folder.
class TestBoardProgram : public QObject
{
    Q_OBJECT

    QTemporaryDir home;
    QProcess simulator;
    QProcess board;
    const QStringList simulatorArguments { QStringLiteral("--fast"), QStringLiteral("--port"),
        QString::number(FakeServer::unusedPort()), QStringLiteral("--broker-port"),
        QString::number(FakeServer::unusedPort()), QStringLiteral("--broker-password"),
        QUuid::createUuid().toString(QUuid::Id128) };
    QList<qint64> brokerPids;
    QStringList boardArguments; // as the simulator prints them
    FakeServer clock; // the time-zone service the board is pointed at, to see that it asks here

    void startSimulator()
    {
        simulator.start(QStringLiteral(KM4_SIMULATOR), simulatorArguments);
        QVERIFY2(simulator.waitForStarted(), qPrintable(simulator.errorString()));
        QByteArray banner;
        QTRY_VERIFY_WITH_TIMEOUT((banner += simulator.readAll()).contains("Stop with Ctrl-C")
                || simulator.state() == QProcess::NotRunning,
            TestEnvironment::patienceMs);
        const auto match = QRegularExpression(QStringLiteral("pid (\\d+).* km4App ([^\n]*)"),
            QRegularExpression::DotMatchesEverythingOption)
                               .match(QString::fromUtf8(banner));
        QVERIFY2(simulator.state() == QProcess::Running && match.hasMatch(), banner.constData());
        brokerPids.append(match.captured(1).toLongLong());
        boardArguments = match.captured(2).split(QLatin1Char(' '))
            << QStringLiteral("--uuid") << QStringLiteral("e2e");
    }

    void startBoard()
    {
        board.start(QStringLiteral(KM4APP_EXECUTABLE), boardArguments);
        // The process counts as started only once an event loop has run or this is called; the
        // blocking calls below run none.
        QVERIFY2(board.waitForStarted(), qPrintable(board.errorString()));
        // A search once failed at once on a busy machine, right after a restart, while the board's
        // previous window was going away: it is asked again until the window shows.
        QTRY_VERIFY2_WITH_TIMEOUT(xdotool(findWindow.arg(QStringLiteral(" --sync"))),
            "no board window", TestEnvironment::patienceMs);
    }

    void stop(QProcess &process)
    {
        process.terminate();
        if (process.state() != QProcess::NotRunning && !process.waitForFinished(10000)) {
            process.kill();
            process.waitForFinished();
            QFAIL(qPrintable(process.program() + QStringLiteral(" did not stop on SIGTERM")));
        }
    }

    // A value of the board's database file, read through a read-only connection.
    QVariant stored(const char *sql) const
    {
        QSqlDatabase db = QSqlDatabase::database(QStringLiteral("peek"), false);
        if (!db.isOpen() && !db.open())
            return {};
        QSqlQuery query(db);
        return query.exec(QLatin1String(sql)) && query.next() ? query.value(0) : QVariant();
    }

private slots:
    void initTestCase()
    {
        QVERIFY(home.isValid() && QDir(artefacts).removeRecursively() && QDir().mkpath(artefacts));
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("XDG_DATA_HOME"), home.filePath(QStringLiteral("data")));
        environment.insert(QStringLiteral("KM4_TIMEZONE_HOST"), clock.timeZoneHost());
        board.setProcessEnvironment(environment);
        board.setWorkingDirectory(home.path());
        board.setStandardOutputFile(artefacts + QStringLiteral("/board.log"), QIODevice::Append);
        simulator.setProcessChannelMode(QProcess::MergedChannels);
        QSqlDatabase db
            = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("peek"));
        db.setDatabaseName(home.filePath(QStringLiteral("data/Kolmira/Kolmira Queue/point.db")));
        db.setConnectOptions(QStringLiteral("QSQLITE_OPEN_READONLY;QSQLITE_BUSY_TIMEOUT=2000"));
        // Should the test itself crash, its children end with it.
        for (QProcess *child : { &simulator, &board })
            child->setChildProcessModifier([] { ::prctl(PR_SET_PDEATHSIG, SIGTERM); });
    }

    // Whatever happened, no process of the test outlives it.
    void cleanup()
    {
        stop(board);
        stop(simulator);
        for (qint64 pid : std::as_const(brokerPids))
            QVERIFY2(::kill(pid_t(pid), 0) != 0, "the simulator's broker is still running");
    }

    void pairRestartAndRideOutTheServer()
    {
        const char *orders = "SELECT COUNT(*) FROM 'order'";
        const char *lastUpdate = "SELECT value FROM config WHERE key = 'last_update'";
        startSimulator();
        startBoard();
        // Paired by typing the domain into the sign-in page, once it is drawn (the window's own
        // dark grey instead of the screen's black).
        QTRY_VERIFY_WITH_TIMEOUT(
            QGuiApplication::primaryScreen()->grabWindow(0).toImage().pixel(1058, 202)
                != qRgb(0, 0, 0),
            TestEnvironment::patienceMs);
        QVERIFY(
            xdotool(findWindow.arg(QString()) + QStringLiteral(" mousemove --window %1 1058 122")));
        for (const char *command : { "click 1", "type --delay 50 127", "key Return" })
            QVERIFY(xdotool(QLatin1String(command)));
        QTRY_VERIFY_WITH_TIMEOUT(
            showsBoard(QStringLiteral("1-board")), TestEnvironment::patienceMs);
        QVERIFY(stored(orders).toInt() > 0);
        QVERIFY(clock.waitForRequests(QString::fromLatin1(FakeServer::TimeZonePath), 1));

        // Started again, it signs in by itself and shows the board.
        stop(board);
        startBoard();
        QTRY_VERIFY_WITH_TIMEOUT(
            showsBoard(QStringLiteral("2-board-after-restart")), TestEnvironment::patienceMs);

        // Without its server it keeps showing the board, and it picks up again when the server is
        // back: new synchronisations and new pushes reach the database.
        stop(simulator);
        QVERIFY2(::kill(pid_t(brokerPids.constLast()), 0) != 0, "the simulator left its broker");
        const qint64 updated = stored(lastUpdate).toLongLong();
        const int count = stored(orders).toInt();
        // Three synchronisation periods of the fast pace. Only the event loop, which runs here,
        // notices that a process has ended.
        QVERIFY(!QTest::qWaitFor([this] { return board.state() == QProcess::NotRunning; }, 3000));
        QVERIFY(showsBoard(QStringLiteral("3-board-offline")));
        startSimulator();
        QTRY_VERIFY_WITH_TIMEOUT(
            stored(lastUpdate).toLongLong() > updated, TestEnvironment::patienceMs);
        QTRY_VERIFY_WITH_TIMEOUT(stored(orders).toInt() > count + 2, TestEnvironment::patienceMs);
        QVERIFY(showsBoard(QStringLiteral("4-board-back-online")));
    }
};

QTEST_MAIN(TestBoardProgram)
#include "tst_boardprogram.moc"
