#include "entities/entitiesrepo.h"
#include "shared/dbexception.h"

#include "futurewait.h"
#include "logcapture.h"
#include "testdatabase.h"
#include "testenvironment.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QSqlQuery>
#include <QTest>

#include <limits>

namespace {

// Every stored row of the record's table, read back through its own fromRow, as JSON by uuid order.
template <typename Entity> QJsonArray stored()
{
    QJsonArray result;
    QSqlQuery query;
    query.exec(QStringLiteral("SELECT * FROM '%1' ORDER BY uuid").arg(Entity().tableName()));
    while (query.next()) {
        Entity entity;
        entity.fromRow(query);
        result.append(entity.toJson());
    }
    return result;
}

template <typename Entity> QJsonArray asJson(const QList<Entity> &records)
{
    QJsonArray array;
    for (const Entity &record : records)
        array.append(record.toJson());
    return array;
}

// Waits for the write; true when it ran without a DBException.
bool written(const VoidFuture &future)
{
    if (!waitFor(future))
        return false;
    try {
        VoidFuture(future).waitForFinished();
    } catch (const DBException &) {
        return false;
    }
    return true;
}

Order order(const QString &uuid, const QString &text = QString())
{
    Order o;
    o.id = -7;
    o.uuid = uuid;
    o.shift_uuid = QStringLiteral("sh'ift %1");
    o.number_guests = -1;
    o.status = text;
    o.is_paid = true;
    o.comment = text;
    o.client_uuid = text;
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
    s.created_at = createdAt;
    s.created_comment = QStringLiteral("it's");
    return s;
}

} // namespace

// The entity records' strict JSON reading and their writes into a real migrated database.
class TestEntities : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase() { TestEnvironment::init(); }
    void init() { database = std::make_unique<TestDatabase>(); }
    void cleanup() { database.reset(); }

    void orderFromJson_data();
    void orderFromJson();
    void rowsRoundTrip();
    void hostileTextsAreStoredExactly_data();
    void hostileTextsAreStoredExactly();
    void upsertReplacesTheWholeRow();
    void refusedRowIsSkippedAndNamed();
    void missingTableFailsOnlyItsWrite();
    void rapidWritesLandInCallOrder();

private:
    std::unique_ptr<TestDatabase> database;
};

void TestEntities::orderFromJson_data()
{
    QTest::addColumn<QByteArray>("json");
    QTest::addColumn<QString>("field");
    QTest::addColumn<QVariant>("expected");
    QTest::newRow("int min") << QByteArray(R"({"id": -2147483648})") << "id"
                             << QVariant(-2147483647 - 1);
    QTest::newRow("int as string") << QByteArray(R"({"id": "5"})") << "id" << QVariant(0);
    QTest::newRow("int fraction") << QByteArray(R"({"id": 1.5})") << "id" << QVariant(0);
    QTest::newRow("int out of range") << QByteArray(R"({"id": 2147483648})") << "id" << QVariant(0);
    QTest::newRow("time beyond 2038") << QByteArray(R"({"created_at": 4102444800})")
                                      << "created_at" << QVariant(qint64(4102444800));
    QTest::newRow("time beyond 64 bits")
        << QByteArray(R"({"created_at": 1e19})") << "created_at" << QVariant(qint64(0));
    QTest::newRow("flag as string")
        << QByteArray(R"({"is_paid": "true"})") << "is_paid" << QVariant(false);
    QTest::newRow("text as number")
        << QByteArray(R"({"comment": 5})") << "comment" << QVariant(QString());
}

void TestEntities::orderFromJson()
{
    QFETCH(QByteArray, json);
    QFETCH(QString, field);
    QFETCH(QVariant, expected);
    Order order;
    order.comment = QStringLiteral("missing keys reset the field");
    order.fromJson(QJsonDocument::fromJson(json).object());
    const QHash<QString, QVariant> fields { { "id", order.id }, { "created_at", order.created_at },
        { "is_paid", order.is_paid }, { "comment", order.comment } };
    QCOMPARE(fields.value(field), expected);
}

// Every kind of record is read back as written: times after 2038, quotes and markers in texts; a
// receipt item without status reads as pending and a non-finite quantity is stored as 0.
void TestEntities::rowsRoundTrip()
{
    Order orderA = order(QStringLiteral("a'1"), QStringLiteral("it's %1 done"));
    Order orderB = order(QStringLiteral("b"));
    orderB.deleted_at = 5;
    QVERIFY(written(EntitiesRepo::insertOrder({ &orderA, nullptr, &orderB })));
    QCOMPARE(stored<Order>(), asJson<Order>({ orderA, orderB }));

    Shift shiftA = shift(QStringLiteral("s1"), 1700000000);
    shiftA.closed_at = 1700003600;
    shiftA.is_fiscal = true;
    QVERIFY(written(EntitiesRepo::insertShift({ &shiftA })));
    QCOMPARE(stored<Shift>(), asJson<Shift>({ shiftA }));

    Receipt receipt;
    receipt.uuid = QStringLiteral("r");
    receipt.order_uuid = QStringLiteral("o'1");
    receipt.created_by = -1;
    receipt.is_printed = true;
    QVERIFY(written(EntitiesRepo::insertReceipt({ &receipt })));
    QCOMPARE(stored<Receipt>(), asJson<Receipt>({ receipt }));

    ReceiptItem item;
    item.fromJson(QJsonDocument::fromJson(R"({"id": 1, "uuid": "i1", "quantity": 1.5,
        "in_work": true, "status": "cooking", "deleted_at": 4102444801})").object());
    QCOMPARE(item.deleted_at, qint64(4102444801));
    ReceiptItem bare;
    bare.uuid = QStringLiteral("i2");
    bare.quantity = std::numeric_limits<double>::infinity();
    QVERIFY(written(EntitiesRepo::insertReceiptItem({ &item, &bare })));
    bare.quantity = 0;
    bare.status = QStringLiteral("pending");
    QCOMPARE(stored<ReceiptItem>(), asJson<ReceiptItem>({ item, bare }));
    QVERIFY(EntitiesRepo::insertReceiptItem({ nullptr }).isFinished());
}

void TestEntities::hostileTextsAreStoredExactly_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("expected");
    const QString sql = QStringLiteral("x'), ('y', 1); DROP TABLE shift; --");
    QTest::newRow("sql") << sql << sql;
    const QString nul = QStringLiteral("a") + QChar(0) + QStringLiteral("b'c");
    QTest::newRow("nul") << nul << nul;
    // SQLite would read past a lone surrogate and take the next character with it.
    const QString high = QStringLiteral("a") + QChar(0xD800) + QStringLiteral("'new");
    QTest::newRow("lone high surrogate")
        << high << QString(high).replace(QChar(0xD800), QChar::ReplacementCharacter);
    QTest::newRow("lone low surrogate") << QChar(0xDC00) + QStringLiteral("x")
                                        << QChar(QChar::ReplacementCharacter) + QStringLiteral("x");
    QTest::newRow("pair and markers") << QStringLiteral("🍕 %1 ? :a") << QStringLiteral("🍕 %1 ? :a");
    const QString huge = QString(1 << 20, QLatin1Char('q'));
    QTest::newRow("huge") << huge << huge;
}

void TestEntities::hostileTextsAreStoredExactly()
{
    QFETCH(QString, text);
    QFETCH(QString, expected);
    LogCapture log;
    Shift s = shift(QStringLiteral("s"), 1700000000);
    Order o = order(text, text);
    QVERIFY(written(EntitiesRepo::insertShift({ &s })));
    QVERIFY(written(EntitiesRepo::insertOrder({ &o })));
    const QJsonArray orders = stored<Order>();
    QCOMPARE(orders.size(), 1);
    for (const char *field : { "uuid", "comment", "status", "client_uuid" })
        QCOMPARE(orders[0][field].toString(), expected);
    QCOMPARE(stored<Shift>().size(), 1);
    QVERIFY(log.atLevel(3).isEmpty());
}

// A stored row is replaced whole, and the later of two rows of one uuid in one list wins.
void TestEntities::upsertReplacesTheWholeRow()
{
    Order first = order(QStringLiteral("o"), QStringLiteral("first comment"));
    QVERIFY(written(EntitiesRepo::insertOrder({ &first })));
    Order second = order(QStringLiteral("o"));
    second.number = 99;
    Order third = second;
    third.number = 100;
    QVERIFY(written(EntitiesRepo::insertOrder({ &second, &third })));
    QCOMPARE(stored<Order>(), asJson<Order>({ third }));
}

void TestEntities::refusedRowIsSkippedAndNamed()
{
    LogCapture log;
    Shift good = shift(QStringLiteral("good"), 1700000000);
    Shift bad = shift(QStringLiteral("bad"), 0); // created_at is NOT NULL in the table
    Shift later = shift(QStringLiteral("later"), 1700000001);
    QFuture<QStringList> write = EntitiesRepo::store(QList<Shift *> { &good, &bad, &later });
    QVERIFY(waitFor(write));
    QCOMPARE(write.result(), QStringList { QStringLiteral("bad") });
    QCOMPARE(stored<Shift>().size(), 2);
    const QList<LogCapture::Entry> critical = log.atLevel(3);
    QCOMPARE(critical.size(), 1);
    QVERIFY(critical.first().message.contains(QStringLiteral("\"shift\"")));
    QVERIFY(critical.first().message.contains(QStringLiteral("\"bad\"")));
    // The insert form passes, so a synchronisation goes on with its other rows.
    QVERIFY(written(EntitiesRepo::insertShift({ &bad })));
}

void TestEntities::missingTableFailsOnlyItsWrite()
{
    QVERIFY(TestDatabase::exec(QStringLiteral("DROP TABLE 'order'")));
    Order o = order(QStringLiteral("x"));
    Shift s = shift(QStringLiteral("s"), 1700000000);
    const VoidFuture failing = EntitiesRepo::insertOrder({ &o });
    const VoidFuture next = EntitiesRepo::insertShift({ &s });
    QVERIFY(!written(failing));
    QVERIFY(written(next));
    QCOMPARE(stored<Shift>().size(), 1);
}

// Pushes of one order each get their own write; the newest must be what stays, none may fail on
// a busy database.
void TestEntities::rapidWritesLandInCallOrder()
{
    constexpr int pushes = 300;
    QList<VoidFuture> writes;
    for (int number = 1; number <= pushes; ++number) {
        Order pushed = order(QStringLiteral("same"));
        pushed.number = number;
        writes.append(EntitiesRepo::insertOrder({ &pushed }));
    }
    for (const VoidFuture &write : std::as_const(writes))
        QVERIFY(written(write));
    const QJsonArray orders = stored<Order>();
    QCOMPARE(orders.size(), 1);
    QCOMPARE(orders[0]["number"].toInt(), pushes);
}

QTEST_GUILESS_MAIN(TestEntities)
#include "tst_entities.moc"
