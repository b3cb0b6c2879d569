#include "entities/entitiesrepo.h"
#include "shared/dbexception.h"

#include "futurewait.h"
#include "logcapture.h"
#include "testdatabase.h"
#include "testenvironment.h"

#include <QJsonArray>
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
// connection, sorted by uuid.
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

// The records' JSON forms, for comparing what was written with what was read back.
template <typename Entity> QJsonArray asJson(const QList<Entity> &records)
{
    QJsonArray array;
    for (const Entity &record : records)
        array.append(record.toJson());
    return array;
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

// Writes of entity records into a real migrated database.
class TestEntitiesRepo : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void init();
    void cleanup();
    void cleanupTestCase();

    void emptyListFinishesAtOnce();
    void rowsRoundTrip();
    void receiptItemDefaultsOnReading();
    void hostileTextsAreStoredExactly_data();
    void hostileTextsAreStoredExactly();
    void storedRowIsReplacedWhole();
    void laterDuplicateInOneListWins();
    void refusedRowIsSkippedAndNamed();
    void missingTableFailsOnlyItsWrite();
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

// Every kind of record, quotes and placeholders in its texts included, is read back as written.
void TestEntitiesRepo::rowsRoundTrip()
{
    Order orderA = order(QStringLiteral("a'1"), QStringLiteral("it's %1 done"));
    Order orderB = order(QStringLiteral("b"));
    orderB.client_uuid = QStringLiteral("c'l");
    orderB.deleted_at = 5;
    QVERIFY(!failedWithDBException(EntitiesRepo::insertOrder({ &orderA, &orderB })));
    QCOMPARE(asJson(readAll<Order>()), asJson<Order>({ orderA, orderB }));

    Shift shiftA = shift(QStringLiteral("s1"), 1700000000);
    shiftA.parent_uuid = QStringLiteral("p'1");
    shiftA.closed_at = 1700003600;
    shiftA.is_fiscal = true;
    Shift shiftB = shift(QStringLiteral("s2"), 1);
    shiftB.type = QString();
    shiftB.created_comment = QString();
    QVERIFY(!failedWithDBException(EntitiesRepo::insertShift({ &shiftA, &shiftB })));
    QCOMPARE(asJson(readAll<Shift>()), asJson<Shift>({ shiftA, shiftB }));

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
    QCOMPARE(asJson(readAll<Receipt>()), asJson(receipts));

    ReceiptItem item;
    item.id = 1;
    item.uuid = QStringLiteral("i1");
    item.receipt_uuid = QStringLiteral("r'1");
    item.quantity = 1.5;
    item.comment = QStringLiteral("'%1'");
    item.in_work = true;
    item.status = QStringLiteral("cooking");
    item.deleted_at = 4102444800;
    QVERIFY(!failedWithDBException(EntitiesRepo::insertReceiptItem({ &item })));
    QCOMPARE(asJson(readAll<ReceiptItem>()), asJson<ReceiptItem>({ item }));
}

void TestEntitiesRepo::receiptItemDefaultsOnReading()
{
    ReceiptItem item;
    item.uuid = QStringLiteral("i2");
    item.quantity = std::numeric_limits<double>::infinity();
    QVERIFY(!failedWithDBException(EntitiesRepo::insertReceiptItem({ &item })));

    const QList<ReceiptItem> stored = readAll<ReceiptItem>();
    QCOMPARE(stored.size(), 1);
    // Stored with its status missing, read back as pending; the endless quantity became 0.
    QCOMPARE(stored[0].status, QStringLiteral("pending"));
    QCOMPARE(stored[0].quantity, 0.0);
    QCOMPARE(stored[0].created_at, qint64(0));
    QCOMPARE(TestDatabase::textColumn(
                 QStringLiteral("SELECT (status IS NULL) || (created_at IS NULL) || "
                                "(updated_at IS NULL) FROM receipt_item")),
        QStringList { QStringLiteral("101") });
}

void TestEntitiesRepo::hostileTextsAreStoredExactly_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("stored");
    const QString sql = QStringLiteral("x'), ('y', 1); DROP TABLE shift; --");
    QTest::newRow("sql") << sql << sql;
    const QString nul = QStringLiteral("a") + QChar(0) + QStringLiteral("b'c");
    QTest::newRow("nul") << nul << nul;
    // SQLite would read past a lone surrogate and take the next character with it.
    const QString high = QStringLiteral("a") + QChar(0xD800) + QStringLiteral("'new");
    QTest::newRow("lone high surrogate")
        << high << QString(high).replace(QChar(0xD800), QChar::ReplacementCharacter);
    const QString low = QChar(0xDC00) + QStringLiteral("x");
    QTest::newRow("lone low surrogate")
        << low << QChar(QChar::ReplacementCharacter) + QStringLiteral("x");
    const QString pair = QStringLiteral("🍕 %1 ?");
    QTest::newRow("pair and markers") << pair << pair;
    const QString huge = QString(1 << 20, QLatin1Char('q'));
    QTest::newRow("huge") << huge << huge;
}

void TestEntitiesRepo::hostileTextsAreStoredExactly()
{
    QFETCH(QString, text);
    QFETCH(QString, stored);
    Order o = order(text, text);
    o.status = text;
    o.client_uuid = text;
    Shift s = shift(QStringLiteral("s"), 1700000000);
    QVERIFY(!failedWithDBException(EntitiesRepo::insertShift({ &s })));
    QVERIFY(!failedWithDBException(EntitiesRepo::insertOrder({ &o })));
    const QList<Order> orders = readAll<Order>();
    QCOMPARE(orders.size(), 1);
    QCOMPARE(orders[0].uuid, stored);
    QCOMPARE(orders[0].comment, stored);
    QCOMPARE(orders[0].status, stored);
    QCOMPARE(orders[0].client_uuid, stored);
    QCOMPARE(readAll<Shift>().size(), 1);
    QVERIFY(failLines.isEmpty());
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

void TestEntitiesRepo::refusedRowIsSkippedAndNamed()
{
    LogCapture log;
    Shift good = shift(QStringLiteral("good"), 1700000000);
    Shift bad = shift(QStringLiteral("bad"), 0); // created_at is NOT NULL in the table
    Shift later = shift(QStringLiteral("later"), 1700000001);
    QFuture<QStringList> write = EntitiesRepo::store(QList<Shift *> { &good, &bad, &later });
    QVERIFY(waitFor(write));
    QCOMPARE(write.result(), QStringList { QStringLiteral("bad") });
    QCOMPARE(readAll<Shift>().size(), 2);
    const QList<LogCapture::Entry> critical = log.atLevel(3);
    QCOMPARE(critical.size(), 1);
    QVERIFY(critical.first().message.contains(QStringLiteral("\"shift\"")));
    QVERIFY(critical.first().message.contains(QStringLiteral("\"bad\"")));

    // The insert form passes for the sync: the rest of its rows are stored.
    Shift again = shift(QStringLiteral("again"), 0);
    QVERIFY(!failedWithDBException(EntitiesRepo::insertShift({ &again })));
}

void TestEntitiesRepo::missingTableFailsOnlyItsWrite()
{
    QVERIFY(QSqlQuery().exec(QStringLiteral("DROP TABLE 'order'")));
    Order o = order(QStringLiteral("x"));
    Shift s = shift(QStringLiteral("s"), 1700000000);
    const VoidFuture failing = EntitiesRepo::insertOrder({ &o });
    const VoidFuture next = EntitiesRepo::insertShift({ &s });
    QVERIFY(failedWithDBException(failing));
    QCOMPARE(failLines.size(), 1);
    QVERIFY(!failedWithDBException(next));
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
