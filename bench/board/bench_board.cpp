#include "entities/entitiesrepo.h"
#include "entities/order.h"
#include "entities/receipt.h"
#include "entities/receiptitem.h"
#include "entities/shift.h"
#include "futurewait.h"
#include "models/ordermodel.h"
#include "models/receiptitemmodel.h"
#include "models/receiptmodel.h"
#include "pages/orderspage/models/inworkordersmodel.h"
#include "pages/orderspage/models/preparingordersmodel.h"
#include "pages/orderspage/models/readyordersmodel.h"
#include "testdatabase.h"
#include "testenvironment.h"

#include <QElapsedTimer>
#include <QList>
#include <QMetaObject>
#include <QTest>
#include <QThreadPool>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <functional>
#include <memory>
#include <utility>

// One pushed order, receipt or receipt item until both board columns show it, during a busy
// shift, at two shift sizes. The anchor is the full rebuild of the board at the smaller size
// (what every push cost before the board followed its models row by row). Trace lines go through
// a writer that flushes every line, as the program's console writer does, into /dev/null.
namespace {

constexpr int Pushes = 201;
const QString shiftUuid = QStringLiteral("bench-shift");

std::atomic<int> lines { 0 };
FILE *sink = nullptr;

void consoleLike(QtMsgType, const QMessageLogContext &, const QString &message)
{
    ++lines;
    const QByteArray line = message.toUtf8() + '\n';
    std::fwrite(line.constData(), 1, size_t(line.size()), sink);
    std::fflush(sink);
}

template <typename Entity, typename Store> bool storeAll(QList<Entity> &records, Store store)
{
    // In slices: one statement of a hundred thousand rows would measure SQLite's parser.
    for (qsizetype first = 0; first < records.size(); first += 5000) {
        QList<Entity *> slice;
        for (qsizetype i = first; i < std::min(records.size(), first + 5000); ++i)
            slice.append(&records[i]);
        if (!waitFor(store(slice), 120000))
            return false;
    }
    return true;
}

struct Figures
{
    double item = 0;
    double receipt = 0;
    double order = 0;
    double rebuild = 0;
    double linesPerPush = 0;
};

double median(QList<qint64> nanoseconds)
{
    std::sort(nanoseconds.begin(), nanoseconds.end());
    return double(nanoseconds.at(nanoseconds.size() / 2)) / 1e6;
}

// A shift of `orders` orders with one receipt each and `items` items spread over the receipts,
// three in four in work; the board over it.
class BusyShift
{
public:
    BusyShift(int orders, int items)
    {
        QList<Order> orderList(orders);
        QList<Receipt> receiptList(orders);
        QList<ReceiptItem> itemList(items);
        const QStringList statuses { QStringLiteral("new"), QStringLiteral("cooking"),
            QStringLiteral("packaged"), QStringLiteral("given") };
        for (int i = 0; i < orders; ++i) {
            Order &o = orderList[i];
            o.id = i + 1;
            o.uuid = QStringLiteral("order-%1").arg(i);
            o.shift_uuid = shiftUuid;
            o.number = i + 1;
            o.status = statuses.at(i % statuses.size());
            o.is_paid = i % 3 != 0;
            o.created_at = 1700000000 + i;
            Receipt &r = receiptList[i];
            r.id = i + 1;
            r.uuid = QStringLiteral("receipt-%1").arg(i);
            r.shift_uuid = shiftUuid;
            r.order_uuid = o.uuid;
        }
        for (int i = 0; i < items; ++i) {
            ReceiptItem &item = itemList[i];
            item.id = i + 1;
            item.uuid = QStringLiteral("item-%1").arg(i);
            item.receipt_uuid = receiptList.at(i % orders).uuid;
            item.in_work = i % 4 != 0;
            item.quantity = 1;
        }
        // Items are loaded through their receipt's shift.
        Shift shift;
        shift.uuid = shiftUuid;
        shift.type = QStringLiteral("general");
        shift.number = 1;
        shift.created_at = 1700000000;
        QList<Shift> shifts { shift };
        ok = storeAll(shifts, &EntitiesRepo::insertShift)
            && storeAll(orderList, &EntitiesRepo::insertOrder)
            && storeAll(receiptList, &EntitiesRepo::insertReceipt)
            && storeAll(itemList, &EntitiesRepo::insertReceiptItem)
            && waitFor(orderModel.update(shiftUuid), 120000)
            && waitFor(receiptModel.update(shiftUuid), 120000)
            && waitFor(itemModel.update(shiftUuid), 120000) && itemModel.rowCount() == items;
        preparing.setSourceModel(&inWork);
        ready.setSourceModel(&inWork);

        // Pushed things: an order with a receipt but no item yet, one with items in work whose
        // receipt is not known yet, and one already in work whose status flips.
        fresh.uuid = QStringLiteral("order-fresh");
        fresh.shift_uuid = shiftUuid;
        fresh.number = orders + 1;
        fresh.status = QStringLiteral("new");
        late = fresh;
        late.uuid = QStringLiteral("order-late");
        late.number = orders + 2;
        freshReceipt.uuid = QStringLiteral("receipt-fresh");
        freshReceipt.shift_uuid = shiftUuid;
        freshReceipt.order_uuid = fresh.uuid;
        lateReceipt.uuid = QStringLiteral("receipt-late");
        lateReceipt.shift_uuid = shiftUuid;
        // The server numbers new items after all others.
        freshItem.id = items + 1;
        freshItem.uuid = QStringLiteral("item-fresh");
        freshItem.receipt_uuid = freshReceipt.uuid;
        ReceiptItem lateItem;
        lateItem.id = items + 2;
        lateItem.uuid = QStringLiteral("item-late");
        lateItem.receipt_uuid = lateReceipt.uuid;
        lateItem.in_work = true;
        flipped = orderList.at(1);
        ok = ok && waitFor(orderModel.insert(&fresh)) && waitFor(orderModel.insert(&late))
            && waitFor(receiptModel.insert(&freshReceipt)) && waitFor(itemModel.insert(&lateItem))
            && inWork.rowCount() > 0;
    }

    // Median milliseconds from the push to its return, when both columns have followed it.
    double time(const std::function<VoidFuture(bool)> &push, int *totalLines)
    {
        QList<qint64> nanoseconds;
        for (int i = 0; i < Pushes; ++i) {
            const bool on = i % 2 == 0;
            const std::pair<int, int> shownBefore { preparing.rowCount(), ready.rowCount() };
            const int linesBefore = lines;
            QElapsedTimer timer;
            timer.start();
            const VoidFuture write = push(on);
            nanoseconds.append(timer.nsecsElapsed());
            *totalLines += lines - linesBefore;
            if (std::pair<int, int>(preparing.rowCount(), ready.rowCount()) == shownBefore) {
                std::printf("push %d did not reach the columns\n", i);
                return -1;
            }
            if (!waitFor(write))
                return -1;
        }
        return median(nanoseconds);
    }

    Figures measure()
    {
        Figures figures;
        int total = 0;
        figures.item = time(
            [this](bool on) {
                freshItem.in_work = on;
                return itemModel.insert(&freshItem);
            },
            &total);
        figures.receipt = time(
            [this](bool on) {
                lateReceipt.order_uuid = on ? late.uuid : QString();
                return receiptModel.insert(&lateReceipt);
            },
            &total);
        figures.order = time(
            [this](bool on) {
                flipped.status = on ? QStringLiteral("packaged") : QStringLiteral("new");
                flipped.is_paid = true;
                return orderModel.insert(&flipped);
            },
            &total);
        figures.linesPerPush = double(total) / (3 * Pushes);
        QList<qint64> rebuilds;
        for (int i = 0; i < 9; ++i) {
            QElapsedTimer timer;
            timer.start();
            QMetaObject::invokeMethod(&inWork, "updateModel");
            rebuilds.append(timer.nsecsElapsed());
        }
        figures.rebuild = median(rebuilds);
        return figures;
    }

    bool ok = false;
    OrderModel orderModel;
    ReceiptModel receiptModel;
    ReceiptItemModel itemModel;
    InWorkOrdersModel inWork { &itemModel, &receiptModel, &orderModel, nullptr };
    PreparingOrdersModel preparing;
    ReadyOrdersModel ready;
    Order fresh;
    Order late;
    Order flipped;
    Receipt freshReceipt;
    Receipt lateReceipt;
    ReceiptItem freshItem;
};

} // namespace

class bench_Board : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void pushes();
};

void bench_Board::initTestCase()
{
    TestEnvironment::init();
    sink = std::fopen("/dev/null", "w");
    QVERIFY(sink);
}

void bench_Board::pushes()
{
    Figures figures[2];
    const int sizes[2][2] = { { 2000, 10000 }, { 20000, 100000 } };
    for (int s = 0; s < 2; ++s) {
        TestDatabase database;
        {
            BusyShift shift(sizes[s][0], sizes[s][1]);
            QVERIFY(shift.ok);
            const QtMessageHandler previous = qInstallMessageHandler(consoleLike);
            figures[s] = shift.measure();
            qInstallMessageHandler(previous);
            QVERIFY(figures[s].item >= 0 && figures[s].receipt >= 0 && figures[s].order >= 0);
        }
        QThreadPool::globalInstance()->waitForDone();
    }
    const Figures &small = figures[0];
    const Figures &large = figures[1];
    std::printf("median ms per push until both columns show it (%d pushes each):\n", Pushes);
    std::printf("                     2,000/10,000   20,000/100,000   ratio large/small\n");
    std::printf("  receipt item       %9.4f      %9.4f        %6.2f\n", small.item, large.item,
        large.item / small.item);
    std::printf("  receipt            %9.4f      %9.4f        %6.2f\n", small.receipt,
        large.receipt, large.receipt / small.receipt);
    std::printf("  order              %9.4f      %9.4f        %6.2f\n", small.order, large.order,
        large.order / small.order);
    std::printf("anchor, full rebuild %9.4f      %9.4f\n", small.rebuild, large.rebuild);
    std::printf("ratio item push / rebuild at 2,000: %.4f\n", small.item / small.rebuild);
    std::printf("console lines per push: %.1f and %.1f\n", small.linesPerPush, large.linesPerPush);
}

QTEST_GUILESS_MAIN(bench_Board)
#include "bench_board.moc"
