#include "models/ordermodel.h"

#include "logcapture.h"
#include "modelhelpers.h"
#include "testdatabase.h"
#include "testenvironment.h"

#include <QSignalSpy>
#include <QSqlQuery>
#include <QTest>
#include <QThread>

using namespace ModelHelpers;

namespace {

Order makeOrder(const QString &uuid, const QString &shiftUuid, int number)
{
    Order order;
    order.id = number;
    order.uuid = uuid;
    order.shift_uuid = shiftUuid;
    order.number = number;
    order.status = QStringLiteral("created");
    order.created_at = 1700000000 + number;
    return order;
}

// Reaches indexes outside the rows, which index() never hands out.
class ProbeOrderModel : public OrderModel
{
public:
    QModelIndex rowIndex(int row) const { return createIndex(row, 0); }
};

bool storeOrders(const QList<Order> &orders)
{
    return store(orders, &EntitiesRepo::insertOrder);
}

} // namespace

// The order model over a real migrated database: reloads, pushes, lookups and retention.
// QAbstractItemModelTester is not attached: the model answers every role without a field, Qt's
// own roles included, with an empty string, and the tester rejects that for the size hint.
class TestOrderModel : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void init();
    void cleanup();

    void reloadFiltersByShiftAndDeletion();
    void reloadOfShiftWithoutOrdersIsEmpty_data();
    void reloadOfShiftWithoutOrdersIsEmpty();
    void reloadKeepsTrickyValues();
    void resetHappensOnModelThread();
    void roles_data();
    void roles();
    void roleNames();
    void pushReplacesRowInPlace();
    void pushDeletedRemovesRowAndRenumbersIndex();
    void pushUnknownAppends_data();
    void pushUnknownAppends();
    void pushOfAnotherEntityIsRefused();
    void lookups();
    void previousByUuid();
    void failedReloadKeepsRows();
    void failedWriteKeepsPushedRow();
    void removeOldEntity();
    void pushDuringReloadIsKept();
    void deletionPushedDuringReloadIsKept();
    void staleReloadDoesNotOverwriteNewer();

private:
    std::unique_ptr<TestDatabase> database;
    std::unique_ptr<ProbeOrderModel> model;
    std::unique_ptr<QSignalSpy> resets;
};

void TestOrderModel::initTestCase()
{
    TestEnvironment::init();
}

void TestOrderModel::init()
{
    database = std::make_unique<TestDatabase>();
    model = std::make_unique<ProbeOrderModel>();
    resets = std::make_unique<QSignalSpy>(model.get(), &QAbstractItemModel::modelReset);
    QVERIFY(resets->isValid());
}

void TestOrderModel::cleanup()
{
    resets.reset();
    model.reset();
    database.reset();
}

void TestOrderModel::reloadFiltersByShiftAndDeletion()
{
    Order closed = makeOrder(QStringLiteral("a2"), QStringLiteral("A"), 2);
    closed.is_closed = true;
    closed.closed_at = 1700000100;
    Order deleted = makeOrder(QStringLiteral("a3"), QStringLiteral("A"), 3);
    deleted.deleted_at = 1700000200;
    QVERIFY(storeOrders({ makeOrder(QStringLiteral("a1"), QStringLiteral("A"), 1), closed, deleted,
        makeOrder(QStringLiteral("b1"), QStringLiteral("B"), 4) }));

    QVERIFY(finishedCleanly(model->update(QStringLiteral("A"))));
    QCOMPARE(resets->count(), 1);
    QCOMPARE(column(*model, OrderModel::uuidRole), QStringLiteral("a1 a2"));
    QCOMPARE(model->indexOf(QStringLiteral("a2")), 1);

    QVERIFY(finishedCleanly(model->update(QStringLiteral("B"))));
    QCOMPARE(resets->count(), 2);
    QCOMPARE(column(*model, OrderModel::uuidRole), QStringLiteral("b1"));
    QCOMPARE(model->indexOf(QStringLiteral("a1")), -1);
}

void TestOrderModel::reloadOfShiftWithoutOrdersIsEmpty_data()
{
    QTest::addColumn<QString>("shiftUuid");
    QTest::newRow("unknown shift") << QStringLiteral("none");
    QTest::newRow("empty uuid") << QString();
}

void TestOrderModel::reloadOfShiftWithoutOrdersIsEmpty()
{
    QFETCH(QString, shiftUuid);
    QVERIFY(storeOrders({ makeOrder(QStringLiteral("a1"), QStringLiteral("A"), 1) }));
    QVERIFY(finishedCleanly(model->update(QStringLiteral("A"))));
    QCOMPARE(model->rowCount(), 1);
    QVERIFY(finishedCleanly(model->update(shiftUuid)));
    QCOMPARE(resets->count(), 2);
    QCOMPARE(model->rowCount(), 0);
}

void TestOrderModel::reloadKeepsTrickyValues()
{
    const QString shift = QStringLiteral("it's %1");
    Order order = makeOrder(QStringLiteral("o'1"), shift, -5);
    order.comment = QStringLiteral("'%2' \"x\"");
    order.client_uuid = QString();
    order.table_id = 0;
    order.created_by = -1;
    QVERIFY(storeOrders({ order, makeOrder(QStringLiteral("x"), QStringLiteral("it"), 1) }));

    QVERIFY(finishedCleanly(model->update(shift)));
    QCOMPARE(model->rowCount(), 1);
    const Order loaded = model->byUuid(QStringLiteral("o'1"));
    QCOMPARE(loaded.toJson(), order.toJson());
}

void TestOrderModel::resetHappensOnModelThread()
{
    QVERIFY(storeOrders({ makeOrder(QStringLiteral("a1"), QStringLiteral("A"), 1) }));
    QThread *resetThread = nullptr;
    int rowsAtReset = -1;
    connect(model.get(), &QAbstractItemModel::modelReset, model.get(), [&] {
        resetThread = QThread::currentThread();
        rowsAtReset = model->rowCount();
    });
    const VoidFuture reload = model->update(QStringLiteral("A"));
    QVERIFY(finishedCleanly(reload));
    QCOMPARE(resetThread, QThread::currentThread());
    QCOMPARE(rowsAtReset, 1);
}

void TestOrderModel::roles_data()
{
    QTest::addColumn<int>("role");
    QTest::addColumn<QVariant>("expected");

    QTest::newRow("id") << 257 << QVariant(11);
    QTest::newRow("uuid") << 258 << QVariant(QStringLiteral("o1"));
    QTest::newRow("number") << 259 << QVariant(11);
    QTest::newRow("no field 260") << 260 << QVariant(QString());
    QTest::newRow("shift uuid") << 261 << QVariant(QStringLiteral("A"));
    QTest::newRow("no field 262") << 262 << QVariant(QString());
    QTest::newRow("open date") << 263 << QVariant(qlonglong(4102444800));
    QTest::newRow("close date") << 264 << QVariant(qlonglong(1700000500));
    QTest::newRow("user") << 265 << QVariant(6);
    QTest::newRow("client id") << 266 << QVariant(8);
    QTest::newRow("client uuid") << 267 << QVariant(QStringLiteral("c"));
    QTest::newRow("status") << 268 << QVariant(QStringLiteral("packaged"));
    QTest::newRow("comment") << 269 << QVariant(QStringLiteral("hot"));
    QTest::newRow("table") << 270 << QVariant(4);
    QTest::newRow("guests") << 271 << QVariant(3);
    QTest::newRow("paid") << 272 << QVariant(true);
    QTest::newRow("closed, by number only") << 273 << QVariant(true);
    QTest::newRow("no field 274") << 274 << QVariant(QString());
    QTest::newRow("no field 275") << 275 << QVariant(QString());
    QTest::newRow("deleted") << 276 << QVariant(qlonglong(0));
    QTest::newRow("above") << 300 << QVariant(QString());
    QTest::newRow("display") << int(Qt::DisplayRole) << QVariant(QString());
}

void TestOrderModel::roles()
{
    QFETCH(int, role);
    QFETCH(QVariant, expected);

    Order order = makeOrder(QStringLiteral("o1"), QStringLiteral("A"), 11);
    order.created_at = 4102444800;
    order.closed_at = 1700000500;
    order.created_by = 6;
    order.client_id = 8;
    order.client_uuid = QStringLiteral("c");
    order.status = QStringLiteral("packaged");
    order.comment = QStringLiteral("hot");
    order.table_id = 4;
    order.number_guests = 3;
    order.is_paid = true;
    order.is_closed = true;
    QVERIFY(finishedCleanly(model->insert(&order)));

    const QVariant value = model->index(0, 0).data(role);
    QCOMPARE(value, expected);
    QCOMPARE(value.typeId(), expected.typeId());
    // Outside the rows every role is invalid.
    QVERIFY(!model->data(QModelIndex(), role).isValid());
    QVERIFY(!model->data(model->rowIndex(-1), role).isValid());
    QVERIFY(!model->data(model->rowIndex(1), role).isValid());
}

void TestOrderModel::roleNames()
{
    const QHash<int, QByteArray> names = model->roleNames();
    QCOMPARE(names.size(), 15);
    QCOMPARE(names.value(257), QByteArray("idRole"));
    QCOMPARE(names.value(268), QByteArray("statusNameRole"));
    QCOMPARE(names.value(276), QByteArray("deleteAtRole"));
    QVERIFY(!names.contains(273));
    QVERIFY(!names.contains(260));
}

void TestOrderModel::pushReplacesRowInPlace()
{
    QVERIFY(storeOrders({ makeOrder(QStringLiteral("a1"), QStringLiteral("A"), 1),
        makeOrder(QStringLiteral("a2"), QStringLiteral("A"), 2) }));
    QVERIFY(finishedCleanly(model->update(QStringLiteral("A"))));

    Order pushed = makeOrder(QStringLiteral("a1"), QStringLiteral("A"), 9);
    pushed.status = QStringLiteral("given");
    pushed.comment = QStringLiteral("it's");
    QVERIFY(finishedCleanly(model->insert(&pushed)));
    QCOMPARE(resets->count(), 2);
    QCOMPARE(column(*model, OrderModel::numberRole), QStringLiteral("9 2"));
    QCOMPARE(model->byUuid(QStringLiteral("a1")).toJson(), pushed.toJson());
    QCOMPARE(model->indexOf(QStringLiteral("a1")), 0);
    QCOMPARE(model->indexOf(QStringLiteral("a2")), 1);

    // The write reached the table.
    QSqlQuery query(QStringLiteral("SELECT number, comment FROM 'order' WHERE uuid = 'a1'"));
    QVERIFY(query.next());
    QCOMPARE(query.value(0).toInt(), 9);
    QCOMPARE(query.value(1).toString(), QStringLiteral("it's"));
}

void TestOrderModel::pushDeletedRemovesRowAndRenumbersIndex()
{
    QList<Order> orders;
    for (int i = 0; i < 5; ++i)
        orders.append(makeOrder(QStringLiteral("a%1").arg(i), QStringLiteral("A"), i));
    QVERIFY(storeOrders(orders));
    QVERIFY(finishedCleanly(model->update(QStringLiteral("A"))));

    Order deleted = orders[1];
    deleted.deleted_at = 1700000999;
    QVERIFY(finishedCleanly(model->insert(&deleted)));
    QCOMPARE(column(*model, OrderModel::uuidRole), QStringLiteral("a0 a2 a3 a4"));
    QCOMPARE(model->indexOf(QStringLiteral("a1")), -1);
    QVERIFY(!model->byUuid(QStringLiteral("a1")).isValid());
    for (int row = 0; row < model->rowCount(); ++row) {
        const QString uuid = model->at(row).uuid;
        QCOMPARE(model->indexOf(uuid), row);
        QCOMPARE(model->byUuid(uuid).uuid, uuid);
    }
    // The deletion is stored, so the next reload leaves the order out too.
    QVERIFY(finishedCleanly(model->update(QStringLiteral("A"))));
    QCOMPARE(column(*model, OrderModel::uuidRole), QStringLiteral("a0 a2 a3 a4"));
}

void TestOrderModel::pushUnknownAppends_data()
{
    QTest::addColumn<QString>("shiftUuid");
    QTest::addColumn<qint64>("deletedAt");
    QTest::newRow("same shift") << QStringLiteral("A") << qint64(0);
    QTest::newRow("other shift") << QStringLiteral("B") << qint64(0);
    QTest::newRow("deleted") << QStringLiteral("A") << qint64(1700000999);
}

void TestOrderModel::pushUnknownAppends()
{
    QFETCH(QString, shiftUuid);
    QFETCH(qint64, deletedAt);
    QVERIFY(storeOrders({ makeOrder(QStringLiteral("a1"), QStringLiteral("A"), 1) }));
    QVERIFY(finishedCleanly(model->update(QStringLiteral("A"))));

    Order pushed = makeOrder(QStringLiteral("new"), shiftUuid, 50);
    pushed.deleted_at = deletedAt;
    QVERIFY(finishedCleanly(model->insert(&pushed)));
    QCOMPARE(column(*model, OrderModel::uuidRole), QStringLiteral("a1 new"));
    QCOMPARE(model->indexOf(QStringLiteral("new")), 1);
    QCOMPARE(countRows(QStringLiteral("order")), 2);
}

void TestOrderModel::pushOfAnotherEntityIsRefused()
{
    LogCapture log;
    Shift shift;
    shift.uuid = QStringLiteral("s");
    const VoidFuture refused = model->insert(&shift);
    QVERIFY(refused.isFinished());
    QVERIFY(finishedCleanly(refused));
    QVERIFY(finishedCleanly(model->insert(nullptr)));
    QCOMPARE(resets->count(), 0);
    QCOMPARE(model->rowCount(), 0);
    QCOMPARE(log.atLevel(3).size(), 2);
    QCOMPARE(countRows(QStringLiteral("order")), 0);
}

void TestOrderModel::lookups()
{
    QVERIFY(!model->byUuid(QStringLiteral("x")).isValid());
    QCOMPARE(model->indexOf(QStringLiteral("x")), -1);
    QVERIFY(!model->at(0).isValid());

    QVERIFY(storeOrders({ makeOrder(QStringLiteral("a1"), QStringLiteral("A"), 1) }));
    QVERIFY(finishedCleanly(model->update(QStringLiteral("A"))));
    QCOMPARE(model->at(0).uuid, QStringLiteral("a1"));
    QVERIFY(!model->at(-1).isValid());
    QVERIFY(!model->at(model->rowCount()).isValid());
    QVERIFY(!model->byUuid(QStringLiteral("A1")).isValid());
    QCOMPARE(OrderModel::tableName(), QStringLiteral("order"));
}

void TestOrderModel::previousByUuid()
{
    QVERIFY(storeOrders({ makeOrder(QStringLiteral("a0"), QStringLiteral("A"), 0) }));
    QVERIFY(finishedCleanly(model->update(QStringLiteral("A"))));
    QVERIFY(!model->getPreviousByUuid(QStringLiteral("a0")).isValid());

    QList<Order> orders;
    for (int i = 1; i < 5; ++i)
        orders.append(makeOrder(QStringLiteral("a%1").arg(i), QStringLiteral("A"), i));
    QVERIFY(storeOrders(orders));
    QVERIFY(finishedCleanly(model->update(QStringLiteral("A"))));
    QCOMPARE(model->getPreviousByUuid(QStringLiteral("a0")).uuid, QStringLiteral("a1"));
    QCOMPARE(model->getPreviousByUuid(QStringLiteral("a3")).uuid, QStringLiteral("a2"));
    QVERIFY(!model->getPreviousByUuid(QStringLiteral("zz")).isValid());
}

void TestOrderModel::failedReloadKeepsRows()
{
    QVERIFY(storeOrders({ makeOrder(QStringLiteral("a1"), QStringLiteral("A"), 1) }));
    QVERIFY(finishedCleanly(model->update(QStringLiteral("A"))));
    QVERIFY(QSqlQuery().exec(QStringLiteral("DROP TABLE 'order'")));

    LogCapture log;
    QVERIFY(finishedCleanly(model->update(QStringLiteral("A"))));
    QCOMPARE(resets->count(), 1);
    QCOMPARE(column(*model, OrderModel::uuidRole), QStringLiteral("a1"));
    QCOMPARE(model->indexOf(QStringLiteral("a1")), 0);
    const QList<LogCapture::Entry> critical = log.atLevel(3);
    QCOMPARE(critical.size(), 1);
    QCOMPARE(critical.first().file, QStringLiteral("ordermodel.cpp"));
    QCOMPARE(critical.first().function, QStringLiteral("operator()"));
    QVERIFY(critical.first().message.contains(QStringLiteral("no such table")));
}

void TestOrderModel::failedWriteKeepsPushedRow()
{
    QVERIFY(QSqlQuery().exec(QStringLiteral("DROP TABLE 'order'")));
    LogCapture log;
    Order pushed = makeOrder(QStringLiteral("p"), QStringLiteral("A"), 1);
    QVERIFY(finishedCleanly(model->insert(&pushed)));
    QCOMPARE(column(*model, OrderModel::uuidRole), QStringLiteral("p"));
    QCOMPARE(log.atLevel(3).size(), 1);
}

void TestOrderModel::removeOldEntity()
{
    QSqlQuery query;
    QVERIFY(query.exec(QStringLiteral("INSERT INTO shift (uuid, type, number, created_at, "
                                      "closed_at) VALUES ('old', 'general', 1, 1, %1), "
                                      "('recent', 'general', 2, 1, %2), ('open', 'general', 3, "
                                      "1, NULL)")
                           .arg(daysAgo(3))
                           .arg(daysAgo(1))));
    auto order = [](const QString &uuid, const QString &shift, qint64 closedAt, qint64 createdAt,
                     qint64 deletedAt) {
        Order o = makeOrder(uuid, shift, 1);
        o.closed_at = closedAt;
        o.created_at = createdAt;
        o.deleted_at = deletedAt;
        return o;
    };
    QVERIFY(storeOrders({
        order(QStringLiteral("gone closed"), QStringLiteral("old"), daysAgo(3), daysAgo(4), 0),
        order(QStringLiteral("closed recently"), QStringLiteral("old"), daysAgo(1), daysAgo(4), 0),
        order(QStringLiteral("shift recent"), QStringLiteral("recent"), daysAgo(3), daysAgo(4), 0),
        order(QStringLiteral("open"), QStringLiteral("old"), 0, daysAgo(4), 0),
        order(QStringLiteral("gone deleted"), QStringLiteral("open"), 0, daysAgo(3), daysAgo(1)),
        order(
            QStringLiteral("deleted recently"), QStringLiteral("open"), 0, daysAgo(1), daysAgo(1)),
    }));
    QVERIFY(finishedCleanly(model->update(QStringLiteral("old"))));
    const int rowsBefore = model->rowCount();

    QVERIFY(finishedCleanly(model->removeOldEntity(2)));
    QStringList left;
    QVERIFY(query.exec(QStringLiteral("SELECT uuid FROM 'order' ORDER BY uuid")));
    while (query.next())
        left.append(query.value(0).toString());
    QCOMPARE(left.join(QLatin1Char(',')),
        QStringLiteral("closed recently,deleted recently,open,shift recent"));
    // The model is not touched.
    QCOMPARE(resets->count(), 1);
    QCOMPARE(model->rowCount(), rowsBefore);
}

void TestOrderModel::pushDuringReloadIsKept()
{
    QVERIFY(storeOrders({ makeOrder(QStringLiteral("a1"), QStringLiteral("A"), 1) }));
    QVERIFY(finishedCleanly(model->update(QStringLiteral("A"))));

    const SerialPool serial;
    const VoidFuture reload = model->update(QStringLiteral("A"));
    Order changed = makeOrder(QStringLiteral("a1"), QStringLiteral("A"), 77);
    Order added = makeOrder(QStringLiteral("a2"), QStringLiteral("A"), 2);
    const VoidFuture first = model->insert(&changed);
    const VoidFuture second = model->insert(&added);
    QVERIFY(finishedCleanly(reload));
    QVERIFY(finishedCleanly(first));
    QVERIFY(finishedCleanly(second));

    QCOMPARE(column(*model, OrderModel::numberRole), QStringLiteral("77 2"));
    QCOMPARE(model->indexOf(QStringLiteral("a2")), 1);
}

void TestOrderModel::deletionPushedDuringReloadIsKept()
{
    QVERIFY(storeOrders({ makeOrder(QStringLiteral("a1"), QStringLiteral("A"), 1),
        makeOrder(QStringLiteral("a2"), QStringLiteral("A"), 2) }));
    QVERIFY(finishedCleanly(model->update(QStringLiteral("A"))));

    const SerialPool serial;
    const VoidFuture reload = model->update(QStringLiteral("A"));
    Order deleted = makeOrder(QStringLiteral("a1"), QStringLiteral("A"), 1);
    deleted.deleted_at = 1700000999;
    QVERIFY(finishedCleanly(model->insert(&deleted)));
    QVERIFY(finishedCleanly(reload));
    QCOMPARE(column(*model, OrderModel::uuidRole), QStringLiteral("a2"));
    QCOMPARE(model->indexOf(QStringLiteral("a2")), 0);
}

void TestOrderModel::staleReloadDoesNotOverwriteNewer()
{
    // Shift A is large enough that its rows usually arrive after those of shift B.
    QList<Order> many;
    for (int i = 0; i < 3000; ++i)
        many.append(makeOrder(QStringLiteral("a%1").arg(i), QStringLiteral("A"), i));
    QVERIFY(storeOrders(many));
    QVERIFY(storeOrders({ makeOrder(QStringLiteral("b1"), QStringLiteral("B"), 1) }));

    const VoidFuture older = model->update(QStringLiteral("A"));
    const VoidFuture newer = model->update(QStringLiteral("B"));
    QVERIFY(finishedCleanly(newer));
    QVERIFY(finishedCleanly(older));
    QCOMPARE(column(*model, OrderModel::uuidRole), QStringLiteral("b1"));
}

QTEST_GUILESS_MAIN(TestOrderModel)
#include "tst_ordermodel.moc"
