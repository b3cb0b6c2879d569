#include "services/db/dbservice.h"
#include "shared/asyncsqlquery.h"

#include "futurewait.h"
#include "testdatabase.h"
#include "testenvironment.h"

#include <QFile>
#include <QRegularExpression>
#include <QSqlError>
#include <QSqlQuery>
#include <QTest>

namespace {

QStringList tables()
{
    return TestDatabase::textColumn(
        QStringLiteral("SELECT name FROM sqlite_master WHERE type = 'table' AND name "
                       "NOT LIKE 'sqlite_%' ORDER BY name"));
}

int count(const QString &table)
{
    return TestDatabase::textColumn(QStringLiteral("SELECT COUNT(*) FROM ") + table)
        .value(0, QStringLiteral("-1"))
        .toInt();
}

const QStringList allTables {
    QStringLiteral("config"),
    QStringLiteral("logs"),
    QStringLiteral("migrations"),
    QStringLiteral("order"),
    QStringLiteral("order_status"),
    QStringLiteral("receipt"),
    QStringLiteral("receipt_item"),
    QStringLiteral("shift"),
};

} // namespace

class TestDBService : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();

    void freshFileGetsWholeSchemaOnce();
    void uniqueKeysReplaceRows_data();
    void uniqueKeysReplaceRows();
    void columnDefaults();
    void nameInOtherCaseIsAppliedAgain();
    void failedMigrationIsUndone();
    void removeAndRerunKeepsHistoryTables();
    void stopLeavesDatabaseUsable();
};

void TestDBService::initTestCase()
{
    TestEnvironment::init();
}

void TestDBService::freshFileGetsWholeSchemaOnce()
{
    QVERIFY(!QFile::exists(TestDatabase::path()));
    TestDatabase db;
    QVERIFY(QFile::exists(TestDatabase::path()));
    QCOMPARE(tables(), allTables);
    QCOMPARE(TestDatabase::textColumn(QStringLiteral("SELECT name FROM migrations")),
        QStringList { QStringLiteral("InitMigration") });

    db.service().run();
    QCOMPARE(tables(), allTables);
    QCOMPARE(count(QStringLiteral("migrations")), 1);
}

void TestDBService::uniqueKeysReplaceRows_data()
{
    QTest::addColumn<QString>("table");
    QTest::addColumn<QString>("columns");
    QTest::addColumn<QString>("first");
    QTest::addColumn<QString>("second");
    QTest::newRow("config by key") << "'config'"
                                   << "key, value"
                                   << "'k', 'a'"
                                   << "'k', 'b'";
    QTest::newRow("shift by uuid") << "shift"
                                   << "uuid, type, number, created_at"
                                   << "'u', 'general', 1, 1"
                                   << "'u', 'general', 2, 1";
    QTest::newRow("order by uuid") << "'order'"
                                   << "uuid, shift_uuid, number"
                                   << "'u', 's', 1"
                                   << "'u', 's', 2";
    QTest::newRow("order_status by name") << "order_status"
                                          << "name, title"
                                          << "'cooking', 'a'"
                                          << "'cooking', 'b'";
    QTest::newRow("receipt by uuid") << "receipt"
                                     << "uuid, shift_uuid, order_uuid, type"
                                     << "'u', 's', 'o', 'a'"
                                     << "'u', 's', 'o', 'b'";
    QTest::newRow("receipt_item by uuid") << "receipt_item"
                                          << "uuid, receipt_uuid, comment"
                                          << "'u', 'r', 'a'"
                                          << "'u', 'r', 'b'";
}

void TestDBService::uniqueKeysReplaceRows()
{
    QFETCH(QString, table);
    QFETCH(QString, columns);
    QFETCH(QString, first);
    QFETCH(QString, second);
    TestDatabase db;
    const QString insert = QStringLiteral("INSERT INTO %1 (%2) VALUES (%3)");
    QVERIFY(TestDatabase::exec(insert.arg(table, columns, first)));
    QVERIFY(TestDatabase::exec(insert.arg(table, columns, second)));
    QCOMPARE(count(table), 1);
    QCOMPARE(TestDatabase::textColumn(QStringLiteral("SELECT %1 FROM %2").arg(columns, table))
                 .join(QLatin1Char(',')),
        TestDatabase::textColumn(QStringLiteral("SELECT %1").arg(second)).join(QLatin1Char(',')));
}

void TestDBService::columnDefaults()
{
    TestDatabase db;
    QVERIFY(TestDatabase::exec(
        QStringLiteral("INSERT INTO 'order' (uuid, shift_uuid) VALUES ('o', 's')")));
    QCOMPARE(TestDatabase::textColumn(
                 QStringLiteral("SELECT status || is_closed || is_shipped || is_paid FROM "
                                "'order'")),
        QStringList { QStringLiteral("created000") });
    QVERIFY(TestDatabase::exec(
        QStringLiteral("INSERT INTO receipt_item (uuid, receipt_uuid) VALUES ('i', 'r')")));
    QCOMPARE(TestDatabase::textColumn(
                 QStringLiteral("SELECT status || quantity || in_work FROM receipt_item")),
        QStringList { QStringLiteral("pending10") });
    QVERIFY(TestDatabase::exec(QStringLiteral("INSERT INTO order_status (name) VALUES ('n')")));
    QCOMPARE(TestDatabase::textColumn(QStringLiteral("SELECT is_active FROM order_status")),
        QStringList { QStringLiteral("1") });
    // Columns that must be given.
    QVERIFY(!QSqlQuery().exec(QStringLiteral("INSERT INTO shift (uuid, type) VALUES ('s', 'g')")));
    QVERIFY(!QSqlQuery().exec(QStringLiteral(
        "INSERT INTO logs (timestamp, level, message, line) VALUES (1, 1, 'm', 1)")));
}

void TestDBService::nameInOtherCaseIsAppliedAgain()
{
    TestDatabase db;
    QVERIFY(TestDatabase::exec(QStringLiteral("UPDATE migrations SET name = 'initmigration'")));
    db.service().run();
    QCOMPARE(TestDatabase::textColumn(QStringLiteral("SELECT name FROM migrations ORDER BY id")),
        (QStringList { QStringLiteral("initmigration"), QStringLiteral("InitMigration") }));
}

void TestDBService::failedMigrationIsUndone()
{
    TestDatabase db(false);
    // An index holding the name of the fifth table makes its CREATE fail.
    QVERIFY(TestDatabase::exec(QStringLiteral("CREATE TABLE other (a INTEGER)")));
    QVERIFY(TestDatabase::exec(QStringLiteral("CREATE INDEX order_status ON other (a)")));

    QTest::ignoreMessage(QtWarningMsg,
        QRegularExpression(QStringLiteral("there is already an index named "
                                          "order_status")));
    db.service().run();
    QCOMPARE(tables(), QStringList { QStringLiteral("other") });
}

void TestDBService::removeAndRerunKeepsHistoryTables()
{
    TestDatabase db;
    QVERIFY(TestDatabase::exec(
        QStringLiteral("INSERT INTO 'config' (key, value) VALUES ('domain', 'cafe')")));
    QVERIFY(TestDatabase::exec(
        QStringLiteral("INSERT INTO shift (uuid, type, number, created_at) VALUES "
                       "('s', 'general', 1, 1)")));
    QVERIFY(TestDatabase::exec(
        QStringLiteral("INSERT INTO 'order' (uuid, shift_uuid) VALUES ('o', 's')")));
    QVERIFY(TestDatabase::exec(QStringLiteral("INSERT INTO order_status (name) VALUES ('ready')")));
    QVERIFY(TestDatabase::exec(
        QStringLiteral("INSERT INTO logs (timestamp, level, message, line, function, "
                       "is_sync) VALUES (1, 3, 'm', 1, 'f', 0)")));
    QVERIFY(TestDatabase::exec(
        QStringLiteral("INSERT INTO receipt (uuid, shift_uuid, order_uuid) VALUES "
                       "('r', 's', 'o')")));
    QVERIFY(TestDatabase::exec(
        QStringLiteral("INSERT INTO receipt_item (uuid, receipt_uuid) VALUES ('i', 'r')")));

    db.service().downAllMigrations();
    QCOMPARE(tables(),
        (QStringList { QStringLiteral("logs"), QStringLiteral("order_status"),
            QStringLiteral("receipt"), QStringLiteral("receipt_item") }));
    db.service().run();

    QStringList counts;
    for (const QString &table : allTables)
        counts.append(table + QLatin1Char('=')
            + QString::number(count(QLatin1Char('\'') + table + QLatin1Char('\''))));
    QCOMPARE(counts.join(QLatin1Char(' ')),
        QStringLiteral("config=0 logs=1 migrations=1 order=0 order_status=1 receipt=1 "
                       "receipt_item=1 shift=0"));
}

void TestDBService::stopLeavesDatabaseUsable()
{
    TestDatabase db;
    db.service().stop();
    QVERIFY(
        TestDatabase::exec(QStringLiteral("INSERT INTO 'config' (key, value) VALUES ('k', 'v')")));
    // Pool threads open the same file from the template the service set.
    const QFuture<QList<QSqlRecord>> select
        = AsyncSQLQuery::select(QStringLiteral("SELECT value FROM 'config'"));
    QVERIFY(waitFor(select));
    const QList<QSqlRecord> rows = select.result();
    QCOMPARE(rows.size(), 1);
    QCOMPARE(rows[0].value(0).toString(), QStringLiteral("v"));
}

QTEST_GUILESS_MAIN(TestDBService)
#include "tst_dbservice.moc"
