#include "entities/order.h"
#include "entities/receipt.h"
#include "entities/receiptitem.h"
#include "models/ordermodel.h"
#include "models/receiptitemmodel.h"
#include "models/receiptmodel.h"
#include "pages/orderspage/models/inworkordersmodel.h"
#include "pages/orderspage/models/preparingordersmodel.h"
#include "pages/orderspage/models/readyordersmodel.h"
#include "futurewait.h"
#include "testdatabase.h"
#include "testenvironment.h"

#include <QElapsedTimer>
#include <QList>
#include <QTest>
#include <QThreadPool>

#include <algorithm>
#include <cstdio>
#include <memory>

// The board's reaction to one pushed receipt item during a busy shift: the item model's reset,
// the rebuild of the in-work list and the refiltering of both columns.
class bench_Board : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void cleanupTestCase();
    void medianPush();
    void pushOneReceiptItem();

private:
    static constexpr int Orders = 2000;
    static constexpr int Receipts = 2000;
    static constexpr int Items = 10000;

    std::unique_ptr<TestDatabase> database;
    OrderModel orders;
    ReceiptModel receipts;
    ReceiptItemModel items;
};

void bench_Board::initTestCase()
{
    TestEnvironment::init();
    database = std::make_unique<TestDatabase>();

    const QStringList statuses { QStringLiteral("new"), QStringLiteral("cooking"),
        QStringLiteral("packaged"), QStringLiteral("given") };
    QList<Order> orderList(Orders);
    for (int i = 0; i < Orders; ++i) {
        Order &o = orderList[i];
        o.uuid = QStringLiteral("order-%1").arg(i);
        o.number = i + 1;
        o.status = statuses.at(i % statuses.size());
        o.is_paid = i % 3 != 0;
        o.created_at = 1700000000 + i;
        QVERIFY(waitFor(orders.insert(&o)));
    }
    QList<Receipt> receiptList(Receipts);
    QList<Receipt *> receiptPointers;
    for (int i = 0; i < Receipts; ++i) {
        Receipt &r = receiptList[i];
        r.uuid = QStringLiteral("receipt-%1").arg(i);
        r.order_uuid = orderList.at(i % Orders).uuid;
        receiptPointers.append(&r);
    }
    QVERIFY(waitFor(receipts.insert(receiptPointers)));
    QList<ReceiptItem> itemList(Items);
    QList<ReceiptItem *> itemPointers;
    for (int i = 0; i < Items; ++i) {
        ReceiptItem &item = itemList[i];
        item.id = i + 1;
        item.uuid = QStringLiteral("item-%1").arg(i);
        item.receipt_uuid = receiptList.at(i % Receipts).uuid;
        item.in_work = i % 4 != 0;
        itemPointers.append(&item);
    }
    QVERIFY(waitFor(items.insert(itemPointers)));
    QThreadPool::globalInstance()->waitForDone();
}

void bench_Board::cleanupTestCase()
{
    QThreadPool::globalInstance()->waitForDone();
    database.reset();
}

namespace {

// The board over the three models, and a receipt item whose pushes flip it in and out of work,
// so that every rebuild changes the board.
struct Board
{
    Board(ReceiptItemModel &items, ReceiptModel &receipts, OrderModel &orders)
        : items(items)
        , inWork(&items, &receipts, &orders, nullptr)
    {
        preparing.setSourceModel(&inWork);
        ready.setSourceModel(&inWork);
        pushed.id = 1000001;
        pushed.uuid = QStringLiteral("item-pushed");
        pushed.receipt_uuid = QStringLiteral("receipt-7");
    }

    // Nanoseconds from the push to the refiltered columns; -1 when the write did not finish.
    qint64 push()
    {
        pushed.in_work = !pushed.in_work;
        QElapsedTimer timer;
        timer.start();
        const auto write = items.insert(&pushed);
        const qint64 elapsed = timer.nsecsElapsed();
        return waitFor(write) ? elapsed : -1;
    }

    ReceiptItemModel &items;
    InWorkOrdersModel inWork;
    PreparingOrdersModel preparing;
    ReadyOrdersModel ready;
    ReceiptItem pushed;
};

} // namespace

void bench_Board::medianPush()
{
    Board board(items, receipts, orders);
    QList<qint64> nanoseconds;
    for (int i = 0; i < 31; ++i) {
        const qint64 elapsed = board.push();
        QVERIFY(elapsed >= 0);
        QVERIFY(board.preparing.rowCount() > 0);
        QVERIFY(board.ready.rowCount() > 0);
        nanoseconds.append(elapsed);
    }
    std::sort(nanoseconds.begin(), nanoseconds.end());
    // Straight to standard output: the trace lines of the set-up exhaust QtTest's message quota.
    std::printf("median per push: %.3f ms over %lld pushes (%d orders in work, %d preparing, "
                "%d ready)\n",
        double(nanoseconds.at(nanoseconds.size() / 2)) / 1e6, qlonglong(nanoseconds.size()),
        board.inWork.rowCount(), board.preparing.rowCount(), board.ready.rowCount());
}

void bench_Board::pushOneReceiptItem()
{
    Board board(items, receipts, orders);
    QBENCHMARK {
        QVERIFY(board.push() >= 0);
    }
}

QTEST_GUILESS_MAIN(bench_Board)
#include "bench_board.moc"
