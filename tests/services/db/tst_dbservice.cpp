#include "services/db/dbservice.h"

#include "testdatabase.h"
#include "testenvironment.h"

#include <QFile>
#include <QRegularExpression>
#include <QTest>

namespace {

QStringList tables()
{
    return TestDatabase::textColumn(
        QStringLiteral("SELECT name FROM sqlite_master WHERE type = "
                       "'table' AND name NOT LIKE 'sqlite_%' ORDER BY name"));
}

QString counts()
{
    QStringList out;
    for (const QString &table : tables())
        out.append(table + '='
            + TestDatabase::textColumn(QStringLiteral("SELECT COUNT(*) FROM '%1'").arg(table))
                  .value(0));
    return out.join(' ');
}

} // namespace

// The local database: the schema the migration builds, its unique keys, and the wipe.
class TestDBService : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase() { TestEnvironment::init(); }

    void freshFileGetsWholeSchemaOnce();
    void failedMigrationIsUndone();
    void wipeKeepsHistoryTables();
};

void TestDBService::freshFileGetsWholeSchemaOnce()
{
    QVERIFY(!QFile::exists(TestDatabase::path()));
    TestDatabase db;
    db.service().run();
    QCOMPARE(counts(),
        "config=0 logs=0 migrations=1 order=0 order_status=0 receipt=0 receipt_item=0 shift=0");
}

void TestDBService::failedMigrationIsUndone()
{
    TestDatabase db(false);
    // An index holding the name of the fifth table makes its CREATE fail.
    QVERIFY(TestDatabase::exec(QStringLiteral("CREATE TABLE other (a INTEGER)")));
    QVERIFY(TestDatabase::exec(QStringLiteral("CREATE INDEX order_status ON other (a)")));
    QTest::ignoreMessage(QtWarningMsg, QRegularExpression("already an index named order_status"));
    db.service().run();
    QCOMPARE(tables(), QStringList { QStringLiteral("other") });
}

// The wipe drops the account's tables; logs, statuses, receipts and items stay, and running the
// migration again gives an empty account on them.
void TestDBService::wipeKeepsHistoryTables()
{
    TestDatabase db;
    QVERIFY(TestDatabase::exec(
        QStringLiteral("INSERT INTO 'config' (key, value) VALUES ('domain', 'cafe')")));
    QVERIFY(TestDatabase::exec(QStringLiteral(
        "INSERT INTO shift (uuid, type, number, created_at) VALUES ('s', 'general', 1, 1)")));
    QVERIFY(TestDatabase::exec(
        QStringLiteral("INSERT INTO 'order' (uuid, shift_uuid) VALUES ('o', 's')")));
    QVERIFY(TestDatabase::exec(QStringLiteral("INSERT INTO order_status (name) VALUES ('ready')")));
    QVERIFY(TestDatabase::exec(QStringLiteral("INSERT INTO logs (timestamp, level, message, line, "
                                              "function, is_sync) VALUES (1, 3, 'm', 1, 'f', 0)")));
    QVERIFY(TestDatabase::exec(QStringLiteral(
        "INSERT INTO receipt (uuid, shift_uuid, order_uuid) VALUES ('r', 's', 'o')")));
    QVERIFY(TestDatabase::exec(
        QStringLiteral("INSERT INTO receipt_item (uuid, receipt_uuid) VALUES ('i', 'r')")));

    db.service().downAllMigrations();
    QCOMPARE(counts(), "logs=1 order_status=1 receipt=1 receipt_item=1");
    db.service().run();
    QCOMPARE(counts(),
        "config=0 logs=1 migrations=1 order=0 order_status=1 receipt=1 receipt_item=1 shift=0");
}

QTEST_GUILESS_MAIN(TestDBService)
#include "tst_dbservice.moc"
