#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QTest>

// The program as a user starts it (in this test's home, offscreen): it comes up, builds its core
// and its window, and keeps running.
class tst_ProgramEntry : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void startsAndKeepsRunning();
};

void tst_ProgramEntry::startsAndKeepsRunning()
{
    // Where the organisation and application names put the database.
    const QString database = QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation)
        + QStringLiteral("/Kolmira/Kolmira Queue/point.db");
    QFile::remove(database);
    QProcess program;
    program.setProcessChannelMode(QProcess::MergedChannels);
    program.start(QStringLiteral(KM4APP_EXECUTABLE), QStringList());
    QVERIFY(program.waitForStarted());
    QTRY_VERIFY_WITH_TIMEOUT(
        QFile::exists(database) || program.state() == QProcess::NotRunning, 30000);
    // The main window is loaded right after the core.
    const bool ended = program.waitForFinished(3000);
    program.terminate();
    program.waitForFinished();
    const QByteArray output = program.readAll();
    QVERIFY2(!ended && QFile::exists(database), output.constData());
    for (const char *fault : { "cannot load the main window", "ReferenceError", "is not defined" })
        QVERIFY2(!output.contains(fault), output.constData());
}

QTEST_GUILESS_MAIN(tst_ProgramEntry)
#include "tst_programentry.moc"
