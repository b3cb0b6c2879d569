#include "models/receiptmodel.h"

#include "logcapture.h"
#include "modelhelpers.h"
#include "shared/dbexception.h"
#include "testdatabase.h"
#include "testenvironment.h"

#include <QSignalSpy>
#include <QSqlQuery>
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

class ProbeReceiptModel : public ReceiptModel
{
public:
    QModelIndex rowIndex(int row) const { return createIndex(row, 0); }
};

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
    void listInsertHandsFailureToCaller();
    void roles_data();
    void roles();
    void lookups();
    void failedReloadKeepsRows();
    void removeOldEntity();
    void pushDuringReloadIsKept();

private:
    std::unique_ptr<TestDatabase> database;
    std::unique_ptr<ProbeReceiptModel> model;
    std::unique_ptr<QSignalSpy> resets;
};

void TestReceiptModel::initTestCase()
{
    TestEnvironment::init();
}

void TestReceiptModel::init()
{
    database = std::make_unique<TestDatabase>();
    model = std::make_unique<ProbeReceiptModel>();
    resets = std::make_unique<QSignalSpy>(model.get(), &QAbstractItemModel::modelReset);
    QVERIFY(resets->isValid());
}

void TestReceiptModel::cleanup()
{
    resets.reset();
    model.reset();
    database.reset();
}

void TestReceiptModel::reloadFiltersByShiftAndDeletion()
{
    Receipt deleted
        = makeReceipt(QStringLiteral("r2"), QStringLiteral("it's"), QStringLiteral("o"));
    deleted.deleted_at = 5;
    QVERIFY(storeReceipts(
        { makeReceipt(QStringLiteral("r1"), QStringLiteral("it's"), QStringLiteral("o")), deleted,
            makeReceipt(QStringLiteral("r3"), QStringLiteral("other"), QStringLiteral("o")) }));
    QVERIFY(finishedCleanly(model->update(QStringLiteral("it's"))));
    QCOMPARE(column(*model, ReceiptModel::uuidRole), QStringLiteral("r1"));
    QVERIFY(finishedCleanly(model->update(QStringLiteral("none"))));
    QCOMPARE(model->rowCount(), 0);
    QCOMPARE(resets->count(), 2);
}

void TestReceiptModel::pushesNeverRemove()
{
    QVERIFY(storeReceipts(
        { makeReceipt(QStringLiteral("r1"), QStringLiteral("S"), QStringLiteral("o1")),
            makeReceipt(QStringLiteral("r2"), QStringLiteral("S"), QStringLiteral("o2")) }));
    QVERIFY(finishedCleanly(model->update(QStringLiteral("S"))));

    Receipt deleted = makeReceipt(QStringLiteral("r1"), QStringLiteral("S"), QStringLiteral("o1"));
    deleted.deleted_at = 1700000999;
    QVERIFY(finishedCleanly(model->insert(&deleted)));
    QCOMPARE(column(*model, ReceiptModel::deleteAtRole), QStringLiteral("1700000999 0"));
    QCOMPARE(model->indexOf(QStringLiteral("r1")), 0);

    Receipt added = makeReceipt(QStringLiteral("r3"), QStringLiteral("S"), QStringLiteral("o1"));
    added.deleted_at = 1700000999;
    QVERIFY(finishedCleanly(model->insert(&added)));
    QCOMPARE(column(*model, ReceiptModel::uuidRole), QStringLiteral("r1 r2 r3"));
    QCOMPARE(model->indexOf(QStringLiteral("r3")), 2);

    // The deleted receipts leave with the next reload.
    QVERIFY(finishedCleanly(model->update(QStringLiteral("S"))));
    QCOMPARE(column(*model, ReceiptModel::uuidRole), QStringLiteral("r2"));

    LogCapture log;
    ReceiptItem other;
    const VoidFuture refused = model->insert(&other);
    QVERIFY(refused.isFinished());
    QCOMPARE(model->rowCount(), 1);
    QCOMPARE(log.atLevel(3).size(), 1);
}

void TestReceiptModel::listInsertHandsFailureToCaller()
{
    Receipt a = makeReceipt(QStringLiteral("a"), QStringLiteral("S"), QStringLiteral("o"));
    Receipt b = makeReceipt(QStringLiteral("b"), QStringLiteral("S"), QStringLiteral("o"));
    QVERIFY(finishedCleanly(model->insert(QList<Receipt *> { &a, &b })));
    QCOMPARE(resets->count(), 1);
    QCOMPARE(countRows(QStringLiteral("receipt")), 2);

    QVERIFY(QSqlQuery().exec(QStringLiteral("DROP TABLE receipt")));
    LogCapture log;
    Receipt c = makeReceipt(QStringLiteral("c"), QStringLiteral("S"), QStringLiteral("o"));
    VoidFuture failing = model->insert(QList<Receipt *> { &c });
    QVERIFY(waitFor(failing));
    QVERIFY_THROWS_EXCEPTION(DBException, failing.waitForFinished());
    QCOMPARE(model->rowCount(), 3);
    QVERIFY(log.atLevel(3).isEmpty());
}

void TestReceiptModel::roles_data()
{
    QTest::addColumn<int>("role");
    QTest::addColumn<QVariant>("expected");
    QTest::newRow("id") << 257 << QVariant(1);
    QTest::newRow("uuid") << 258 << QVariant(QStringLiteral("r"));
    QTest::newRow("no field 259") << 259 << QVariant(QString());
    QTest::newRow("shift") << 260 << QVariant(QStringLiteral("S"));
    QTest::newRow("order") << 261 << QVariant(QStringLiteral("o"));
    QTest::newRow("no field 262") << 262 << QVariant(QString());
    QTest::newRow("open date") << 263 << QVariant(qlonglong(1700000000));
    QTest::newRow("close date") << 264 << QVariant(qlonglong(4102444800));
    QTest::newRow("deleted") << 265 << QVariant(qlonglong(0));
    QTest::newRow("user") << 266 << QVariant(-3);
    QTest::newRow("paid") << 267 << QVariant(true);
    QTest::newRow("above") << 300 << QVariant(QString());
}

void TestReceiptModel::roles()
{
    QFETCH(int, role);
    QFETCH(QVariant, expected);
    Receipt receipt = makeReceipt(QStringLiteral("r"), QStringLiteral("S"), QStringLiteral("o"));
    receipt.closed_at = 4102444800;
    receipt.created_by = -3;
    receipt.is_paid = true;
    QVERIFY(finishedCleanly(model->insert(&receipt)));
    const QVariant value = model->index(0, 0).data(role);
    QCOMPARE(value, expected);
    QCOMPARE(value.typeId(), expected.typeId());
    QVERIFY(!model->data(model->rowIndex(-1), role).isValid());
    QVERIFY(!model->data(model->rowIndex(1), role).isValid());
    QCOMPARE(model->roleNames().size(), 9);
}

void TestReceiptModel::lookups()
{
    QVERIFY(!model->getPreviosByUuid(QStringLiteral("r1")).isValid());
    QList<Receipt> receipts;
    for (int i = 0; i < 4; ++i)
        receipts.append(makeReceipt(QStringLiteral("r%1").arg(i), QStringLiteral("S"),
            i < 3 ? QStringLiteral("o1") : QStringLiteral("o2")));
    QVERIFY(storeReceipts(receipts.mid(0, 1)));
    QVERIFY(finishedCleanly(model->update(QStringLiteral("S"))));
    QVERIFY(!model->getPreviosByUuid(QStringLiteral("r0")).isValid());

    QVERIFY(storeReceipts(receipts));
    QVERIFY(finishedCleanly(model->update(QStringLiteral("S"))));
    QCOMPARE(model->getPreviosByUuid(QStringLiteral("r0")).uuid, QStringLiteral("r1"));
    QCOMPARE(model->getPreviosByUuid(QStringLiteral("r2")).uuid, QStringLiteral("r1"));
    QCOMPARE(model->firstInOrder(QStringLiteral("o2")).uuid, QStringLiteral("r3"));
    QVERIFY(!model->firstInOrder(QStringLiteral("o3")).isValid());
    QCOMPARE(model->listReceiptByOrder(QStringLiteral("o1")).size(), 3);
    QVERIFY(model->listReceiptByOrder(QStringLiteral("O1")).isEmpty());
    QVERIFY(!model->byUuid(QStringLiteral("x")).isValid());
    QCOMPARE(model->indexOf(QStringLiteral("x")), -1);

    // A deleted receipt is not found as the anchor of the previous one.
    Receipt deleted = receipts[2];
    deleted.deleted_at = 9;
    QVERIFY(finishedCleanly(model->insert(&deleted)));
    QVERIFY(!model->getPreviosByUuid(QStringLiteral("r2")).isValid());
}

void TestReceiptModel::failedReloadKeepsRows()
{
    QVERIFY(storeReceipts(
        { makeReceipt(QStringLiteral("r1"), QStringLiteral("S"), QStringLiteral("o")) }));
    QVERIFY(finishedCleanly(model->update(QStringLiteral("S"))));
    QVERIFY(QSqlQuery().exec(QStringLiteral("DROP TABLE receipt")));
    LogCapture log;
    QVERIFY(finishedCleanly(model->update(QStringLiteral("S"))));
    QCOMPARE(model->indexOf(QStringLiteral("r1")), 0);
    QCOMPARE(resets->count(), 1);
    QCOMPARE(log.atLevel(3).size(), 1);
    QCOMPARE(log.atLevel(3).first().file, QStringLiteral("receiptmodel.cpp"));
}

void TestReceiptModel::removeOldEntity()
{
    QVERIFY(QSqlQuery().exec(
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

    QVERIFY(finishedCleanly(model->removeOldEntity(2)));
    QStringList uuids;
    QSqlQuery query(QStringLiteral("SELECT uuid FROM receipt ORDER BY uuid"));
    while (query.next())
        uuids.append(query.value(0).toString());
    QCOMPARE(uuids.join(QLatin1Char(',')), QStringLiteral("kept,new deleted"));
    QCOMPARE(resets->count(), 0);
}

void TestReceiptModel::pushDuringReloadIsKept()
{
    QVERIFY(storeReceipts(
        { makeReceipt(QStringLiteral("r1"), QStringLiteral("S"), QStringLiteral("o")) }));
    const SerialPool serial;
    const VoidFuture reload = model->update(QStringLiteral("S"));
    Receipt added = makeReceipt(QStringLiteral("r2"), QStringLiteral("S"), QStringLiteral("o"));
    QVERIFY(finishedCleanly(model->insert(&added)));
    QVERIFY(finishedCleanly(reload));
    QCOMPARE(column(*model, ReceiptModel::uuidRole), QStringLiteral("r1 r2"));
    QCOMPARE(model->indexOf(QStringLiteral("r2")), 1);
}

QTEST_GUILESS_MAIN(TestReceiptModel)
#include "tst_receiptmodel.moc"
