#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

// The program as a user starts it: it comes up, shows its window and keeps running.
class tst_ProgramEntry : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void startsWithItsIdentityAndKeepsRunning();
};

void tst_ProgramEntry::startsWithItsIdentityAndKeepsRunning()
{
    QTemporaryDir home;
    QVERIFY(home.isValid());
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    environment.insert(QStringLiteral("HOME"), home.path());
    for (const char *folder : { "DATA", "CACHE", "CONFIG" })
        environment.insert(QStringLiteral("XDG_%1_HOME").arg(QLatin1String(folder)),
            home.filePath(QLatin1String(folder).toString().toLower()));

    QProcess program;
    program.setProcessEnvironment(environment);
    program.setWorkingDirectory(home.path());
    program.setProcessChannelMode(QProcess::MergedChannels);
    program.start(QStringLiteral(KM4APP_EXECUTABLE), QStringList());
    QVERIFY(program.waitForStarted());

    // The database lies where the organisation and application names put it; the core has been
    // built once it exists, and the main window is loaded right after.
    const QString database = home.filePath(QStringLiteral("data/Kolmira/Kolmira Queue/point.db"));
    QTRY_VERIFY_WITH_TIMEOUT(
        QFile::exists(database) || program.state() == QProcess::NotRunning, 30000);
    const bool ended = program.waitForFinished(3000);
    const QByteArray output = program.readAll();
    if (!ended) {
        program.terminate();
        program.waitForFinished();
    }
    QVERIFY2(!ended, output.constData());
    QVERIFY(QFile::exists(database));
    for (const char *fault : { "cannot load the main window", "ReferenceError", "is not defined" })
        QVERIFY2(!output.contains(fault), output.constData());
}

QTEST_GUILESS_MAIN(tst_ProgramEntry)
#include "tst_programentry.moc"
