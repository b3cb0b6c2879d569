#include "models/receiptmodel.h"

#include "logcapture.h"
#include "modelhelpers.h"
#include "shared/dbexception.h"
#include "testenvironment.h"

#include <QTest>

using namespace ModelHelpers;

namespace {

Receipt makeReceipt(const QString &uuid, const QString &shiftUuid, const QString &orderUuid)
{
    Receipt receipt;
    receipt.id = 1;
    receipt.uuid = uuid;
    receipt.shift_uuid = shiftUuid;
    receipt.order_uuid = orderUuid;
    receipt.created_at = 1700000000;
    return receipt;
}

bool storeReceipts(const QList<Receipt> &receipts)
{
    return store(receipts, &EntitiesRepo::insertReceipt);
}

} // namespace

// The receipt model: reload of one shift, pushes that never remove, lookups and retention.
// QAbstractItemModelTester is not attached: the model answers every role without a field, Qt's
// own roles included, with an empty string, and the tester rejects that for the size hint.
class TestReceiptModel : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void init();
    void cleanup();

    void reloadFiltersByShiftAndDeletion();
    void pushesNeverRemove();
    void listInsertNeverShowsUnstoredRows();
    void roles();
    void lookups();
    void failedReloadKeepsRows();
    void removeOldEntity();
    void pushDuringReloadIsKept();

private:
    std::unique_ptr<ModelFixture<ReceiptModel>> fx;
};

void TestReceiptModel::initTestCase()
{
    TestEnvironment::init();
}

void TestReceiptModel::init()
{
    fx = std::make_unique<ModelFixture<ReceiptModel>>(false);
    QVERIFY(fx->resets.isValid());
}

void TestReceiptModel::cleanup()
{
    fx.reset();
}

void TestReceiptModel::reloadFiltersByShiftAndDeletion()
{
    Receipt deleted
        = makeReceipt(QStringLiteral("r2"), QStringLiteral("it's"), QStringLiteral("o"));
    deleted.deleted_at = 5;
    QVERIFY(storeReceipts(
        { makeReceipt(QStringLiteral("r1"), QStringLiteral("it's"), QStringLiteral("o")), deleted,
            makeReceipt(QStringLiteral("r3"), QStringLiteral("other"), QStringLiteral("o")) }));
    QVERIFY(finishedCleanly(fx->model.update(QStringLiteral("it's"))));
    QCOMPARE(column(fx->model, ReceiptModel::uuidRole), QStringLiteral("r1"));
    QVERIFY(finishedCleanly(fx->model.update(QStringLiteral("none"))));
    QCOMPARE(fx->model.rowCount(), 0);
    QCOMPARE(fx->resets.count(), 2);
}

void TestReceiptModel::pushesNeverRemove()
{
    QVERIFY(storeReceipts(
        { makeReceipt(QStringLiteral("r1"), QStringLiteral("S"), QStringLiteral("o1")),
            makeReceipt(QStringLiteral("r2"), QStringLiteral("S"), QStringLiteral("o2")) }));
    QVERIFY(finishedCleanly(fx->model.update(QStringLiteral("S"))));

    Receipt deleted = makeReceipt(QStringLiteral("r1"), QStringLiteral("S"), QStringLiteral("o1"));
    deleted.deleted_at = 1700000999;
    QVERIFY(finishedCleanly(fx->model.insert(&deleted)));
    QCOMPARE(column(fx->model, ReceiptModel::deleteAtRole), QStringLiteral("1700000999 0"));
    QCOMPARE(fx->model.indexOf(QStringLiteral("r1")), 0);

    Receipt added = makeReceipt(QStringLiteral("r3"), QStringLiteral("S"), QStringLiteral("o1"));
    added.deleted_at = 1700000999;
    QVERIFY(finishedCleanly(fx->model.insert(&added)));
    QCOMPARE(column(fx->model, ReceiptModel::uuidRole), QStringLiteral("r1 r2 r3"));
    QCOMPARE(fx->model.indexOf(QStringLiteral("r3")), 2);

    // The deleted receipts leave with the next reload.
    QVERIFY(finishedCleanly(fx->model.update(QStringLiteral("S"))));
    QCOMPARE(column(fx->model, ReceiptModel::uuidRole), QStringLiteral("r2"));

    LogCapture log;
    ReceiptItem other;
    const VoidFuture refused = fx->model.insert(&other);
    QVERIFY(refused.isFinished());
    QCOMPARE(fx->model.rowCount(), 1);
    QCOMPARE(log.atLevel(3).size(), 1);
}

void TestReceiptModel::listInsertNeverShowsUnstoredRows()
{
    Receipt a = makeReceipt(QStringLiteral("a"), QStringLiteral("S"), QStringLiteral("o"));
    Receipt b = makeReceipt(QStringLiteral("b"), QStringLiteral("S"), QStringLiteral("o"));
    QVERIFY(finishedCleanly(fx->model.insert(QList<Receipt *> { &a, &b })));
    QCOMPARE(fx->takeChanges(), QStringLiteral("inserted 0, inserted 1"));
    QCOMPARE(storedUuids(QStringLiteral("receipt")), QStringLiteral("a,b"));

    QVERIFY(TestDatabase::exec(QStringLiteral("DROP TABLE receipt")));
    LogCapture log;
    Receipt c = makeReceipt(QStringLiteral("c"), QStringLiteral("S"), QStringLiteral("o"));
    VoidFuture failing = fx->model.insert(QList<Receipt *> { &c });
    QVERIFY(waitFor(failing));
    QVERIFY_THROWS_EXCEPTION(DBException, failing.waitForFinished());
    // The receipt the database does not have is not shown.
    QCOMPARE(fx->model.rowCount(), 2);
    QVERIFY(log.atLevel(3).isEmpty());
}

void TestReceiptModel::roles()
{
    Receipt receipt = makeReceipt(QStringLiteral("r"), QStringLiteral("S"), QStringLiteral("o"));
    receipt.closed_at = 4102444800;
    receipt.created_by = -3;
    receipt.is_paid = true;
    QVERIFY(finishedCleanly(fx->model.insert(&receipt)));
    QCOMPARE(firstRowRoles(fx->model),
        QStringLiteral("256=QString: idRole=int:1 uuidRole=QString:r 259=QString: "
                       "shiftUuidRole=QString:S orderUuidRole=QString:o 262=QString: "
                       "openDateRole=qlonglong:1700000000 closeDateRole=qlonglong:4102444800 "
                       "deleteAtRole=qlonglong:0 userIdRole=int:-3 isPaidRole=bool:true "
                       "268=QString:"));
}

void TestReceiptModel::lookups()
{
    QVERIFY(!fx->model.getPreviosByUuid(QStringLiteral("r1")).isValid());
    QList<Receipt> receipts;
    for (int i = 0; i < 4; ++i)
        receipts.append(makeReceipt(QStringLiteral("r%1").arg(i), QStringLiteral("S"),
            i < 3 ? QStringLiteral("o1") : QStringLiteral("o2")));
    QVERIFY(storeReceipts(receipts.mid(0, 1)));
    QVERIFY(finishedCleanly(fx->model.update(QStringLiteral("S"))));
    QVERIFY(!fx->model.getPreviosByUuid(QStringLiteral("r0")).isValid());

    QVERIFY(storeReceipts(receipts));
    QVERIFY(finishedCleanly(fx->model.update(QStringLiteral("S"))));
    QCOMPARE(fx->model.getPreviosByUuid(QStringLiteral("r0")).uuid, QStringLiteral("r1"));
    QCOMPARE(fx->model.getPreviosByUuid(QStringLiteral("r2")).uuid, QStringLiteral("r1"));
    QCOMPARE(fx->model.firstInOrder(QStringLiteral("o2")).uuid, QStringLiteral("r3"));
    QVERIFY(!fx->model.firstInOrder(QStringLiteral("o3")).isValid());
    QCOMPARE(fx->model.listReceiptByOrder(QStringLiteral("o1")).size(), 3);
    QVERIFY(fx->model.listReceiptByOrder(QStringLiteral("O1")).isEmpty());
    QVERIFY(!fx->model.byUuid(QStringLiteral("x")).isValid());
    QCOMPARE(fx->model.indexOf(QStringLiteral("x")), -1);

    // A deleted receipt is not found as the anchor of the previous one.
    Receipt deleted = receipts[2];
    deleted.deleted_at = 9;
    QVERIFY(finishedCleanly(fx->model.insert(&deleted)));
    QVERIFY(!fx->model.getPreviosByUuid(QStringLiteral("r2")).isValid());
}

void TestReceiptModel::failedReloadKeepsRows()
{
    QVERIFY(storeReceipts(
        { makeReceipt(QStringLiteral("r1"), QStringLiteral("S"), QStringLiteral("o")) }));
    QVERIFY(finishedCleanly(fx->model.update(QStringLiteral("S"))));
    QVERIFY(TestDatabase::exec(QStringLiteral("DROP TABLE receipt")));
    LogCapture log;
    QVERIFY(finishedCleanly(fx->model.update(QStringLiteral("S"))));
    QCOMPARE(fx->model.indexOf(QStringLiteral("r1")), 0);
    QCOMPARE(fx->resets.count(), 1);
    QCOMPARE(log.atLevel(3).size(), 1);
    QCOMPARE(log.atLevel(3).first().file, QStringLiteral("receiptmodel.cpp"));
}

void TestReceiptModel::removeOldEntity()
{
    QVERIFY(TestDatabase::exec(
        QStringLiteral("INSERT INTO 'order' (uuid, shift_uuid) VALUES ('o1', 'S')")));
    Receipt orphan
        = makeReceipt(QStringLiteral("orphan"), QStringLiteral("S"), QStringLiteral("gone"));
    Receipt oldDeleted
        = makeReceipt(QStringLiteral("old deleted"), QStringLiteral("S"), QStringLiteral("o1"));
    oldDeleted.created_at = daysAgo(3);
    oldDeleted.deleted_at = daysAgo(1);
    Receipt newDeleted
        = makeReceipt(QStringLiteral("new deleted"), QStringLiteral("S"), QStringLiteral("o1"));
    newDeleted.created_at = daysAgo(1);
    newDeleted.deleted_at = daysAgo(1);
    Receipt kept = makeReceipt(QStringLiteral("kept"), QStringLiteral("S"), QStringLiteral("o1"));
    kept.created_at = daysAgo(3);
    QVERIFY(storeReceipts({ orphan, oldDeleted, newDeleted, kept }));

    QVERIFY(finishedCleanly(fx->model.removeOldEntity(2)));
    QCOMPARE(storedUuids(QStringLiteral("receipt")), QStringLiteral("kept,new deleted"));
    QCOMPARE(fx->resets.count(), 0);
}

void TestReceiptModel::pushDuringReloadIsKept()
{
    QVERIFY(storeReceipts(
        { makeReceipt(QStringLiteral("r1"), QStringLiteral("S"), QStringLiteral("o")) }));
    const SerialPool serial;
    const VoidFuture reload = fx->model.update(QStringLiteral("S"));
    Receipt added = makeReceipt(QStringLiteral("r2"), QStringLiteral("S"), QStringLiteral("o"));
    QVERIFY(finishedCleanly(fx->model.insert(&added)));
    QVERIFY(finishedCleanly(reload));
    QCOMPARE(column(fx->model, ReceiptModel::uuidRole), QStringLiteral("r1 r2"));
    QCOMPARE(fx->model.indexOf(QStringLiteral("r2")), 1);
}

QTEST_GUILESS_MAIN(TestReceiptModel)
#include "tst_receiptmodel.moc"
