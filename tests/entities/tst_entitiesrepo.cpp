#include "entities/entitiesrepo.h"
#include "shared/dbexception.h"

#include "futurewait.h"
#include "testdatabase.h"
#include "testenvironment.h"

#include <QMutex>
#include <QSqlError>
#include <QSqlQuery>
#include <QTest>

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
    if (type == QtDebugMsg)
        return;
    previousHandler(type, context, text);
}

// Every stored row of a table read back through the record's own fromRow, on the GUI thread's
// connection, as the records' row texts sorted by uuid.
template <typename Entity> QList<Entity> readAll()
{
    QList<Entity> result;
    QSqlQuery query;
    const QString table = Entity().tableName();
    if (!query.exec(QStringLiteral("SELECT * FROM '%1' ORDER BY uuid").arg(table))) {
        qWarning() << query.lastError().text();
        return result;
    }
    while (query.next()) {
        Entity entity;
        entity.fromRow(query);
        result.append(entity);
    }
    return result;
}

// Waits for the future and tells whether it carried a DBException.
bool failedWithDBException(const VoidFuture &future)
{
    if (!waitFor(future))
        return false;
    try {
        VoidFuture(future).waitForFinished();
    } catch (const DBException &) {
        return true;
    }
    return false;
}

Order order(const QString &uuid, const QString &comment = QString())
{
    Order o;
    o.id = -7;
    o.uuid = uuid;
    o.shift_uuid = QStringLiteral("sh'ift %1");
    o.number = 0;
    o.number_guests = -1;
    o.status = QStringLiteral("%1");
    o.type = QString();
    o.is_paid = true;
    o.comment = comment;
    o.created_at = 4102444800;
    o.created_by = -2;
    return o;
}

Shift shift(const QString &uuid, qint64 createdAt)
{
    Shift s;
    s.id = 1;
    s.uuid = uuid;
    s.type = QStringLiteral("general");
    s.number = 3;
    s.created_at = createdAt;
    s.created_comment = QStringLiteral("it's");
    s.closed_amount = -100;
    return s;
}

} // namespace

// Multi-row inserts of entity records into a real migrated database.
class TestEntitiesRepo : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void init();
    void cleanup();
    void cleanupTestCase();

    void emptyListFinishesAtOnce();
    void roundTripOrders();
    void roundTripShifts();
    void roundTripReceipts();
    void roundTripReceiptItems();
    void orderStatementText();
    void storedRowIsReplacedWhole();
    void laterDuplicateInOneListWins();
    void failingListStoresNothing();
    void rapidWritesLandInCallOrder();

private:
    std::unique_ptr<TestDatabase> database;
};

void TestEntitiesRepo::initTestCase()
{
    TestEnvironment::init();
    previousHandler = qInstallMessageHandler(captureFailLines);
}

void TestEntitiesRepo::init()
{
    database = std::make_unique<TestDatabase>();
    const QMutexLocker locker(&failMutex);
    failLines.clear();
}

void TestEntitiesRepo::cleanup()
{
    database.reset();
}

void TestEntitiesRepo::cleanupTestCase()
{
    qInstallMessageHandler(previousHandler);
}

void TestEntitiesRepo::emptyListFinishesAtOnce()
{
    QVERIFY(EntitiesRepo::insertOrder({}).isFinished());
    QVERIFY(EntitiesRepo::insertShift({}).isFinished());
    QVERIFY(EntitiesRepo::insertReceipt({}).isFinished());
    QVERIFY(EntitiesRepo::insertReceiptItem({ nullptr }).isFinished());
    QVERIFY(failLines.isEmpty());
}

void TestEntitiesRepo::roundTripOrders()
{
    Order a = order(QStringLiteral("a'1"), QStringLiteral("it's %1 done"));
    Order b = order(QStringLiteral("b"));
    b.client_uuid = QStringLiteral("c'l");
    b.deleted_at = 5;
    const VoidFuture insert = EntitiesRepo::insertOrder({ &a, &b });
    QVERIFY(waitFor(insert));
    QVERIFY(!failedWithDBException(insert));

    const QList<Order> stored = readAll<Order>();
    QCOMPARE(stored.size(), 2);
    QCOMPARE(stored[0].toJson(), a.toJson());
    QCOMPARE(stored[1].toJson(), b.toJson());
}

void TestEntitiesRepo::roundTripShifts()
{
    Shift a = shift(QStringLiteral("s1"), 1700000000);
    a.parent_uuid = QStringLiteral("p'1");
    a.closed_at = 1700003600;
    a.is_fiscal = true;
    Shift b = shift(QStringLiteral("s2"), 1);
    b.type = QString();
    b.created_comment = QString();
    QVERIFY(!failedWithDBException(EntitiesRepo::insertShift({ &a, &b })));

    const QList<Shift> stored = readAll<Shift>();
    QCOMPARE(stored.size(), 2);
    QCOMPARE(stored[0].toJson(), a.toJson());
    QCOMPARE(stored[1].toJson(), b.toJson());
}

void TestEntitiesRepo::roundTripReceipts()
{
    QList<Receipt> receipts(3);
    for (int i = 0; i < receipts.size(); ++i) {
        receipts[i].uuid = QStringLiteral("r%1").arg(i);
        receipts[i].shift_uuid = QStringLiteral("s'1");
        receipts[i].order_uuid = QStringLiteral("o%1").arg(i);
        receipts[i].created_by = i - 1;
        receipts[i].is_printed = i == 2;
        receipts[i].type = QStringLiteral("%2");
    }
    QVERIFY(!failedWithDBException(
        EntitiesRepo::insertReceipt({ &receipts[0], &receipts[1], &receipts[2] })));

    const QList<Receipt> stored = readAll<Receipt>();
    QCOMPARE(stored.size(), 3);
    for (int i = 0; i < receipts.size(); ++i)
        QCOMPARE(stored[i].toJson(), receipts[i].toJson());
}

void TestEntitiesRepo::roundTripReceiptItems()
{
    ReceiptItem a;
    a.id = 1;
    a.uuid = QStringLiteral("i1");
    a.receipt_uuid = QStringLiteral("r'1");
    a.quantity = 1.5;
    a.comment = QStringLiteral("'%1'");
    a.in_work = true;
    a.status = QStringLiteral("cooking");
    a.deleted_at = 4102444800;
    ReceiptItem b;
    b.uuid = QStringLiteral("i2");
    b.quantity = std::numeric_limits<double>::infinity();
    QVERIFY(!failedWithDBException(EntitiesRepo::insertReceiptItem({ &a, &b })));

    const QList<ReceiptItem> stored = readAll<ReceiptItem>();
    QCOMPARE(stored.size(), 2);
    QCOMPARE(stored[0].toJson(), a.toJson());
    // Stored with its status missing, read back as pending; the endless quantity became 0.
    QCOMPARE(stored[1].status, QStringLiteral("pending"));
    QCOMPARE(stored[1].quantity, 0.0);
    QCOMPARE(stored[1].created_at, qint64(0));

    QSqlQuery query(QStringLiteral("SELECT status, created_at IS NULL, updated_at IS NULL "
                                   "FROM receipt_item WHERE uuid = 'i2'"));
    QVERIFY(query.next());
    QVERIFY(query.value(0).isNull());
    QCOMPARE(query.value(1).toInt(), 0);
    QCOMPARE(query.value(2).toInt(), 1);
}

void TestEntitiesRepo::orderStatementText()
{
    // The statement is visible in the failure line once the table is gone.
    QVERIFY(QSqlQuery().exec(QStringLiteral("DROP TABLE 'order'")));
    Order o;
    o.uuid = QStringLiteral("x");
    QVERIFY(failedWithDBException(EntitiesRepo::insertOrder({ &o })));
    QCOMPARE(failLines.size(), 1);
    QVERIFY2(failLines.first().contains(QStringLiteral(
                 "INSERT INTO 'order' (id, uuid, shift_id, shift_uuid, number, number_guests, "
                 "status, table_id, type, is_paid, is_shipped, is_closed, client_id, client_uuid, "
                 "comment, closed_at, created_by, created_at, updated_at, deleted_at) VALUES "
                 "(NULL, 'x', NULL, '', 0, 0, '', NULL, '', 0, 0, 0, NULL, NULL, NULL, NULL, 0, "
                 "NULL, NULL, NULL);")),
        qPrintable(failLines.first()));
}

void TestEntitiesRepo::storedRowIsReplacedWhole()
{
    Order first = order(QStringLiteral("o"), QStringLiteral("first comment"));
    QVERIFY(!failedWithDBException(EntitiesRepo::insertOrder({ &first })));
    Order second = order(QStringLiteral("o"));
    second.number = 99;
    QVERIFY(!failedWithDBException(EntitiesRepo::insertOrder({ &second })));

    const QList<Order> stored = readAll<Order>();
    QCOMPARE(stored.size(), 1);
    QCOMPARE(stored[0].number, 99);
    QVERIFY(stored[0].comment.isEmpty());
}

void TestEntitiesRepo::laterDuplicateInOneListWins()
{
    ReceiptItem a;
    a.uuid = QStringLiteral("dup");
    a.menu_id = 1;
    ReceiptItem b = a;
    b.menu_id = 2;
    QVERIFY(!failedWithDBException(EntitiesRepo::insertReceiptItem({ &a, &b })));
    const QList<ReceiptItem> stored = readAll<ReceiptItem>();
    QCOMPARE(stored.size(), 1);
    QCOMPARE(stored[0].menu_id, 2);
}

void TestEntitiesRepo::failingListStoresNothing()
{
    Shift good = shift(QStringLiteral("good"), 1700000000);
    Shift bad = shift(QStringLiteral("bad"), 0); // created_at is NOT NULL in the table
    QVERIFY(failedWithDBException(EntitiesRepo::insertShift({ &good, &bad })));
    QVERIFY(readAll<Shift>().isEmpty());
    QCOMPARE(failLines.size(), 1);

    // A failed write does not hold up the ones queued after it.
    QVERIFY(!failedWithDBException(EntitiesRepo::insertShift({ &good })));
    QCOMPARE(readAll<Shift>().size(), 1);
}

// Pushes of one order arrive one after another; each is written by its own call. The newest push
// must be what stays stored, and none of the writes may fail on a busy database.
void TestEntitiesRepo::rapidWritesLandInCallOrder()
{
    constexpr int pushes = 300;
    QList<VoidFuture> writes;
    for (int number = 1; number <= pushes; ++number) {
        Order pushed = order(QStringLiteral("same"));
        pushed.number = number;
        writes.append(EntitiesRepo::insertOrder({ &pushed }));
    }
    for (const VoidFuture &write : std::as_const(writes))
        QVERIFY(!failedWithDBException(write));
    const QList<Order> stored = readAll<Order>();
    QCOMPARE(stored.size(), 1);
    QCOMPARE(stored[0].number, pushes);
    QVERIFY(failLines.isEmpty());
}

QTEST_GUILESS_MAIN(TestEntitiesRepo)
#include "tst_entitiesrepo.moc"
