#include "entities/order.h"
#include "entities/receipt.h"
#include "entities/receiptitem.h"
#include "futurewait.h"
#include "models/ordermodel.h"
#include "models/receiptitemmodel.h"
#include "models/receiptmodel.h"
#include "pages/orderspage/models/inworkordersmodel.h"
#include "pages/orderspage/models/preparingordersmodel.h"
#include "pages/orderspage/models/readyordersmodel.h"
#include "testdatabase.h"
#include "testenvironment.h"

#include <QAbstractItemModelTester>
#include <QSignalSpy>
#include <QTest>

#include <memory>

namespace {

// The three entity models, the in-work list over them and the two board columns, each checked
// by a model tester. Rows reach the entity models the way pushes do, through insert().
class Board
{
public:
    Board()
    {
        for (QAbstractItemModel *model : { static_cast<QAbstractItemModel *>(&inWork),
                 static_cast<QAbstractItemModel *>(&preparing),
                 static_cast<QAbstractItemModel *>(&ready) })
            testers.emplace_back(std::make_unique<QAbstractItemModelTester>(
                model, QAbstractItemModelTester::FailureReportingMode::QtTest));
        preparing.setSourceModel(&inWork);
        ready.setSourceModel(&inWork);
    }

    void order(const QString &uuid, int number, const QString &status = QStringLiteral("new"),
        bool paid = false, qint64 closedAt = 0, qint64 deletedAt = 0)
    {
        Order o;
        o.uuid = uuid;
        o.number = number;
        o.status = status;
        o.is_paid = paid;
        o.closed_at = closedAt;
        o.deleted_at = deletedAt;
        o.created_at = 1700000000;
        track(orders.insert(&o));
    }

    void receipt(const QString &uuid, const QString &orderUuid)
    {
        Receipt r;
        r.uuid = uuid;
        r.order_uuid = orderUuid;
        track(receipts.insert(&r));
    }

    void item(const QString &uuid, const QString &receiptUuid, bool inWork)
    {
        ReceiptItem i;
        i.id = ++lastItemId;
        i.uuid = uuid;
        i.receipt_uuid = receiptUuid;
        i.in_work = inWork;
        track(items.insert(&i));
    }

    // Builds entities from a compact description, e.g. "o:A:1:packaged:paid r:RA:A i:I1:RA:work":
    // o:uuid:number[:status][:paid][:closed][:deleted], r:uuid:order, i:uuid:receipt:work|idle.
    void apply(const QString &description)
    {
        const QStringList entities = description.split(QLatin1Char(' '), Qt::SkipEmptyParts);
        for (const QString &entity : entities) {
            const QStringList f = entity.split(QLatin1Char(':'));
            if (f[0] == QLatin1String("o")) {
                const QStringList flags = f.mid(3);
                const QString status = flags.isEmpty() ? QStringLiteral("new") : flags.first();
                order(f[1], f[2].toInt(), status, flags.contains(QStringLiteral("paid")),
                    flags.contains(QStringLiteral("closed")) ? 1700000100 : 0,
                    flags.contains(QStringLiteral("deleted")) ? 1700000200 : 0);
            } else if (f[0] == QLatin1String("r")) {
                receipt(f[1], f[2]);
            } else {
                item(f[1], f[2], f[3] == QLatin1String("work"));
            }
        }
    }

    // The order numbers of a model's rows, joined with commas.
    static QString numbers(const QAbstractItemModel &model)
    {
        QStringList result;
        for (int row = 0; row < model.rowCount(); ++row)
            result.append(
                model.index(row, 0).data(InWorkOrdersModel::NumberRole).toString());
        return result.join(QLatin1Char(','));
    }

    // The database writes of the pushes run on the pool; they must be done before the database
    // goes away.
    bool writesDone() const
    {
        for (const auto &future : writes) {
            if (!waitFor(future))
                return false;
        }
        return true;
    }

    OrderModel orders;
    ReceiptModel receipts;
    ReceiptItemModel items;
    InWorkOrdersModel inWork { &items, &receipts, &orders, nullptr };
    PreparingOrdersModel preparing;
    ReadyOrdersModel ready;

private:
    void track(const QFuture<void> &future) { writes.append(future); }

    std::vector<std::unique_ptr<QAbstractItemModelTester>> testers;
    QList<QFuture<void>> writes;
    int lastItemId = 0;
};

} // namespace

class tst_OrderBoard : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void init();
    void cleanup();

    void inWorkOrders_data();
    void inWorkOrders();
    void emptyUntilASourceModelIsReset();
    void followsResetsOfAllThreeModels();
    void rolesOfARow();
    void columns_data();
    void columns();
    void nonPaidOrdersStayShownOnceSwitchedOn();
    void columnsKeepTheInWorkOrder();

private:
    std::unique_ptr<TestDatabase> database;
};

void tst_OrderBoard::initTestCase()
{
    TestEnvironment::init();
}

void tst_OrderBoard::init()
{
    database = std::make_unique<TestDatabase>();
}

void tst_OrderBoard::cleanup()
{
    database.reset();
}

void tst_OrderBoard::inWorkOrders_data()
{
    QTest::addColumn<QString>("entities");
    QTest::addColumn<QString>("expected");

    QTest::newRow("one item in work") << "o:A:1 r:RA:A i:I1:RA:work" << "1";
    QTest::newRow("several items of one receipt give one row")
        << "o:A:1 r:RA:A i:I1:RA:work i:I2:RA:work i:I3:RA:work" << "1";
    QTest::newRow("items of several receipts of one order give one row")
        << "o:A:1 r:RA:A r:RB:A i:I1:RA:work i:I2:RB:work" << "1";
    QTest::newRow("items not in work give nothing") << "o:A:1 r:RA:A i:I1:RA:idle" << "";
    QTest::newRow("one item in work among idle ones")
        << "o:A:1 r:RA:A i:I1:RA:idle i:I2:RA:work i:I3:RA:idle" << "1";
    QTest::newRow("receipt missing") << "o:A:1 i:I1:RA:work" << "";
    QTest::newRow("order missing") << "r:RA:A i:I1:RA:work" << "";
    QTest::newRow("closed order") << "o:A:1:new:closed r:RA:A i:I1:RA:work" << "";
    QTest::newRow("deleted order")
        << "o:A:1:new:deleted r:RA:A i:I1:RA:work" << "";
    QTest::newRow("order deleted after it was known")
        << "o:A:1 o:B:2 o:A:1:new:deleted r:RA:A r:RB:B i:I1:RA:work i:I2:RB:work" << "2";
    QTest::newRow("rows in the order of each order's first item in work")
        << "o:A:1 o:B:2 o:C:3 r:RA:A r:RB:B r:RC:C "
           "i:I1:RC:work i:I2:RA:idle i:I3:RB:work i:I4:RA:work i:I5:RC:work"
        << "3,2,1";
}

void tst_OrderBoard::inWorkOrders()
{
    QFETCH(QString, entities);
    QFETCH(QString, expected);
    Board board;
    board.apply(entities);
    QCOMPARE(Board::numbers(board.inWork), expected);
    QVERIFY(board.writesDone());
}

void tst_OrderBoard::emptyUntilASourceModelIsReset()
{
    OrderModel orders;
    ReceiptModel receipts;
    ReceiptItemModel items;
    Order order;
    order.uuid = QStringLiteral("A");
    order.number = 7;
    Receipt receipt;
    receipt.uuid = QStringLiteral("RA");
    receipt.order_uuid = order.uuid;
    ReceiptItem item;
    item.id = 1;
    item.uuid = QStringLiteral("I1");
    item.receipt_uuid = receipt.uuid;
    item.in_work = true;
    const QList<QFuture<void>> writes { orders.insert(&order), receipts.insert(&receipt),
        items.insert(&item) };

    InWorkOrdersModel inWork(&items, &receipts, &orders, nullptr);
    QCOMPARE(inWork.rowCount(), 0);
    QSignalSpy reset(&inWork, &QAbstractItemModel::modelReset);
    QVERIFY(reset.isValid());
    const auto rewrite = receipts.insert(&receipt);
    QCOMPARE(reset.count(), 1);
    QCOMPARE(Board::numbers(inWork), QStringLiteral("7"));
    for (const auto &write : writes)
        QVERIFY(waitFor(write));
    QVERIFY(waitFor(rewrite));
}

void tst_OrderBoard::followsResetsOfAllThreeModels()
{
    Board board;
    board.apply(QStringLiteral("o:A:1 o:B:2 i:I1:RA:work i:I2:RB:work"));
    QCOMPARE(Board::numbers(board.inWork), QString());

    board.receipt(QStringLiteral("RB"), QStringLiteral("B"));
    QCOMPARE(Board::numbers(board.inWork), QStringLiteral("2"));
    board.receipt(QStringLiteral("RA"), QStringLiteral("A"));
    QCOMPARE(Board::numbers(board.inWork), QStringLiteral("1,2"));

    // The order is closed on the server.
    board.order(QStringLiteral("A"), 1, QStringLiteral("given"), true, 1700000500);
    QCOMPARE(Board::numbers(board.inWork), QStringLiteral("2"));

    // Its only item leaves work.
    board.item(QStringLiteral("I2"), QStringLiteral("RB"), false);
    QCOMPARE(Board::numbers(board.inWork), QString());

    // And comes back.
    board.item(QStringLiteral("I2"), QStringLiteral("RB"), true);
    QCOMPARE(Board::numbers(board.inWork), QStringLiteral("2"));

    // A deleted order leaves its own model, and so the board.
    board.order(QStringLiteral("B"), 2, QStringLiteral("new"), false, 0, 1700000600);
    QCOMPARE(Board::numbers(board.inWork), QString());
    QVERIFY(board.writesDone());
}

void tst_OrderBoard::rolesOfARow()
{
    Board board;
    Order order;
    order.id = 41;
    order.uuid = QStringLiteral("A");
    order.number = 12;
    order.shift_id = 3;
    order.shift_uuid = QStringLiteral("S");
    order.type = QStringLiteral("delivery");
    order.created_at = 4102444800; // beyond 32 bits' worth of seconds
    order.created_by = 5;
    order.client_id = 6;
    order.client_uuid = QStringLiteral("C");
    order.status = QStringLiteral("cooking");
    order.comment = QStringLiteral("no onions, 'please'");
    order.table_id = 8;
    order.number_guests = 4;
    order.is_paid = true;
    order.is_closed = true; // closed on the register but without a closing time yet
    order.is_shipped = true;
    const auto write = board.orders.insert(&order);
    board.apply(QStringLiteral("r:RA:A i:I1:RA:work"));
    QCOMPARE(board.inWork.rowCount(), 1);

    // The screens bind to these names, in this order from Qt::UserRole + 1; an order has no hall.
    const QList<std::pair<QByteArray, QVariant>> expected { { "id", 41 },
        { "uuid", QStringLiteral("A") }, { "number", 12 }, { "shiftId", 3 },
        { "shiftUuid", QStringLiteral("S") }, { "type", QStringLiteral("delivery") },
        { "openDate", qlonglong(4102444800) }, { "closeDate", qlonglong(0) }, { "userId", 5 },
        { "clientId", 6 }, { "clientUuid", QStringLiteral("C") },
        { "statusName", QStringLiteral("cooking") },
        { "comment", QStringLiteral("no onions, 'please'") }, { "tableId", 8 }, { "guests", 4 },
        { "isPaid", true }, { "isClosed", true }, { "isShipped", true }, { "hallId", QVariant() },
        { "deletedAt", qlonglong(0) } };
    const QHash<int, QByteArray> names = board.inWork.roleNames();
    QCOMPARE(names.size(), expected.size());
    const QModelIndex first = board.inWork.index(0, 0);
    for (int i = 0; i < expected.size(); ++i) {
        const int role = Qt::UserRole + 1 + i;
        QCOMPARE(names.value(role), expected.at(i).first);
        const QVariant actual = first.data(role);
        QCOMPARE(actual, expected.at(i).second);
        QCOMPARE(actual.metaType(), expected.at(i).second.metaType());
    }
    for (const int role : { int(Qt::UserRole), int(Qt::UserRole) + 21, int(Qt::DisplayRole) })
        QCOMPARE(first.data(role), QVariant());
    for (const int row : { 1, -1 })
        QCOMPARE(board.inWork.data(board.inWork.index(row, 0), InWorkOrdersModel::NumberRole),
            QVariant());
    QVERIFY(waitFor(write));
    QVERIFY(board.writesDone());
}

void tst_OrderBoard::columns_data()
{
    QTest::addColumn<QString>("status");
    QTest::addColumn<bool>("paid");
    QTest::addColumn<bool>("showNonPaid");
    QTest::addColumn<QString>("column");

    const QStringList others { QStringLiteral("new"), QStringLiteral("cooking"), QString() };
    for (const QString &status : others) {
        for (bool paid : { false, true }) {
            for (bool showNonPaid : { false, true }) {
                QTest::addRow("'%s' paid=%d nonpaid=%d", qPrintable(status), paid, showNonPaid)
                    << status << paid << showNonPaid << "preparing";
            }
        }
    }
    QTest::newRow("packaged, paid") << "packaged" << true << false << "ready";
    QTest::newRow("packaged, unpaid") << "packaged" << false << false << "preparing";
    QTest::newRow("packaged, paid, non-paid shown") << "packaged" << true << true << "ready";
    QTest::newRow("packaged, unpaid, non-paid shown") << "packaged" << false << true << "ready";
    QTest::newRow("given, paid") << "given" << true << false << "";
    QTest::newRow("given, unpaid") << "given" << false << false << "preparing";
    QTest::newRow("given, paid, non-paid shown") << "given" << true << true << "";
    QTest::newRow("given, unpaid, non-paid shown") << "given" << false << true << "";
    QTest::newRow("Packaged is another status") << "Packaged" << true << false << "preparing";
    QTest::newRow("GIVEN is another status") << "GIVEN" << true << true << "preparing";
}

void tst_OrderBoard::columns()
{
    QFETCH(QString, status);
    QFETCH(bool, paid);
    QFETCH(bool, showNonPaid);
    QFETCH(QString, column);

    Board board;
    board.order(QStringLiteral("A"), 5, status, paid);
    board.apply(QStringLiteral("r:RA:A i:I1:RA:work"));
    if (showNonPaid) {
        board.preparing.showNonPaidOrders();
        board.ready.showNonPaidOrders();
    }
    QCOMPARE(Board::numbers(board.preparing),
        column == QLatin1String("preparing") ? QStringLiteral("5") : QString());
    QCOMPARE(Board::numbers(board.ready),
        column == QLatin1String("ready") ? QStringLiteral("5") : QString());
    QVERIFY(board.writesDone());
}

void tst_OrderBoard::nonPaidOrdersStayShownOnceSwitchedOn()
{
    Board board;
    board.apply(QStringLiteral("o:A:1:packaged o:B:2:packaged:paid o:C:3:given o:D:4 "
                               "r:RA:A r:RB:B r:RC:C r:RD:D "
                               "i:I1:RA:work i:I2:RB:work i:I3:RC:work i:I4:RD:work"));
    QCOMPARE(Board::numbers(board.preparing), QStringLiteral("1,3,4"));
    QCOMPARE(Board::numbers(board.ready), QStringLiteral("2"));

    board.preparing.showNonPaidOrders();
    board.ready.showNonPaidOrders();
    QCOMPARE(Board::numbers(board.preparing), QStringLiteral("4"));
    QCOMPARE(Board::numbers(board.ready), QStringLiteral("1,2"));

    // A rebuild of the source keeps the switch.
    board.order(QStringLiteral("D"), 4, QStringLiteral("packaged"));
    QCOMPARE(Board::numbers(board.preparing), QString());
    QCOMPARE(Board::numbers(board.ready), QStringLiteral("1,2,4"));
    QVERIFY(board.writesDone());
}

void tst_OrderBoard::columnsKeepTheInWorkOrder()
{
    Board board;
    board.apply(QStringLiteral("o:A:30 o:B:10 o:C:20 r:RA:A r:RB:B r:RC:C "
                               "i:I1:RA:work i:I2:RB:work i:I3:RC:work"));
    QCOMPARE(Board::numbers(board.inWork), QStringLiteral("30,10,20"));
    QCOMPARE(Board::numbers(board.preparing), QStringLiteral("30,10,20"));
}

QTEST_GUILESS_MAIN(tst_OrderBoard)
#include "tst_orderboard.moc"
