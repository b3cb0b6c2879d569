#include "core/appenv.h"
#include "services/rotationDB/rotationdbservice.h"

#include "testdatabase.h"
#include "testenvironment.h"

#include <QDateTime>
#include <QSignalSpy>
#include <QTest>

namespace {

constexpr qint64 day = 86400;

QString ago(qint64 seconds)
{
    return QString::number(QDateTime::currentSecsSinceEpoch() - seconds);
}

// A capture time as the log capture writes it, in whole UTC days back from today.
QString logStamp(int daysBack, const char *time)
{
    return QDateTime::currentDateTimeUtc().date().addDays(-daysBack).toString(Qt::ISODate) + ' '
        + time;
}

} // namespace

class TestRotationDBService : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase() { TestEnvironment::init(); }
    void rotationRemovesOldRowsAndKeepsTheRest();
    void failingLogDeleteReportsAnError();
};

void TestRotationDBService::rotationRemovesOldRowsAndKeepsTheRest()
{
    TestDatabase db;
    // Shifts: the newest general shift closed before the cut-off survives with every old shift
    // that shares its number; recent and open shifts stay.
    QVERIFY(TestDatabase::exec(
        QStringLiteral("INSERT INTO shift (uuid, type, number, created_at, closed_at) VALUES "
                       "('s10', 'general', 10, %1, %1), ('s11', 'general', 11, %2, %2), "
                       "('s11b', 'bar', 11, %2, %2), ('s9', 'bar', 9, %1, %1), "
                       "('s12', 'general', 12, %3, %3), ('s13', 'general', 13, %3, NULL)")
            .arg(ago(6 * day), ago(4 * day), ago(day))));
    // Orders: closed long ago in an old shift, closed long ago in a recent shift, deleted long
    // ago, and open.
    QVERIFY(TestDatabase::exec(QStringLiteral(
        "INSERT INTO 'order' (uuid, shift_uuid, created_at, closed_at, deleted_at) VALUES "
        "('o-old', 's10', %1, %1, NULL), ('o-recent-shift', 's12', %1, %1, NULL), "
        "('o-deleted', 's13', %1, NULL, %2), ('o-open', 's13', %2, NULL, NULL)")
                                   .arg(ago(6 * day), ago(day))));
    // Receipts: of a removed order, of a kept order, deleted long ago, deleted recently.
    QVERIFY(TestDatabase::exec(QStringLiteral(
        "INSERT INTO receipt (uuid, shift_uuid, order_uuid, created_at, deleted_at) VALUES "
        "('r-old', 's10', 'o-old', %1, NULL), ('r-open', 's13', 'o-open', %1, NULL), "
        "('r-deleted', 's13', 'o-open', %1, %1), ('r-deleted-today', 's13', 'o-open', %2, %2)")
                                   .arg(ago(6 * day), ago(60))));
    // Receipt items: of a removed receipt, deleted, and live.
    QVERIFY(TestDatabase::exec(
        "INSERT INTO receipt_item (uuid, receipt_uuid, deleted_at) VALUES "
        "('i-old', 'r-old', NULL), ('i-deleted', 'r-open', 5), ('i-live', 'r-open', NULL)"));
    // Logs: every row dated before yesterday (UTC) goes, sent or not.
    QVERIFY(TestDatabase::exec(QStringLiteral(
        "INSERT INTO logs (timestamp, level, message, file, line, function, is_sync) VALUES "
        "('%1', 3, 'two days ago, late', 'f', 1, 'g', 0), ('%2', 3, 'three days ago', 'f', 1, "
        "'g', 1), ('%3', 3, 'yesterday, early', 'f', 1, 'g', 0), ('%4', 2, 'today', 'f', 1, "
        "'g', 0)")
                                   .arg(logStamp(2, "23:59:59"), logStamp(3, "12:00:00"),
                                       logStamp(1, "00:00:00"), logStamp(0, "08:00:00"))));

    AppEnv env;
    RotationDBService service(&env);
    QSignalSpy errors(&service, &IService::error);
    QVERIFY(errors.isValid());
    service.run(); // rotates at once, then on the timer
    TestDatabase::drainThreadPool();

    QCOMPARE(TestDatabase::textColumn("SELECT uuid FROM shift ORDER BY number, uuid"),
        QStringList({ "s11", "s11b", "s12", "s13" }));
    QCOMPARE(TestDatabase::textColumn("SELECT uuid FROM 'order' ORDER BY uuid"),
        QStringList({ "o-open", "o-recent-shift" }));
    QCOMPARE(TestDatabase::textColumn("SELECT uuid FROM receipt ORDER BY uuid"),
        QStringList({ "r-deleted-today", "r-open" }));
    QCOMPARE(TestDatabase::textColumn("SELECT uuid FROM receipt_item"), QStringList({ "i-live" }));
    QCOMPARE(TestDatabase::textColumn("SELECT message FROM logs ORDER BY id"),
        QStringList({ "yesterday, early", "today" }));
    QCOMPARE(errors.count(), 0);
}

// A failing step is reported; the steps before it are done.
void TestRotationDBService::failingLogDeleteReportsAnError()
{
    TestDatabase db;
    QVERIFY(TestDatabase::exec(QStringLiteral("INSERT INTO 'order' (uuid, shift_uuid, created_at, "
                                              "deleted_at) VALUES ('o-deleted', 's', %1, %1)")
                                   .arg(ago(6 * day))));
    QVERIFY(TestDatabase::exec("DROP TABLE logs"));
    AppEnv env;
    RotationDBService service(&env);
    QSignalSpy errors(&service, &IService::error);
    QVERIFY(errors.isValid());
    service.run();
    TestDatabase::drainThreadPool();
    QTRY_COMPARE(errors.count(), 1);
    QVERIFY2(errors[0][1].toString().startsWith("no such table: logs"),
        qPrintable(errors[0][1].toString()));
    QCOMPARE(errors[0][0].toString(), "Синтаксическая ошибка SQL");
    QCOMPARE(TestDatabase::textColumn("SELECT COUNT(*) FROM 'order'"), QStringList("0"));
}

QTEST_GUILESS_MAIN(TestRotationDBService)
#include "tst_rotationdbservice.moc"
