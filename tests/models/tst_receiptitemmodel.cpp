#include "models/receiptitemmodel.h"

#include "logcapture.h"
#include "modelhelpers.h"
#include "testenvironment.h"

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

// Three shifts with one receipt each: "r" in shift "S", "x" in shift "T", "r'q" in shift "it's".
bool storeShiftsAndReceipts()
{
    return TestDatabase::exec(
               QStringLiteral("INSERT INTO shift (uuid, type, number, created_at) VALUES "
                              "('S', 'general', 1, 1), ('T', 'general', 2, 1), "
                              "('it''s', 'general', 3, 1)"))
        && TestDatabase::exec(QStringLiteral(
            "INSERT INTO receipt (uuid, shift_uuid, order_uuid) VALUES ('r', 'S', 'o'), "
            "('x', 'T', 'o'), ('r''q', 'it''s', 'o')"));
}

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
    void pushes();
    void listInsertRemovesRowsDeletedBefore();
    void roles();
    void lookups();
    void failedReloadKeepsRows();
    void removeOldEntityIgnoresAge();
    void pushDuringReloadIsKept();

private:
    std::unique_ptr<ModelFixture<ReceiptItemModel>> fx;
};

void TestReceiptItemModel::initTestCase()
{
    TestEnvironment::init();
}

void TestReceiptItemModel::init()
{
    fx = std::make_unique<ModelFixture<ReceiptItemModel>>(true);
    QVERIFY(fx->resets.isValid());
    QVERIFY(storeShiftsAndReceipts());
}

void TestReceiptItemModel::cleanup()
{
    fx.reset();
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

    QVERIFY(finishedCleanly(fx->model.update(QStringLiteral("S"))));
    QCOMPARE(column(fx->model, ReceiptItemModel::uuidRole), QStringLiteral("i1"));
    QVERIFY(finishedCleanly(fx->model.update(QStringLiteral("it's"))));
    QCOMPARE(column(fx->model, ReceiptItemModel::uuidRole), QStringLiteral("i5"));
    QCOMPARE(column(fx->model, ReceiptItemModel::statusRole), QStringLiteral("pending"));
    // A shift without receipts empties the model.
    QVERIFY(finishedCleanly(fx->model.update(QStringLiteral("unknown"))));
    QCOMPARE(fx->model.rowCount(), 0);
    QCOMPARE(fx->resets.count(), 3);
}

void TestReceiptItemModel::pushes()
{
    QList<ReceiptItem> items;
    for (int i = 0; i < 4; ++i)
        items.append(makeItem(QStringLiteral("i%1").arg(i), QStringLiteral("r"), i + 1));
    QVERIFY(storeItems(items));
    QVERIFY(finishedCleanly(fx->model.update(QStringLiteral("S"))));

    ReceiptItem done = items[2];
    done.in_work = false;
    QVERIFY(finishedCleanly(fx->model.insert(&done)));
    QCOMPARE(
        column(fx->model, ReceiptItemModel::inWorkRole), QStringLiteral("true true false true"));

    ReceiptItem deleted = items[1];
    deleted.deleted_at = 4102444800; // past 2038: must not read as "not deleted"
    fx->takeChanges();
    QVERIFY(finishedCleanly(fx->model.insert(&deleted)));
    QCOMPARE(fx->takeChanges(), QStringLiteral("removed 1"));
    QCOMPARE(column(fx->model, ReceiptItemModel::uuidRole), QStringLiteral("i0 i2 i3"));
    for (const QString &uuid : { QStringLiteral("i0"), QStringLiteral("i2"), QStringLiteral("i3") })
        QCOMPARE(fx->model.byUuid(uuid).uuid, uuid);
    QVERIFY(!fx->model.byUuid(QStringLiteral("i1")).isValid());

    ReceiptItem unknownDeleted = makeItem(QStringLiteral("i9"), QStringLiteral("r"), 9);
    unknownDeleted.deleted_at = 5;
    QVERIFY(finishedCleanly(fx->model.insert(&unknownDeleted)));
    QCOMPARE(fx->takeChanges(), QStringLiteral("inserted 3"));
    QCOMPARE(column(fx->model, ReceiptItemModel::uuidRole), QStringLiteral("i0 i2 i3 i9"));
    QCOMPARE(fx->model.byUuid(QStringLiteral("i9")).menu_id, 9);

    // Deleted items are stored as such, so a reload leaves them out.
    QVERIFY(finishedCleanly(fx->model.update(QStringLiteral("S"))));
    QCOMPARE(fx->model.rowCount(), 3);
    QVERIFY(!fx->model.byUuid(QStringLiteral("i1")).isValid());
    QVERIFY(!fx->model.byUuid(QStringLiteral("i9")).isValid());

    LogCapture log;
    Receipt other;
    QVERIFY(finishedCleanly(fx->model.insert(&other)));
    QCOMPARE(fx->model.rowCount(), 3);
    QCOMPARE(log.atLevel(3).size(), 1);
}

void TestReceiptItemModel::listInsertRemovesRowsDeletedBefore()
{
    ReceiptItem a = makeItem(QStringLiteral("a"), QStringLiteral("r"), 1);
    ReceiptItem b = makeItem(QStringLiteral("b"), QStringLiteral("r"), 2);
    b.deleted_at = 7;
    ReceiptItem c = makeItem(QStringLiteral("c"), QStringLiteral("r"), 3);
    QVERIFY(finishedCleanly(fx->model.insert(QList<ReceiptItem *> { &a, &b, &c })));
    QCOMPARE(column(fx->model, ReceiptItemModel::uuidRole), QStringLiteral("a b c"));

    ReceiptItem bAgain = makeItem(QStringLiteral("b"), QStringLiteral("r"), 20);
    ReceiptItem aAgain = makeItem(QStringLiteral("a"), QStringLiteral("r"), 10);
    fx->takeChanges();
    QVERIFY(finishedCleanly(fx->model.insert(QList<ReceiptItem *> { &bAgain, &aAgain })));
    QCOMPARE(fx->takeChanges(), QStringLiteral("removed 1, changed 0"));
    QCOMPARE(column(fx->model, ReceiptItemModel::menuIdRole), QStringLiteral("10 3"));
    QCOMPARE(fx->model.byUuid(QStringLiteral("c")).menu_id, 3);
    // Every item of the list is written, kept in the model or not.
    QCOMPARE(TestDatabase::textColumn(
                 QStringLiteral("SELECT menu_id FROM receipt_item WHERE uuid = 'b'")),
        QStringList { QStringLiteral("20") });
}

void TestReceiptItemModel::roles()
{
    ReceiptItem item = makeItem(QStringLiteral("i"), QStringLiteral("r"), 4);
    item.quantity = 1.5;
    item.comment = QStringLiteral("no salt");
    item.created_at = 4102444800;
    QVERIFY(storeItems({ item }));
    QVERIFY(finishedCleanly(fx->model.update(QStringLiteral("S"))));
    QCOMPARE(firstRowRoles(fx->model),
        QStringLiteral("256=: idRole=int:4 uuid=QString:i menuId=int:4 receiptUuidRole=QString:r "
                       "quantity=double:1.5 comment=QString:no salt inWork=bool:true "
                       "createdAtRole=qlonglong:4102444800 updatedAtRole=qlonglong:0 "
                       "deletedAtRole=qlonglong:0 statusRole=QString:cooking 268=:"));
}

void TestReceiptItemModel::lookups()
{
    QVERIFY(storeItems({ makeItem(QStringLiteral("i1"), QStringLiteral("r"), 1),
        makeItem(QStringLiteral("i2"), QStringLiteral("r"), 2),
        makeItem(QStringLiteral("i3"), QStringLiteral("x"), 3) }));
    QVERIFY(finishedCleanly(fx->model.update(QStringLiteral("S"))));
    QCOMPARE(fx->model.listItemsByReceiptUuid(QStringLiteral("r")).size(), 2);
    QVERIFY(fx->model.listItemsByReceiptUuid(QStringLiteral("R")).isEmpty());
    fx->model.updateIndexUuid(QStringLiteral("unknown"));
    QCOMPARE(fx->model.byUuid(QStringLiteral("i2")).menu_id, 2);
}

void TestReceiptItemModel::failedReloadKeepsRows()
{
    QVERIFY(storeItems({ makeItem(QStringLiteral("i1"), QStringLiteral("r"), 1) }));
    QVERIFY(finishedCleanly(fx->model.update(QStringLiteral("S"))));
    QVERIFY(TestDatabase::exec(QStringLiteral("DROP TABLE receipt_item")));
    LogCapture log;
    QVERIFY(finishedCleanly(fx->model.update(QStringLiteral("S"))));
    QCOMPARE(fx->model.byUuid(QStringLiteral("i1")).menu_id, 1);
    QCOMPARE(fx->resets.count(), 1);
    QCOMPARE(log.atLevel(3).size(), 1);
    QCOMPARE(log.atLevel(3).first().file, QStringLiteral("receiptitemmodel.cpp"));
}

void TestReceiptItemModel::removeOldEntityIgnoresAge()
{
    ReceiptItem deleted = makeItem(QStringLiteral("deleted"), QStringLiteral("r"), 2);
    deleted.deleted_at = daysAgo(0);
    QVERIFY(storeItems({ makeItem(QStringLiteral("kept"), QStringLiteral("r"), 1), deleted,
        makeItem(QStringLiteral("orphan"), QStringLiteral("gone"), 3) }));
    QVERIFY(finishedCleanly(fx->model.removeOldEntity(1000)));
    QCOMPARE(storedUuids(QStringLiteral("receipt_item")), QStringLiteral("kept"));
    QCOMPARE(fx->resets.count(), 0);
}

void TestReceiptItemModel::pushDuringReloadIsKept()
{
    QVERIFY(storeItems({ makeItem(QStringLiteral("i1"), QStringLiteral("r"), 1),
        makeItem(QStringLiteral("i2"), QStringLiteral("r"), 2) }));
    QVERIFY(finishedCleanly(fx->model.update(QStringLiteral("S"))));

    const SerialPool serial;
    const VoidFuture reload = fx->model.update(QStringLiteral("S"));
    ReceiptItem done = makeItem(QStringLiteral("i1"), QStringLiteral("r"), 1);
    done.in_work = false;
    ReceiptItem deleted = makeItem(QStringLiteral("i2"), QStringLiteral("r"), 2);
    deleted.deleted_at = 9;
    ReceiptItem added = makeItem(QStringLiteral("i3"), QStringLiteral("r"), 3);
    const VoidFuture writes[]
        = { fx->model.insert(&done), fx->model.insert(&deleted), fx->model.insert(&added) };
    QVERIFY(finishedCleanly(reload));
    for (const VoidFuture &write : writes)
        QVERIFY(finishedCleanly(write));
    QCOMPARE(column(fx->model, ReceiptItemModel::uuidRole), QStringLiteral("i1 i3"));
    QCOMPARE(column(fx->model, ReceiptItemModel::inWorkRole), QStringLiteral("false true"));
    QCOMPARE(fx->model.byUuid(QStringLiteral("i3")).menu_id, 3);
}

QTEST_GUILESS_MAIN(TestReceiptItemModel)
#include "tst_receiptitemmodel.moc"
