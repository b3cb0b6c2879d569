#include "models/ordermodel.h"

#include "logcapture.h"
#include "modelhelpers.h"
#include "testenvironment.h"

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

// Orders "a0".."a<count-1>" of shift A, numbered after their index.
QList<Order> ordersOfA(int count)
{
    QList<Order> orders;
    for (int i = 0; i < count; ++i)
        orders.append(makeOrder(QStringLiteral("a%1").arg(i), QStringLiteral("A"), i));
    return orders;
}

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
    void reloadKeepsTrickyValues();
    void resetHappensOnModelThread();
    void roles();
    void pushReplacesRowInPlace();
    void pushDeletedRemovesRowAndRenumbersIndex();
    void pushUnknownAppends_data();
    void pushUnknownAppends();
    void pushOfAnotherEntityIsRefused();
    void lookups();
    void failedReloadAndWriteKeepRows();
    void removeOldEntity();
    void pushesDuringReloadAreKept();
    void staleReloadDoesNotOverwriteNewer();

private:
    std::unique_ptr<ModelFixture<OrderModel>> fx;
};

void TestOrderModel::initTestCase()
{
    TestEnvironment::init();
}

void TestOrderModel::init()
{
    fx = std::make_unique<ModelFixture<OrderModel>>(false);
    QVERIFY(fx->resets.isValid());
}

void TestOrderModel::cleanup()
{
    fx.reset();
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

    QVERIFY(finishedCleanly(fx->model.update(QStringLiteral("A"))));
    QCOMPARE(column(fx->model, OrderModel::uuidRole), QStringLiteral("a1 a2"));
    QCOMPARE(fx->model.indexOf(QStringLiteral("a2")), 1);

    QVERIFY(finishedCleanly(fx->model.update(QStringLiteral("B"))));
    QCOMPARE(column(fx->model, OrderModel::uuidRole), QStringLiteral("b1"));
    QCOMPARE(fx->model.indexOf(QStringLiteral("a1")), -1);

    // A shift without orders, or no shift at all, empties the model.
    QVERIFY(finishedCleanly(fx->model.update(QStringLiteral("none"))));
    QCOMPARE(fx->model.rowCount(), 0);
    QVERIFY(finishedCleanly(fx->model.update(QStringLiteral("B"))));
    QVERIFY(finishedCleanly(fx->model.update(QString())));
    QCOMPARE(fx->model.rowCount(), 0);
    QCOMPARE(fx->resets.count(), 5);
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

    QVERIFY(finishedCleanly(fx->model.update(shift)));
    QCOMPARE(fx->model.rowCount(), 1);
    QCOMPARE(fx->model.byUuid(QStringLiteral("o'1")).toJson(), order.toJson());
}

void TestOrderModel::resetHappensOnModelThread()
{
    QVERIFY(storeOrders(ordersOfA(1)));
    QThread *resetThread = nullptr;
    int rowsAtReset = -1;
    connect(&fx->model, &QAbstractItemModel::modelReset, &fx->model, [&] {
        resetThread = QThread::currentThread();
        rowsAtReset = fx->model.rowCount();
    });
    QVERIFY(finishedCleanly(fx->model.update(QStringLiteral("A"))));
    QCOMPARE(resetThread, QThread::currentThread());
    QCOMPARE(rowsAtReset, 1);
}

void TestOrderModel::roles()
{
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
    QVERIFY(finishedCleanly(fx->model.insert(&order)));

    // Whether the order is closed is readable by number only.
    QCOMPARE(firstRowRoles(fx->model),
        QStringLiteral("256=QString: idRole=int:11 uuidRole=QString:o1 numberRole=int:11 "
                       "260=QString: shiftUuidRole=QString:A 262=QString: "
                       "openDateRole=qlonglong:4102444800 closeDateRole=qlonglong:1700000500 "
                       "userIdRole=int:6 clientIdRole=int:8 clientUuidRole=QString:c "
                       "statusNameRole=QString:packaged commentRole=QString:hot "
                       "tableIdRole=int:4 guestsRole=int:3 isPaidRole=bool:true 273=bool:true "
                       "274=QString: 275=QString: deleteAtRole=qlonglong:0 277=QString:"));
    QCOMPARE(fx->model.index(0, 0).data(Qt::DisplayRole), QVariant(QString()));
}

void TestOrderModel::pushReplacesRowInPlace()
{
    QVERIFY(storeOrders(ordersOfA(2)));
    QVERIFY(finishedCleanly(fx->model.update(QStringLiteral("A"))));

    Order pushed = makeOrder(QStringLiteral("a0"), QStringLiteral("A"), 9);
    pushed.status = QStringLiteral("given");
    pushed.comment = QStringLiteral("it's");
    fx->takeChanges();
    QVERIFY(finishedCleanly(fx->model.insert(&pushed)));
    QCOMPARE(fx->resets.count(), 1);
    QCOMPARE(fx->takeChanges(), QStringLiteral("changed 0"));
    QCOMPARE(column(fx->model, OrderModel::numberRole), QStringLiteral("9 1"));
    QCOMPARE(fx->model.byUuid(QStringLiteral("a0")).toJson(), pushed.toJson());
    QCOMPARE(fx->model.indexOf(QStringLiteral("a1")), 1);

    // The write reached the table.
    QCOMPARE(TestDatabase::textColumn(
                 QStringLiteral("SELECT number || comment FROM 'order' WHERE uuid = 'a0'")),
        QStringList { QStringLiteral("9it's") });
}

void TestOrderModel::pushDeletedRemovesRowAndRenumbersIndex()
{
    const QList<Order> orders = ordersOfA(5);
    QVERIFY(storeOrders(orders));
    QVERIFY(finishedCleanly(fx->model.update(QStringLiteral("A"))));

    Order deleted = orders[1];
    deleted.deleted_at = 1700000999;
    QVERIFY(finishedCleanly(fx->model.insert(&deleted)));
    QCOMPARE(column(fx->model, OrderModel::uuidRole), QStringLiteral("a0 a2 a3 a4"));
    QCOMPARE(fx->model.indexOf(QStringLiteral("a1")), -1);
    QVERIFY(!fx->model.byUuid(QStringLiteral("a1")).isValid());
    for (int row = 0; row < fx->model.rowCount(); ++row) {
        const QString uuid = fx->model.at(row).uuid;
        QCOMPARE(fx->model.indexOf(uuid), row);
        QCOMPARE(fx->model.byUuid(uuid).uuid, uuid);
    }
    // The deletion is stored, so the next reload leaves the order out too.
    QVERIFY(finishedCleanly(fx->model.update(QStringLiteral("A"))));
    QCOMPARE(column(fx->model, OrderModel::uuidRole), QStringLiteral("a0 a2 a3 a4"));
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
    QVERIFY(storeOrders(ordersOfA(1)));
    QVERIFY(finishedCleanly(fx->model.update(QStringLiteral("A"))));

    Order pushed = makeOrder(QStringLiteral("new"), shiftUuid, 50);
    pushed.deleted_at = deletedAt;
    QVERIFY(finishedCleanly(fx->model.insert(&pushed)));
    QCOMPARE(column(fx->model, OrderModel::uuidRole), QStringLiteral("a0 new"));
    QCOMPARE(fx->model.indexOf(QStringLiteral("new")), 1);
    QCOMPARE(storedUuids(QStringLiteral("order")), QStringLiteral("a0,new"));
}

void TestOrderModel::pushOfAnotherEntityIsRefused()
{
    LogCapture log;
    Shift shift;
    shift.uuid = QStringLiteral("s");
    const VoidFuture refused = fx->model.insert(&shift);
    QVERIFY(refused.isFinished());
    QVERIFY(finishedCleanly(refused));
    QVERIFY(finishedCleanly(fx->model.insert(nullptr)));
    QCOMPARE(fx->resets.count(), 0);
    QCOMPARE(fx->model.rowCount(), 0);
    QCOMPARE(log.atLevel(3).size(), 2);
    QCOMPARE(storedUuids(QStringLiteral("order")), QString());
}

void TestOrderModel::lookups()
{
    QVERIFY(!fx->model.at(0).isValid());
    QVERIFY(storeOrders(ordersOfA(1)));
    QVERIFY(finishedCleanly(fx->model.update(QStringLiteral("A"))));
    QVERIFY(!fx->model.getPreviousByUuid(QStringLiteral("a0")).isValid());
    QVERIFY(!fx->model.at(-1).isValid());
    QVERIFY(!fx->model.at(1).isValid());
    QVERIFY(!fx->model.byUuid(QStringLiteral("A0")).isValid());

    QVERIFY(storeOrders(ordersOfA(5)));
    QVERIFY(finishedCleanly(fx->model.update(QStringLiteral("A"))));
    QCOMPARE(fx->model.getPreviousByUuid(QStringLiteral("a0")).uuid, QStringLiteral("a1"));
    QCOMPARE(fx->model.getPreviousByUuid(QStringLiteral("a3")).uuid, QStringLiteral("a2"));
    QVERIFY(!fx->model.getPreviousByUuid(QStringLiteral("zz")).isValid());
}

void TestOrderModel::failedReloadAndWriteKeepRows()
{
    QVERIFY(storeOrders(ordersOfA(1)));
    QVERIFY(finishedCleanly(fx->model.update(QStringLiteral("A"))));
    QVERIFY(TestDatabase::exec(QStringLiteral("DROP TABLE 'order'")));

    LogCapture log;
    QVERIFY(finishedCleanly(fx->model.update(QStringLiteral("A"))));
    QCOMPARE(fx->resets.count(), 1);
    QCOMPARE(column(fx->model, OrderModel::uuidRole), QStringLiteral("a0"));
    QCOMPARE(fx->model.indexOf(QStringLiteral("a0")), 0);
    const QList<LogCapture::Entry> critical = log.atLevel(3);
    QCOMPARE(critical.size(), 1);
    QCOMPARE(critical.first().file, QStringLiteral("ordermodel.cpp"));
    QCOMPARE(critical.first().function, QStringLiteral("operator()"));
    QVERIFY(critical.first().message.contains(QStringLiteral("no such table")));

    // A pushed order whose write failed is logged and not kept on the board; a pushed change of
    // a shown order goes back to what the board showed.
    log.clear();
    Order pushed = makeOrder(QStringLiteral("p"), QStringLiteral("A"), 1);
    Order changed = fx->model.byUuid(QStringLiteral("a0"));
    changed.number = 77;
    QVERIFY(finishedCleanly(fx->model.insert(&pushed)));
    QVERIFY(finishedCleanly(fx->model.insert(&changed)));
    QCOMPARE(column(fx->model, OrderModel::uuidRole), QStringLiteral("a0"));
    QVERIFY(fx->model.byUuid(QStringLiteral("a0")).number != 77);
    QCOMPARE(fx->model.indexOf(QStringLiteral("a0")), 0);
    QCOMPARE(log.atLevel(3).size(), 2);
}

void TestOrderModel::removeOldEntity()
{
    QVERIFY(TestDatabase::exec(QStringLiteral("INSERT INTO shift (uuid, type, number, created_at, "
                                              "closed_at) VALUES ('old', 'general', 1, 1, %1), "
                                              "('recent', 'general', 2, 1, %2), ('open', "
                                              "'general', 3, 1, NULL)")
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
    QVERIFY(finishedCleanly(fx->model.update(QStringLiteral("old"))));
    const int rowsBefore = fx->model.rowCount();

    QVERIFY(finishedCleanly(fx->model.removeOldEntity(2)));
    QCOMPARE(storedUuids(QStringLiteral("order")),
        QStringLiteral("closed recently,deleted recently,open,shift recent"));
    // The model is not touched.
    QCOMPARE(fx->resets.count(), 1);
    QCOMPARE(fx->model.rowCount(), rowsBefore);
}

void TestOrderModel::pushesDuringReloadAreKept()
{
    QVERIFY(storeOrders(ordersOfA(2)));
    QVERIFY(finishedCleanly(fx->model.update(QStringLiteral("A"))));

    const SerialPool serial;
    const VoidFuture reload = fx->model.update(QStringLiteral("A"));
    Order changed = makeOrder(QStringLiteral("a0"), QStringLiteral("A"), 77);
    Order deleted = makeOrder(QStringLiteral("a1"), QStringLiteral("A"), 1);
    deleted.deleted_at = 1700000999;
    Order added = makeOrder(QStringLiteral("a2"), QStringLiteral("A"), 2);
    const VoidFuture writes[]
        = { fx->model.insert(&changed), fx->model.insert(&deleted), fx->model.insert(&added) };
    QVERIFY(finishedCleanly(reload));
    for (const VoidFuture &write : writes)
        QVERIFY(finishedCleanly(write));

    QCOMPARE(column(fx->model, OrderModel::numberRole), QStringLiteral("77 2"));
    QCOMPARE(fx->model.indexOf(QStringLiteral("a2")), 1);
}

void TestOrderModel::staleReloadDoesNotOverwriteNewer()
{
    // Shift A is large enough that its rows usually arrive after those of shift B.
    QVERIFY(storeOrders(ordersOfA(3000)));
    QVERIFY(storeOrders({ makeOrder(QStringLiteral("b1"), QStringLiteral("B"), 1) }));

    const VoidFuture older = fx->model.update(QStringLiteral("A"));
    const VoidFuture newer = fx->model.update(QStringLiteral("B"));
    QVERIFY(finishedCleanly(newer));
    QVERIFY(finishedCleanly(older));
    QCOMPARE(column(fx->model, OrderModel::uuidRole), QStringLiteral("b1"));
}

QTEST_GUILESS_MAIN(TestOrderModel)
#include "tst_ordermodel.moc"
