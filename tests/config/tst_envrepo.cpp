#include "config/envrepo.h"
#include "services/db/dbservice.h"
#include "shared/dbexception.h"

#include "futurewait.h"
#include "testdatabase.h"
#include "testenvironment.h"

#include <QDateTime>
#include <QSqlQuery>
#include <QSqlRecord>
#include <QTest>

namespace {

struct Row
{
    QString value;
    qint64 updatedAt = 0;
    int count = 0;
};

Row stored(const QString &key)
{
    QSqlQuery query;
    query.prepare(QStringLiteral("SELECT value, updated_at, (SELECT COUNT(*) FROM 'config' WHERE "
                                 "key = :k) FROM 'config' WHERE key = :k"));
    query.bindValue(QStringLiteral(":k"), key);
    query.exec();
    if (!query.next())
        return {};
    return { query.value(0).toString(), query.value(1).toLongLong(), query.value(2).toInt() };
}

// The driver's words of the DBException a call throws; empty when it throws none.
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

class TestENVRepo : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void init();
    void cleanup();

    void roundTrips_data();
    void roundTrips();
    void writingAgainReplacesTheRow();
    void missingKeys();
    void failures();

private:
    std::unique_ptr<TestDatabase> database;
};

void TestENVRepo::initTestCase()
{
    TestEnvironment::init();
}

void TestENVRepo::init()
{
    database = std::make_unique<TestDatabase>();
}

void TestENVRepo::cleanup()
{
    database.reset();
}

void TestENVRepo::roundTrips_data()
{
    QTest::addColumn<QString>("key");
    QTest::addColumn<QString>("value");
    QTest::newRow("plain") << "domain" << "cafe";
    QTest::newRow("quotes") << "it's" << "O'Brien's ''bar''";
    // Substituted one after the other, markers inside the data would be replaced again.
    QTest::newRow("markers") << "%1%2" << "%2 and %3 and %1";
    QTest::newRow("statement text") << "k'); DROP TABLE 'config'; --" << "v');--";
    QTest::newRow("cyrillic json") << "point" << "{\"name\": \"Кафе \\\"У моря\\\"\"}";
}

void TestENVRepo::roundTrips()
{
    QFETCH(QString, key);
    QFETCH(QString, value);
    const qint64 before = QDateTime::currentSecsSinceEpoch();

    ENVRepo::insertENV(key, value);
    QCOMPARE(ENVRepo::selectENV(key), value);
    QFuture<QVariant> asyncRead = ENVRepo::asyncSelectENV(key);
    QVERIFY(waitFor(asyncRead));
    QCOMPARE(asyncRead.result().toString(), value);

    const QString otherKey = key + QStringLiteral("'2");
    QFuture<void> asyncWrite = ENVRepo::asyncInsertENV(otherKey, value);
    QVERIFY(waitFor(asyncWrite));
    asyncWrite.waitForFinished(); // rethrows a failure
    const Row row = stored(otherKey);
    QCOMPARE(row.value, value);
    QCOMPARE(row.count, 1);
    QVERIFY(row.updatedAt >= before && row.updatedAt <= QDateTime::currentSecsSinceEpoch());
    QCOMPARE(ENVRepo::selectENV(otherKey), value);

    QCOMPARE(TestDatabase::column(QStringLiteral("SELECT COUNT(*) FROM 'config'")).value(0).toInt(), 2);
}

void TestENVRepo::writingAgainReplacesTheRow()
{
    ENVRepo::insertENV(QStringLiteral("last_update"), 1700000000LL);
    QSqlQuery().exec(QStringLiteral("UPDATE 'config' SET updated_at = 1"));
    ENVRepo::insertENV(QStringLiteral("last_update"), 1700000123LL);
    const Row row = stored(QStringLiteral("last_update"));
    QCOMPARE(row.value, QStringLiteral("1700000123"));
    QCOMPARE(row.count, 1);
    QVERIFY(row.updatedAt > 1);

    QFuture<void> write = ENVRepo::asyncInsertENV(QStringLiteral("last_update"), 5);
    QVERIFY(waitFor(write));
    QCOMPARE(stored(QStringLiteral("last_update")).value, QStringLiteral("5"));
    QCOMPARE(stored(QStringLiteral("last_update")).count, 1);
}

void TestENVRepo::missingKeys()
{
    QVERIFY(ENVRepo::selectENV(QStringLiteral("never")).isNull());
    QFuture<QVariant> read = ENVRepo::asyncSelectENV(QStringLiteral("never"));
    QVERIFY(waitFor(read));
    QVERIFY(!read.result().isValid());
}

void TestENVRepo::failures()
{
    // A null value breaks the NOT NULL rule of the table.
    QVERIFY_THROWS_EXCEPTION(DBException, ENVRepo::insertENV(QStringLiteral("k"), QVariant()));
    QCOMPARE(stored(QStringLiteral("k")).count, 0);

    // Without the table every operation fails, with the compiler's own words.
    database->service().downAllMigrations();
    const QString noTable = QStringLiteral("no such table: config");
    QVERIFY(failureOf([] { ENVRepo::selectENV(QStringLiteral("domain")); }).contains(noTable));
    QVERIFY(failureOf([] { ENVRepo::insertENV(QStringLiteral("domain"), QStringLiteral("x")); })
                .contains(noTable));

    QFuture<void> write = ENVRepo::asyncInsertENV(QStringLiteral("domain"), QStringLiteral("x"));
    QFuture<QVariant> read = ENVRepo::asyncSelectENV(QStringLiteral("domain"));
    QVERIFY(waitFor(write));
    QVERIFY(waitFor(read));
    QVERIFY_THROWS_EXCEPTION(DBException, write.waitForFinished());
    QVERIFY_THROWS_EXCEPTION(DBException, read.waitForFinished());
}

QTEST_GUILESS_MAIN(TestENVRepo)
#include "tst_envrepo.moc"
