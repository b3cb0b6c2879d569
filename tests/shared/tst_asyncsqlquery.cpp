#include "config/envrepo.h"
#include "services/db/dbservice.h"
#include "shared/asyncsqlquery.h"
#include "shared/threadstorage.h"

#include "futurewait.h"
#include "testdatabase.h"
#include "testenvironment.h"

#include <QDateTime>
#include <QNetworkAccessManager>
#include <QPointer>
#include <QSemaphore>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QTest>
#include <QThreadPool>

namespace {

QString connectionName()
{
    const QSqlDatabase db = ThreadStorage::instance()->database();
    return db.isOpen() && db.databaseName() == TestDatabase::path() ? db.connectionName()
                                                                   : QString();
}

// The driver's words of the DBException the call throws; empty when it throws none.
template <typename Call> QString failureOf(Call call)
{
    try {
        call();
    } catch (const DBException &e) {
        return e.description();
    }
    return {};
}

} // namespace

// Statements on the pool threads' own connections (AsyncSQLQuery) and the settings rows written
// and read through them (ENVRepo), on a real migrated database.
class TestAsyncSQLQuery : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase() { TestEnvironment::init(); }
    void init() { database = std::make_unique<TestDatabase>(); }
    void cleanup() { database.reset(); }

    void threadsOwnTheirConnections();
    void finishedReadsHoldNoLock_data();
    void finishedReadsHoldNoLock();
    void failures_data();
    void failures();
    void settingsRoundTrip_data();
    void settingsRoundTrip();
    void settingsFailures();

private:
    std::unique_ptr<TestDatabase> database;
};

// Each thread opens its own connection to the file; a pool thread's connection and network
// manager go when the thread ends.
void TestAsyncSQLQuery::threadsOwnTheirConnections()
{
    QCOMPARE(connectionName(), QLatin1String(QSqlDatabase::defaultConnection));
    QString names[2];
    QPointer<QNetworkAccessManager> manager;
    {
        QThreadPool pool;
        pool.setMaxThreadCount(2);
        // Both tasks wait for each other, so they surely run on two threads at once.
        QSemaphore started;
        auto task = [&](int i) {
            started.release();
            started.acquire(2);
            started.release(2);
            names[i] = connectionName();
            if (i == 0 && ThreadStorage::instance()->qnam() == ThreadStorage::instance()->qnam())
                manager = ThreadStorage::instance()->qnam();
        };
        QFuture<void> first = QtConcurrent::run(&pool, task, 0);
        QFuture<void> second = QtConcurrent::run(&pool, task, 1);
        QVERIFY(waitFor(first) && waitFor(second));
        QVERIFY(!names[0].isEmpty() && !names[1].isEmpty() && names[0] != names[1]);
        QVERIFY(names[0] != connectionName() && QSqlDatabase::contains(names[0]));
        QVERIFY(!manager.isNull());
    }
    QVERIFY(!QSqlDatabase::contains(names[0]) && !QSqlDatabase::contains(names[1]));
    QVERIFY(manager.isNull());

    const QFuture<QString> global = AsyncSQLQuery::read(
        QStringLiteral("SELECT 1"), [](QSqlQuery &) { return connectionName(); });
    QVERIFY(waitFor(global));
    QVERIFY(QSqlDatabase::contains(global.result()));
    TestDatabase::drainThreadPool();
    QVERIFY(!QSqlDatabase::contains(global.result()));
}

void TestAsyncSQLQuery::finishedReadsHoldNoLock_data()
{
    QTest::addColumn<int>("form");
    QTest::newRow("exec of a SELECT") << 0;
    QTest::newRow("select") << 1;
    QTest::newRow("read of the first row only") << 2;
}

// A finished read leaves no statement open: a writer that will not wait would otherwise fail
// with "database is locked". The reader runs in the pool task and hands out plain values.
void TestAsyncSQLQuery::finishedReadsHoldNoLock()
{
    QFETCH(int, form);
    QVERIFY(TestDatabase::exec(
        QStringLiteral("INSERT INTO 'config' (key, value) VALUES ('1', 'a'), ('2', 'b')")));
    const QString sql = QStringLiteral("SELECT key FROM 'config' ORDER BY key");
    // The future, and any result it holds, stays alive during the write, as a caller's would.
    QFuture<void> held;
    if (form == 0) {
        held = AsyncSQLQuery::exec(sql);
    } else if (form == 1) {
        const QFuture<QList<QSqlRecord>> selected = AsyncSQLQuery::select(sql);
        QVERIFY(waitFor(selected));
        QCOMPARE(selected.result().value(1).value(0).toString(), QStringLiteral("2"));
        held = selected;
    } else {
        QThread *const gui = QThread::currentThread();
        const QFuture<QString> firstRow = AsyncSQLQuery::read(sql, [gui](QSqlQuery &query) {
            return query.next() && QThread::currentThread() != gui ? query.value(0).toString()
                                                                   : QString();
        });
        QVERIFY(waitFor(firstRow));
        QCOMPARE(firstRow.result(), QStringLiteral("1"));
        held = firstRow;
    }
    QVERIFY(waitFor(held));
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

void TestAsyncSQLQuery::failures_data()
{
    QTest::addColumn<QString>("sql");
    QTest::addColumn<QString>("driverText");
    // A statement that does not compile must say why, not that there was nothing to run.
    QTest::newRow("syntax error") << "SELEC 1" << "near \"SELEC\": syntax error";
    QTest::newRow("missing table") << "SELECT * FROM nowhere" << "no such table: nowhere";
    QTest::newRow("constraint") << "INSERT INTO 'config' (key, value) VALUES ('k', NULL)"
                                << "NOT NULL constraint failed: config.value";
}

void TestAsyncSQLQuery::failures()
{
    QFETCH(QString, sql);
    QFETCH(QString, driverText);
    QFuture<QSqlQuery> future = AsyncSQLQuery::exec(sql);
    QVERIFY(waitFor(future));
    const QString description = failureOf([&] { future.waitForFinished(); });
    QVERIFY2(description.contains(driverText), qPrintable(description));

    // The failure leaves the thread's connection usable.
    const QFuture<QList<QSqlRecord>> after = AsyncSQLQuery::select(QStringLiteral("SELECT 1"));
    QVERIFY(waitFor(after));
    QCOMPARE(after.result().size(), 1);
}

void TestAsyncSQLQuery::settingsRoundTrip_data()
{
    QTest::addColumn<QString>("key");
    QTest::addColumn<QString>("value");
    QTest::newRow("quotes") << "it's" << "O'Brien's ''bar''";
    // Substituted one after the other, markers inside the data would be replaced again.
    QTest::newRow("markers") << "%1%2" << "%2 and %3 and %1";
    QTest::newRow("statement text") << "k'); DROP TABLE 'config'; --" << "v');--";
    QTest::newRow("cyrillic json") << "point" << "{\"name\": \"Кафе \\\"У моря\\\"\"}";
}

// Written synchronously or on the pool, a key is stored once with its value as given and a fresh
// updated_at; writing it again replaces the row.
void TestAsyncSQLQuery::settingsRoundTrip()
{
    QFETCH(QString, key);
    QFETCH(QString, value);
    const qint64 before = QDateTime::currentSecsSinceEpoch();
    ENVRepo::insertENV(key, QStringLiteral("old"));
    ENVRepo::insertENV(key, value);
    QCOMPARE(ENVRepo::selectENV(key), value);

    const QString otherKey = key + QStringLiteral("'2");
    QFuture<void> asyncWrite = ENVRepo::asyncInsertENV(otherKey, QStringLiteral("old"));
    QVERIFY(waitFor(asyncWrite));
    asyncWrite = ENVRepo::asyncInsertENV(otherKey, value);
    QVERIFY(waitFor(asyncWrite));
    asyncWrite.waitForFinished(); // rethrows a failure
    QFuture<QVariant> asyncRead = ENVRepo::asyncSelectENV(otherKey);
    QVERIFY(waitFor(asyncRead));
    QCOMPARE(asyncRead.result().toString(), value);

    QCOMPARE(TestDatabase::column(QStringLiteral("SELECT COUNT(*) FROM 'config'")).value(0), 2);
    QVERIFY(TestDatabase::column(QStringLiteral("SELECT MIN(updated_at) FROM 'config'"))
                .value(0)
                .toLongLong()
        >= before);
    QVERIFY(ENVRepo::selectENV(QStringLiteral("never")).isNull());
}

void TestAsyncSQLQuery::settingsFailures()
{
    // A null value breaks the NOT NULL rule of the table.
    QVERIFY_THROWS_EXCEPTION(DBException, ENVRepo::insertENV(QStringLiteral("k"), QVariant()));

    // Without the table every operation fails with the compiler's own words.
    database->service().downAllMigrations();
    const QString noTable = QStringLiteral("no such table: config");
    QVERIFY(failureOf([] { ENVRepo::selectENV(QStringLiteral("domain")); }).contains(noTable));
    QVERIFY(failureOf([] { ENVRepo::insertENV(QStringLiteral("domain"), 1); }).contains(noTable));
    QFuture<void> write = ENVRepo::asyncInsertENV(QStringLiteral("domain"), QStringLiteral("x"));
    QFuture<QVariant> read = ENVRepo::asyncSelectENV(QStringLiteral("domain"));
    QVERIFY(waitFor(write) && waitFor(read));
    QVERIFY(failureOf([&] { write.waitForFinished(); }).contains(noTable));
    QVERIFY(failureOf([&] { read.waitForFinished(); }).contains(noTable));
}

QTEST_GUILESS_MAIN(TestAsyncSQLQuery)
#include "tst_asyncsqlquery.moc"
