#include "shared/asyncsqlquery.h"
#include "shared/threadstorage.h"

#include "futurewait.h"
#include "testdatabase.h"
#include "testenvironment.h"

#include <QMutex>
#include <QNetworkAccessManager>
#include <QPointer>
#include <QSemaphore>
#include <QSqlDatabase>
#include <QTest>
#include <QThreadPool>

namespace {

QMutex failMutex;
QStringList failLines;
QtMessageHandler previousHandler = nullptr;

void captureFailLines(QtMsgType type, const QMessageLogContext &context, const QString &text)
{
    if (text.startsWith(QLatin1String("FAIL QUERY:"))) {
        const QMutexLocker locker(&failMutex);
        failLines.append(text);
        return;
    }
    previousHandler(type, context, text);
}

struct ConnectionInfo
{
    QString name;
    QString file;
    bool open = false;
};

ConnectionInfo currentConnection()
{
    const QSqlDatabase db = ThreadStorage::instance()->database();
    return { db.connectionName(), db.databaseName(), db.isOpen() };
}

} // namespace

class TestAsyncSQLQuery : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void init();
    void cleanup();
    void cleanupTestCase();

    void eachThreadHasItsOwnConnectionToTheSameFile();
    void threadResourcesAreReleasedWhenThreadEnds();
    void rowsAreReadInTheTask();
    void failures_data();
    void failures();
    void finishedReadsHoldNoLock_data();
    void finishedReadsHoldNoLock();

private:
    std::unique_ptr<TestDatabase> database;
};

void TestAsyncSQLQuery::initTestCase()
{
    TestEnvironment::init();
    previousHandler = qInstallMessageHandler(captureFailLines);
}

void TestAsyncSQLQuery::init()
{
    database = std::make_unique<TestDatabase>();
    failLines.clear();
}

void TestAsyncSQLQuery::cleanup()
{
    database.reset();
}

void TestAsyncSQLQuery::cleanupTestCase()
{
    qInstallMessageHandler(previousHandler);
}

void TestAsyncSQLQuery::eachThreadHasItsOwnConnectionToTheSameFile()
{
    const ConnectionInfo gui = currentConnection();
    QCOMPARE(gui.name, QLatin1String(QSqlDatabase::defaultConnection));
    QCOMPARE(gui.file, TestDatabase::path());
    QVERIFY(gui.open);

    QThreadPool pool;
    pool.setMaxThreadCount(2);
    // Both tasks wait for each other, so they surely run on two threads at once.
    QSemaphore started;
    auto task = [&started] {
        started.release();
        started.acquire(2);
        started.release(2);
        return currentConnection();
    };
    QFuture<ConnectionInfo> first = QtConcurrent::run(&pool, task);
    QFuture<ConnectionInfo> second = QtConcurrent::run(&pool, task);
    QVERIFY(waitFor(first));
    QVERIFY(waitFor(second));
    const ConnectionInfo a = first.result();
    const ConnectionInfo b = second.result();
    QVERIFY(a.name != b.name && a.name != gui.name && b.name != gui.name);
    QCOMPARE(a.file, TestDatabase::path());
    QCOMPARE(b.file, TestDatabase::path());
    QVERIFY(a.open && b.open);
}

void TestAsyncSQLQuery::threadResourcesAreReleasedWhenThreadEnds()
{
    QString name;
    QPointer<QNetworkAccessManager> manager;
    {
        QThreadPool pool;
        QtConcurrent::run(&pool, [&] {
            name = currentConnection().name;
            manager = ThreadStorage::instance()->qnam();
            // A second request on the same thread hands out the same manager.
            if (ThreadStorage::instance()->qnam() != manager.data())
                manager = nullptr;
        }).waitForFinished();
        QVERIFY(QSqlDatabase::contains(name));
        QVERIFY(!manager.isNull());
    } // the pool's destructor ends its thread

    QVERIFY(!QSqlDatabase::contains(name));
    QVERIFY(manager.isNull());

    // The global pool's threads release theirs the same way once they end.
    const QFuture<QString> global = AsyncSQLQuery::read(
        QStringLiteral("SELECT 1"), [](QSqlQuery &) { return currentConnection().name; });
    QVERIFY(waitFor(global));
    const QString globalName = global.result();
    QVERIFY(globalName != QLatin1String(QSqlDatabase::defaultConnection));
    QVERIFY(QSqlDatabase::contains(globalName));
    TestDatabase::drainThreadPool();
    QVERIFY(!QSqlDatabase::contains(globalName));
}

void TestAsyncSQLQuery::rowsAreReadInTheTask()
{
    const QFuture<QSqlQuery> insert = AsyncSQLQuery::exec(
        QStringLiteral("INSERT INTO 'config' (key, value) VALUES ('a', 'it''s'), ('b', '%1 %2')"));
    QVERIFY(waitFor(insert));
    QVERIFY(!insert.result().isActive());

    const QFuture<QList<QSqlRecord>> select
        = AsyncSQLQuery::select(QStringLiteral("SELECT key, value FROM 'config' ORDER BY key"));
    QVERIFY(waitFor(select));
    const QList<QSqlRecord> rows = select.result();
    QCOMPARE(rows.size(), 2);
    QCOMPARE(rows[0].value(QStringLiteral("value")).toString(), QStringLiteral("it's"));
    QCOMPARE(rows[1].value(1).toString(), QStringLiteral("%1 %2"));

    QThread *const gui = QThread::currentThread();
    QFuture<QPair<bool, QStringList>> read = AsyncSQLQuery::read(
        QStringLiteral("SELECT key FROM 'config' ORDER BY key"), [gui](QSqlQuery &query) {
            QStringList keys;
            while (query.next())
                keys.append(query.value(0).toString());
            return qMakePair(QThread::currentThread() != gui, keys);
        });
    QVERIFY(waitFor(read));
    QVERIFY(read.result().first);
    QCOMPARE(read.result().second, (QStringList { QStringLiteral("a"), QStringLiteral("b") }));
}

void TestAsyncSQLQuery::failures_data()
{
    QTest::addColumn<QString>("sql");
    QTest::addColumn<QString>("driverText");
    QTest::addColumn<int>("type");
    // A statement that does not compile must say why, not that there was nothing to run.
    QTest::newRow("syntax error is the prepare error")
        << "SELEC 1"
        << "near \"SELEC\": syntax error" << int(QSqlError::StatementError);
    QTest::newRow("missing table is the prepare error")
        << "SELECT * FROM nowhere"
        << "no such table: nowhere" << int(QSqlError::StatementError);
    QTest::newRow("constraint at execution")
        << "INSERT INTO 'config' (key, value) VALUES ('k', NULL)"
        << "NOT NULL constraint failed: config.value" << int(QSqlError::ConnectionError);
}

void TestAsyncSQLQuery::failures()
{
    QFETCH(QString, sql);
    QFETCH(QString, driverText);
    QFETCH(int, type);

    QFuture<QSqlQuery> future = AsyncSQLQuery::exec(sql);
    QString description;
    int errorType = -1;
    QVERIFY(waitFor(future));
    try {
        future.waitForFinished();
        QFAIL("the statement should have failed");
    } catch (const DBException &e) {
        description = e.description();
        errorType = e.error().type();
    }
    QVERIFY2(description.contains(driverText), qPrintable(description));
    QCOMPARE(errorType, type);

    QTRY_COMPARE(failLines.size(), 1);
    QCOMPARE(failLines[0],
        QStringLiteral("FAIL QUERY:  \"%1\" \"%2\"")
            .arg(QString(sql).replace(QLatin1Char('"'), QLatin1String("\\\"")),
                QString(description).replace(QLatin1Char('"'), QLatin1String("\\\""))));

    // The failure leaves the thread's connection usable.
    const QFuture<QList<QSqlRecord>> after = AsyncSQLQuery::select(QStringLiteral("SELECT 1"));
    QVERIFY(waitFor(after));
    QCOMPARE(after.result().size(), 1);
}

void TestAsyncSQLQuery::finishedReadsHoldNoLock_data()
{
    QTest::addColumn<int>("form");
    QTest::newRow("exec of a SELECT") << 0;
    QTest::newRow("select") << 1;
    QTest::newRow("read of the first row only") << 2;
}

void TestAsyncSQLQuery::finishedReadsHoldNoLock()
{
    QFETCH(int, form);
    QVERIFY(TestDatabase::exec(QStringLiteral(
        "INSERT INTO 'config' (key, value) VALUES ('1', 'a'), ('2', 'b'), ('3', 'c')")));

    const QString sql = QStringLiteral("SELECT key FROM 'config'");
    // The future, and any result it holds, stays alive during the write, as a caller's would.
    QFuture<void> held;
    if (form == 0) {
        held = AsyncSQLQuery::exec(sql);
    } else if (form == 1) {
        const QFuture<QList<QSqlRecord>> selected = AsyncSQLQuery::select(sql);
        QVERIFY(waitFor(selected));
        QCOMPARE(selected.result().size(), 3);
        held = selected;
    } else {
        const QFuture<QString> firstRow = AsyncSQLQuery::read(
            sql, [](QSqlQuery &query) { return query.next() ? query.value(0).toString() : QString(); });
        QVERIFY(waitFor(firstRow));
        QCOMPARE(firstRow.result(), QStringLiteral("1"));
        held = firstRow;
    }
    QVERIFY(waitFor(held));

    // A writer that will not wait: an unread statement on the pool thread's connection would
    // still hold SQLite's shared lock and make this fail with "database is locked".
    {
        QSqlDatabase writer
            = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("writer"));
        writer.setDatabaseName(TestDatabase::path());
        writer.setConnectOptions(QStringLiteral("QSQLITE_BUSY_TIMEOUT=0"));
        QVERIFY(writer.open());
        QSqlQuery write(writer);
        QVERIFY2(write.exec(QStringLiteral("DELETE FROM 'config'")),
            qPrintable(write.lastError().text()));
    }
    QSqlDatabase::removeDatabase(QStringLiteral("writer"));
}

QTEST_GUILESS_MAIN(TestAsyncSQLQuery)
#include "tst_asyncsqlquery.moc"
