#include "entities/order.h"
#include "entities/receipt.h"
#include "entities/receiptitem.h"
#include "entities/shift.h"
#include "entities/sqlrow.h"

#include <QJsonDocument>
#include <QTest>

#include <limits>

namespace {

QJsonObject parse(const char *json)
{
    return QJsonDocument::fromJson(json).object();
}

Order filledOrder()
{
    Order order;
    order.id = 12;
    order.uuid = QStringLiteral("o-1");
    order.shift_id = 3;
    order.shift_uuid = QStringLiteral("s-1");
    order.number = 41;
    order.number_guests = 2;
    order.status = QStringLiteral("packaged");
    order.table_id = 7;
    order.type = QStringLiteral("hall");
    order.is_paid = true;
    order.is_shipped = false;
    order.is_closed = true;
    order.client_id = 9;
    order.client_uuid = QStringLiteral("c-1");
    order.comment = QStringLiteral("no onions");
    order.closed_at = 1700000100;
    order.created_by = 5;
    order.created_at = 1700000000;
    order.updated_at = 1700000050;
    order.deleted_at = 0;
    return order;
}

// The row text of a record after a trip through its JSON form.
template <typename Entity> QString afterJsonRoundTrip(const Entity &entity)
{
    Entity copy;
    copy.fromJson(entity.toJson());
    return copy.toRow();
}

} // namespace

// Row text, JSON reading and writing of the four entity records.
class TestEntities : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void defaultRecords();
    void filledOrderRow();
    void textsAreEscapedAndPlacedOnce();
    void quantityText_data();
    void quantityText();
    void fillPlaceholders_data();
    void fillPlaceholders();
    void orderFromJson_data();
    void orderFromJson();
    void receiptItemTimesAre64Bit();
    void missingKeysResetFields();
    void defaultShiftJson();
    void jsonRoundTrip();
    void validity();
};

void TestEntities::defaultRecords()
{
    QCOMPARE(Order().toRow(),
        QStringLiteral("(NULL, '', NULL, '', 0, 0, '', NULL, '', 0, 0, 0, NULL, NULL, NULL, NULL, "
                       "0, NULL, NULL, NULL)"));
    QCOMPARE(Shift().toRow(),
        QStringLiteral("(NULL, '', '', '', 0, NULL, 0, '', 0, 0, NULL, '', 0, NULL, NULL)"));
    QCOMPARE(Receipt().toRow(),
        QStringLiteral("(NULL, '', NULL, '', NULL, '0', '', NULL, '', 0, 0, NULL, NULL, NULL)"));
    QCOMPARE(ReceiptItem().toRow(),
        QStringLiteral("(NULL, NULL, '', '', 0, 0, NULL, NULL, 0, 0, NULL, NULL, NULL, NULL)"));
}

void TestEntities::filledOrderRow()
{
    Order order = filledOrder();
    order.created_by = -4;
    QCOMPARE(order.toRow(),
        QStringLiteral("(12, 'o-1', 3, 's-1', 41, 2, 'packaged', 7, 'hall', 1, 0, 1, 9, 'c-1', "
                       "'no onions', 1700000100, -4, 1700000000, 1700000050, NULL)"));
    QCOMPARE(order.columns().join(QLatin1Char(',')),
        QStringLiteral("id,uuid,shift_id,shift_uuid,number,number_guests,status,table_id,type,"
                       "is_paid,is_shipped,is_closed,client_id,client_uuid,comment,closed_at,"
                       "created_by,created_at,updated_at,deleted_at"));

    Receipt receipt;
    receipt.created_by = 7;
    receipt.uuid = QStringLiteral("r");
    QVERIFY(receipt.toRow().contains(QStringLiteral(", NULL, '7', '', NULL,")));

    // Only a receipt item writes a created_at of 0 as a number.
    ReceiptItem item;
    item.created_at = 0;
    QCOMPARE(item.toRow().split(QStringLiteral(", ")).at(9), QStringLiteral("0"));
    item.created_at = 1700000000;
    QCOMPARE(item.toRow().split(QStringLiteral(", ")).at(9), QStringLiteral("1700000000"));
}

void TestEntities::textsAreEscapedAndPlacedOnce()
{
    Order order;
    order.uuid = QStringLiteral("o'1");
    order.comment = QStringLiteral("it's %1 and %20'");
    order.number = 5;
    order.created_by = 8;
    QCOMPARE(order.toRow(),
        QStringLiteral("(NULL, 'o''1', NULL, '', 5, 0, '', NULL, '', 0, 0, 0, NULL, NULL, "
                       "'it''s %1 and %20''', NULL, 8, NULL, NULL, NULL)"));

    Shift shift;
    shift.type = QStringLiteral("gen'eral");
    shift.closed_comment = QStringLiteral("%2");
    QCOMPARE(shift.toRow(),
        QStringLiteral("(NULL, '', '', 'gen''eral', 0, NULL, 0, '%2', 0, 0, NULL, '', 0, NULL, "
                       "NULL)"));
}

void TestEntities::quantityText_data()
{
    QTest::addColumn<double>("quantity");
    QTest::addColumn<QString>("text");

    QTest::newRow("whole") << 2.0 << "2";
    QTest::newRow("half") << 1.5 << "1.5";
    QTest::newRow("zero") << 0.0 << "0";
    QTest::newRow("negative") << -0.5 << "-0.5";
    QTest::newRow("six digits") << 123456.7 << "123457";
    QTest::newRow("large") << 1000000.0 << "1e+06";
    QTest::newRow("small") << 0.00001 << "1e-05";
    // SQLite would read "inf" or "nan" as a column name and fail the whole insert.
    QTest::newRow("infinite") << std::numeric_limits<double>::infinity() << "0";
    QTest::newRow("not a number") << std::numeric_limits<double>::quiet_NaN() << "0";
}

void TestEntities::quantityText()
{
    QFETCH(double, quantity);
    QFETCH(QString, text);
    ReceiptItem item;
    item.quantity = quantity;
    QCOMPARE(item.toRow().split(QStringLiteral(", ")).at(5), text);
}

void TestEntities::fillPlaceholders_data()
{
    QTest::addColumn<QString>("pattern");
    QTest::addColumn<QStringList>("values");
    QTest::addColumn<QString>("result");

    const QStringList twelve { "a", "b", "c", "d", "e", "f", "g", "h", "i", "j", "k", "l" };
    QTest::newRow("two digits") << "%10|%1|%12" << twelve << "j|a|l";
    QTest::newRow("one digit before a digit") << "%13" << twelve << "a3";
    QTest::newRow("values not rescanned") << "%1 %2" << QStringList { "%2", "x" } << "%2 x";
    QTest::newRow("unknown placeholder kept") << "%3 %" << QStringList { "a" } << "%3 %";
}

void TestEntities::fillPlaceholders()
{
    QFETCH(QString, pattern);
    QFETCH(QStringList, values);
    QFETCH(QString, result);
    QCOMPARE(SqlRow::fill(pattern, values), result);
}

void TestEntities::orderFromJson_data()
{
    QTest::addColumn<QByteArray>("json");
    QTest::addColumn<QString>("field");
    QTest::addColumn<QVariant>("expected");

    QTest::newRow("integer negative")
        << QByteArray(R"({"id": -2147483648})") << "id" << QVariant(-2147483647 - 1);
    QTest::newRow("integer as string") << QByteArray(R"({"id": "5"})") << "id" << QVariant(0);
    QTest::newRow("integer fraction") << QByteArray(R"({"id": 1.5})") << "id" << QVariant(0);
    QTest::newRow("integer whole double") << QByteArray(R"({"id": 6.0})") << "id" << QVariant(6);
    QTest::newRow("integer out of range")
        << QByteArray(R"({"id": 2147483648})") << "id" << QVariant(0);
    QTest::newRow("integer null") << QByteArray(R"({"id": null})") << "id" << QVariant(0);
    QTest::newRow("integer bool") << QByteArray(R"({"id": true})") << "id" << QVariant(0);
    QTest::newRow("time beyond 2038") << QByteArray(R"({"created_at": 4102444800})") << "created_at"
                                      << QVariant(qint64(4102444800));
    QTest::newRow("time fraction")
        << QByteArray(R"({"created_at": 1.5})") << "created_at" << QVariant(qint64(0));
    QTest::newRow("time beyond 64 bits")
        << QByteArray(R"({"created_at": 1e19})") << "created_at" << QVariant(qint64(0));
    QTest::newRow("flag as number")
        << QByteArray(R"({"is_paid": 1})") << "is_paid" << QVariant(false);
    QTest::newRow("flag as string")
        << QByteArray(R"({"is_paid": "true"})") << "is_paid" << QVariant(false);
    QTest::newRow("text") << QByteArray(R"({"comment": "it's"})") << "comment"
                          << QVariant(QStringLiteral("it's"));
    QTest::newRow("text as number")
        << QByteArray(R"({"comment": 5})") << "comment" << QVariant(QString());
}

void TestEntities::orderFromJson()
{
    QFETCH(QByteArray, json);
    QFETCH(QString, field);
    QFETCH(QVariant, expected);

    Order order;
    order.fromJson(QJsonDocument::fromJson(json).object());
    const QHash<QString, QVariant> fields {
        { QStringLiteral("id"), order.id },
        { QStringLiteral("created_at"), order.created_at },
        { QStringLiteral("is_paid"), order.is_paid },
        { QStringLiteral("comment"), order.comment },
    };
    QCOMPARE(fields.value(field), expected);
}

void TestEntities::receiptItemTimesAre64Bit()
{
    ReceiptItem item;
    item.fromJson(parse(R"({"created_at": 4102444800, "deleted_at": 4102444801,
                            "updated_at": 1.5, "quantity": 1.5, "status": "cooking"})"));
    QCOMPARE(item.created_at, qint64(4102444800));
    QCOMPARE(item.deleted_at, qint64(4102444801));
    QCOMPARE(item.updated_at, qint64(0));
    QCOMPARE(item.quantity, 1.5);
    QCOMPARE(item.status, QStringLiteral("cooking"));

    item.fromJson(parse(R"({"quantity": "2"})"));
    QCOMPARE(item.quantity, 0.0);
    // Reading JSON never fills in a status.
    QCOMPARE(item.status, QString());
}

void TestEntities::missingKeysResetFields()
{
    Order order = filledOrder();
    order.fromJson(parse(R"({"uuid": "o-2", "number": 3})"));
    QCOMPARE(order.uuid, QStringLiteral("o-2"));
    QCOMPARE(order.number, 3);
    QVERIFY(order.comment.isEmpty());
    QCOMPARE(order.id, 0);
    QCOMPARE(order.created_at, qint64(0));
    QVERIFY(!order.is_paid);
}

void TestEntities::defaultShiftJson()
{
    QCOMPARE(QJsonDocument(Shift().toJson()).toJson(QJsonDocument::Compact),
        QByteArray(R"({"closed_amount":0,"closed_at":null,"closed_comment":null,)"
                   R"("created_amount":0,"created_at":null,"created_by":null,)"
                   R"("created_comment":null,"id":null,"is_fiscal":false,"number":0,)"
                   R"("parent_uuid":null,"type":"","updated_at":null,"user_id":null,"uuid":""})"));

    // A receipt writes its shift and order ids as numbers even when 0.
    const QJsonObject receipt = Receipt().toJson();
    QCOMPARE(receipt.value(QLatin1String("shift_id")), QJsonValue(0));
    QVERIFY(receipt.value(QLatin1String("id")).isNull());
}

void TestEntities::jsonRoundTrip()
{
    const Order order = filledOrder();
    QCOMPARE(afterJsonRoundTrip(order), order.toRow());
    // toJson writes exactly the columns.
    QStringList columns = order.columns();
    columns.sort();
    QCOMPARE(order.toJson().keys(), columns);

    Shift shift;
    shift.id = 1;
    shift.uuid = QStringLiteral("s");
    shift.type = QStringLiteral("general");
    shift.number = 3;
    shift.created_at = 10;
    shift.closed_comment = QStringLiteral("ok");
    QCOMPARE(afterJsonRoundTrip(shift), shift.toRow());

    Receipt receipt;
    receipt.uuid = QStringLiteral("r");
    receipt.order_uuid = QStringLiteral("o");
    receipt.created_by = -3;
    receipt.deleted_at = 99;
    QCOMPARE(afterJsonRoundTrip(receipt), receipt.toRow());

    ReceiptItem item;
    item.id = 4;
    item.uuid = QStringLiteral("i");
    item.quantity = 2.5;
    item.in_work = true;
    item.status = QStringLiteral("pending");
    QCOMPARE(afterJsonRoundTrip(item), item.toRow());
}

void TestEntities::validity()
{
    QVERIFY(!Order().isValid());
    QVERIFY(!Receipt().isValid());
    Order order;
    order.uuid = QStringLiteral("o");
    QVERIFY(order.isValid());
    Receipt receipt;
    receipt.uuid = QStringLiteral("r");
    QVERIFY(receipt.isValid());
    // Shifts and receipt items are identified by their server id, not their uuid.
    Shift shift;
    shift.uuid = QStringLiteral("s");
    QVERIFY(!shift.isValid());
    shift.id = 1;
    QVERIFY(shift.isValid());
    ReceiptItem item;
    item.uuid = QStringLiteral("i");
    QVERIFY(!item.isValid());
    item.id = 1;
    QVERIFY(item.isValid());
}

QTEST_GUILESS_MAIN(TestEntities)
#include "tst_entities.moc"
