#include "models/receiptitemmodel.h"

#include "logcapture.h"
#include "modelhelpers.h"
#include "testdatabase.h"
#include "testenvironment.h"

#include <QAbstractItemModelTester>
#include <QSignalSpy>
#include <QSqlQuery>
#include <QTest>

using namespace ModelHelpers;

namespace {

ReceiptItem makeItem(const QString &uuid, const QString &receiptUuid, int menuId)
{
    ReceiptItem item;
    item.id = menuId;
    item.uuid = uuid;
    item.receipt_uuid = receiptUuid;
    item.menu_id = menuId;
    item.quantity = 1;
    item.in_work = true;
    item.status = QStringLiteral("cooking");
    return item;
}

bool storeItems(const QList<ReceiptItem> &items)
{
    return store(items, &EntitiesRepo::insertReceiptItem);
}

// Two shifts, each with one receipt: "r" in shift "S", "x" in shift "T".
bool storeShiftsAndReceipts()
{
    return QSqlQuery().exec(QStringLiteral(
               "INSERT INTO shift (uuid, type, number, created_at) VALUES ('S', 'general', 1, 1), "
               "('T', 'general', 2, 1)"))
        && QSqlQuery().exec(QStringLiteral(
            "INSERT INTO receipt (uuid, shift_uuid, order_uuid) VALUES ('r', 'S', 'o'), "
            "('x', 'T', 'o'), ('r''q', 'it''s', 'o')"))
        && QSqlQuery().exec(QStringLiteral("INSERT INTO shift (uuid, type, number, created_at) "
                                           "VALUES ('it''s', 'general', 3, 1)"));
}

class ProbeItemModel : public ReceiptItemModel
{
public:
    QModelIndex rowIndex(int row) const { return createIndex(row, 0); }
};

} // namespace

// The receipt item model: items of one shift through their receipts, pushes that remove
// deleted items, and retention.
class TestReceiptItemModel : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void init();
    void cleanup();

    void reloadLoadsItemsOfTheShiftsReceipts();
    void reloadWithoutItemsIsEmpty();
    void pushes();
    void listInsertRemovesRowsDeletedBefore();
    void roles_data();
    void roles();
    void lookups();
    void failedReloadKeepsRows();
    void removeOldEntityIgnoresAge();
    void pushDuringReloadIsKept();

private:
    std::unique_ptr<TestDatabase> database;
    std::unique_ptr<ProbeItemModel> model;
    std::unique_ptr<QAbstractItemModelTester> tester;
    std::unique_ptr<QSignalSpy> resets;
};

void TestReceiptItemModel::initTestCase()
{
    TestEnvironment::init();
}

void TestReceiptItemModel::init()
{
    database = std::make_unique<TestDatabase>();
    QVERIFY(storeShiftsAndReceipts());
    model = std::make_unique<ProbeItemModel>();
    tester = std::make_unique<QAbstractItemModelTester>(
        model.get(), QAbstractItemModelTester::FailureReportingMode::QtTest);
    resets = std::make_unique<QSignalSpy>(model.get(), &QAbstractItemModel::modelReset);
    QVERIFY(resets->isValid());
}

void TestReceiptItemModel::cleanup()
{
    resets.reset();
    tester.reset();
    model.reset();
    database.reset();
}

void TestReceiptItemModel::reloadLoadsItemsOfTheShiftsReceipts()
{
    ReceiptItem deleted = makeItem(QStringLiteral("i2"), QStringLiteral("r"), 2);
    deleted.deleted_at = 4102444800;
    ReceiptItem noStatus = makeItem(QStringLiteral("i5"), QStringLiteral("r'q"), 5);
    noStatus.status.clear();
    QVERIFY(storeItems({ makeItem(QStringLiteral("i1"), QStringLiteral("r"), 1), deleted,
        makeItem(QStringLiteral("i3"), QStringLiteral("x"), 3),
        makeItem(QStringLiteral("i4"), QStringLiteral("missing"), 4), noStatus }));

    QVERIFY(finishedCleanly(model->update(QStringLiteral("S"))));
    QCOMPARE(column(*model, ReceiptItemModel::uuidRole), QStringLiteral("i1"));
    QVERIFY(finishedCleanly(model->update(QStringLiteral("it's"))));
    QCOMPARE(column(*model, ReceiptItemModel::uuidRole), QStringLiteral("i5"));
    QCOMPARE(column(*model, ReceiptItemModel::statusRole), QStringLiteral("pending"));
}

void TestReceiptItemModel::reloadWithoutItemsIsEmpty()
{
    QVERIFY(storeItems({ makeItem(QStringLiteral("i1"), QStringLiteral("r"), 1) }));
    QVERIFY(finishedCleanly(model->update(QStringLiteral("S"))));
    QVERIFY(finishedCleanly(model->update(QStringLiteral("T"))));
    QCOMPARE(model->rowCount(), 0);
    QVERIFY(finishedCleanly(model->update(QStringLiteral("unknown"))));
    QCOMPARE(model->rowCount(), 0);
    QCOMPARE(resets->count(), 3);
}

void TestReceiptItemModel::pushes()
{
    QList<ReceiptItem> items;
    for (int i = 0; i < 4; ++i)
        items.append(makeItem(QStringLiteral("i%1").arg(i), QStringLiteral("r"), i + 1));
    QVERIFY(storeItems(items));
    QVERIFY(finishedCleanly(model->update(QStringLiteral("S"))));

    ReceiptItem done = items[2];
    done.in_work = false;
    QVERIFY(finishedCleanly(model->insert(&done)));
    QCOMPARE(column(*model, ReceiptItemModel::inWorkRole), QStringLiteral("true true false true"));

    ReceiptItem deleted = items[1];
    deleted.deleted_at = 4102444800; // past 2038: must not read as "not deleted"
    QVERIFY(finishedCleanly(model->insert(&deleted)));
    QCOMPARE(column(*model, ReceiptItemModel::uuidRole), QStringLiteral("i0 i2 i3"));
    for (const QString &uuid : { QStringLiteral("i0"), QStringLiteral("i2"), QStringLiteral("i3") })
        QCOMPARE(model->byUuid(uuid).uuid, uuid);
    QVERIFY(!model->byUuid(QStringLiteral("i1")).isValid());

    ReceiptItem unknownDeleted = makeItem(QStringLiteral("i9"), QStringLiteral("r"), 9);
    unknownDeleted.deleted_at = 5;
    QVERIFY(finishedCleanly(model->insert(&unknownDeleted)));
    QCOMPARE(column(*model, ReceiptItemModel::uuidRole), QStringLiteral("i0 i2 i3 i9"));
    QCOMPARE(model->byUuid(QStringLiteral("i9")).menu_id, 9);

    // Deleted items are stored as such, so a reload leaves them out.
    QVERIFY(finishedCleanly(model->update(QStringLiteral("S"))));
    QCOMPARE(model->rowCount(), 3);
    QVERIFY(!model->byUuid(QStringLiteral("i1")).isValid());
    QVERIFY(!model->byUuid(QStringLiteral("i9")).isValid());

    LogCapture log;
    Receipt other;
    QVERIFY(finishedCleanly(model->insert(&other)));
    QCOMPARE(model->rowCount(), 3);
    QCOMPARE(log.atLevel(3).size(), 1);
}

void TestReceiptItemModel::listInsertRemovesRowsDeletedBefore()
{
    ReceiptItem a = makeItem(QStringLiteral("a"), QStringLiteral("r"), 1);
    ReceiptItem b = makeItem(QStringLiteral("b"), QStringLiteral("r"), 2);
    b.deleted_at = 7;
    ReceiptItem c = makeItem(QStringLiteral("c"), QStringLiteral("r"), 3);
    QVERIFY(finishedCleanly(model->insert(QList<ReceiptItem *> { &a, &b, &c })));
    QCOMPARE(column(*model, ReceiptItemModel::uuidRole), QStringLiteral("a b c"));

    ReceiptItem bAgain = makeItem(QStringLiteral("b"), QStringLiteral("r"), 20);
    ReceiptItem aAgain = makeItem(QStringLiteral("a"), QStringLiteral("r"), 10);
    QVERIFY(finishedCleanly(model->insert(QList<ReceiptItem *> { &bAgain, &aAgain })));
    QCOMPARE(column(*model, ReceiptItemModel::menuIdRole), QStringLiteral("10 3"));
    QCOMPARE(model->byUuid(QStringLiteral("c")).menu_id, 3);
    // Every item of the list is written, kept in the model or not.
    QSqlQuery query(QStringLiteral("SELECT menu_id FROM receipt_item WHERE uuid = 'b'"));
    QVERIFY(query.next());
    QCOMPARE(query.value(0).toInt(), 20);
}

void TestReceiptItemModel::roles_data()
{
    QTest::addColumn<int>("role");
    QTest::addColumn<QVariant>("expected");
    QTest::newRow("id") << 257 << QVariant(4);
    QTest::newRow("uuid") << 258 << QVariant(QStringLiteral("i"));
    QTest::newRow("menu") << 259 << QVariant(4);
    QTest::newRow("receipt") << 260 << QVariant(QStringLiteral("r"));
    QTest::newRow("quantity") << 261 << QVariant(1.5);
    QTest::newRow("comment") << 262 << QVariant(QStringLiteral("no salt"));
    QTest::newRow("in work") << 263 << QVariant(true);
    QTest::newRow("created") << 264 << QVariant(qlonglong(4102444800));
    QTest::newRow("updated") << 265 << QVariant(qlonglong(0));
    QTest::newRow("deleted") << 266 << QVariant(qlonglong(0));
    QTest::newRow("status") << 267 << QVariant(QStringLiteral("cooking"));
    QTest::newRow("below") << 256 << QVariant();
    QTest::newRow("above") << 268 << QVariant();
}

void TestReceiptItemModel::roles()
{
    QFETCH(int, role);
    QFETCH(QVariant, expected);
    ReceiptItem item = makeItem(QStringLiteral("i"), QStringLiteral("r"), 4);
    item.quantity = 1.5;
    item.comment = QStringLiteral("no salt");
    item.created_at = 4102444800;
    QVERIFY(storeItems({ item }));
    QVERIFY(finishedCleanly(model->update(QStringLiteral("S"))));
    const QVariant value = model->index(0, 0).data(role);
    QCOMPARE(value, expected);
    QCOMPARE(value.typeId(), expected.typeId());
    QVERIFY(!model->data(model->rowIndex(-1), role).isValid());
    QVERIFY(!model->data(model->rowIndex(1), role).isValid());
    const QHash<int, QByteArray> names = model->roleNames();
    QCOMPARE(names.size(), 11);
    QCOMPARE(names.value(258), QByteArray("uuid"));
    QCOMPARE(names.value(263), QByteArray("inWork"));
    QCOMPARE(names.value(260), QByteArray("receiptUuidRole"));
}

void TestReceiptItemModel::lookups()
{
    QVERIFY(storeItems({ makeItem(QStringLiteral("i1"), QStringLiteral("r"), 1),
        makeItem(QStringLiteral("i2"), QStringLiteral("r"), 2),
        makeItem(QStringLiteral("i3"), QStringLiteral("x"), 3) }));
    QVERIFY(finishedCleanly(model->update(QStringLiteral("S"))));
    QCOMPARE(model->listItemsByReceiptUuid(QStringLiteral("r")).size(), 2);
    QVERIFY(model->listItemsByReceiptUuid(QStringLiteral("R")).isEmpty());
    model->updateIndexUuid(QStringLiteral("unknown"));
    QCOMPARE(model->byUuid(QStringLiteral("i2")).menu_id, 2);
    QCOMPARE(ReceiptItemModel::tableName(), QStringLiteral("receipt_item"));
}

void TestReceiptItemModel::failedReloadKeepsRows()
{
    QVERIFY(storeItems({ makeItem(QStringLiteral("i1"), QStringLiteral("r"), 1) }));
    QVERIFY(finishedCleanly(model->update(QStringLiteral("S"))));
    QVERIFY(QSqlQuery().exec(QStringLiteral("DROP TABLE receipt_item")));
    LogCapture log;
    QVERIFY(finishedCleanly(model->update(QStringLiteral("S"))));
    QCOMPARE(model->byUuid(QStringLiteral("i1")).menu_id, 1);
    QCOMPARE(resets->count(), 1);
    QCOMPARE(log.atLevel(3).size(), 1);
    QCOMPARE(log.atLevel(3).first().file, QStringLiteral("receiptitemmodel.cpp"));
}

void TestReceiptItemModel::removeOldEntityIgnoresAge()
{
    ReceiptItem deleted = makeItem(QStringLiteral("deleted"), QStringLiteral("r"), 2);
    deleted.deleted_at = daysAgo(0);
    QVERIFY(storeItems({ makeItem(QStringLiteral("kept"), QStringLiteral("r"), 1), deleted,
        makeItem(QStringLiteral("orphan"), QStringLiteral("gone"), 3) }));
    QVERIFY(finishedCleanly(model->removeOldEntity(1000)));
    QSqlQuery query(QStringLiteral("SELECT uuid FROM receipt_item"));
    QVERIFY(query.next());
    QCOMPARE(query.value(0).toString(), QStringLiteral("kept"));
    QVERIFY(!query.next());
    QCOMPARE(resets->count(), 0);
}

void TestReceiptItemModel::pushDuringReloadIsKept()
{
    QVERIFY(storeItems({ makeItem(QStringLiteral("i1"), QStringLiteral("r"), 1),
        makeItem(QStringLiteral("i2"), QStringLiteral("r"), 2) }));
    QVERIFY(finishedCleanly(model->update(QStringLiteral("S"))));

    const SerialPool serial;
    const VoidFuture reload = model->update(QStringLiteral("S"));
    ReceiptItem done = makeItem(QStringLiteral("i1"), QStringLiteral("r"), 1);
    done.in_work = false;
    ReceiptItem deleted = makeItem(QStringLiteral("i2"), QStringLiteral("r"), 2);
    deleted.deleted_at = 9;
    ReceiptItem added = makeItem(QStringLiteral("i3"), QStringLiteral("r"), 3);
    const VoidFuture writes[]
        = { model->insert(&done), model->insert(&deleted), model->insert(&added) };
    QVERIFY(finishedCleanly(reload));
    for (const VoidFuture &write : writes)
        QVERIFY(finishedCleanly(write));
    QCOMPARE(column(*model, ReceiptItemModel::uuidRole), QStringLiteral("i1 i3"));
    QCOMPARE(column(*model, ReceiptItemModel::inWorkRole), QStringLiteral("false true"));
    QCOMPARE(model->byUuid(QStringLiteral("i3")).menu_id, 3);
}

QTEST_GUILESS_MAIN(TestReceiptItemModel)
#include "tst_receiptitemmodel.moc"
