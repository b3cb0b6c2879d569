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
#include <QRandomGenerator>
#include <QSet>
#include <QStandardItemModel>
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
        o.shift_uuid = shiftUuid;
        track(orders.insert(&o));
    }

    void receipt(const QString &uuid, const QString &orderUuid)
    {
        Receipt r;
        r.uuid = uuid;
        r.order_uuid = orderUuid;
        r.shift_uuid = shiftUuid;
        track(receipts.insert(&r));
    }

    void item(const QString &uuid, const QString &receiptUuid, bool inWork, qint64 deletedAt = 0)
    {
        ReceiptItem i;
        i.id = ++lastItemId;
        i.uuid = uuid;
        i.receipt_uuid = receiptUuid;
        i.in_work = inWork;
        i.deleted_at = deletedAt;
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
            result.append(model.index(row, 0).data(InWorkOrdersModel::NumberRole).toString());
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

    static inline const QString shiftUuid = QStringLiteral("S");
    OrderModel orders;
    ReceiptModel receipts;
    ReceiptItemModel items;
    QAbstractItemModelTester itemsTester { &items,
        QAbstractItemModelTester::FailureReportingMode::QtTest };
    InWorkOrdersModel inWork { &items, &receipts, &orders, nullptr };
    PreparingOrdersModel preparing;
    ReadyOrdersModel ready;

    void track(const QFuture<void> &future) { writes.append(future); }

private:
    std::vector<std::unique_ptr<QAbstractItemModelTester>> testers;
    QList<QFuture<void>> writes;
    int lastItemId = 0;
};

// The board as a full rebuild makes it: one row per order, at the place of its first receipt item
// in work, from the records the three models hold now.
QList<Order> rebuiltBoard(const Board &board)
{
    QList<Order> result;
    QSet<QString> seen;
    for (int row = 0; row < board.items.rowCount(); ++row) {
        const QModelIndex item = board.items.index(row, 0);
        if (!item.data(ReceiptItemModel::inWorkRole).toBool())
            continue;
        const Receipt receipt
            = board.receipts.byUuid(item.data(ReceiptItemModel::receiptUuidRole).toString());
        if (!receipt.isValid())
            continue;
        const Order order = board.orders.byUuid(receipt.order_uuid);
        if (!order.isValid() || seen.contains(order.uuid) || order.closed_at != 0
            || order.deleted_at != 0)
            continue;
        seen.insert(order.uuid);
        result.append(order);
    }
    return result;
}

// Every role of every row, one line per row.
QStringList rowsOf(const QAbstractItemModel &model)
{
    QStringList result;
    for (int row = 0; row < model.rowCount(); ++row) {
        QStringList roles;
        for (int role = InWorkOrdersModel::IdRole; role <= InWorkOrdersModel::DeletedAtRole; ++role)
            roles.append(model.index(row, 0).data(role).toString());
        result.append(roles.join(QLatin1Char('|')));
    }
    return result;
}

} // namespace

class tst_OrderBoard : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase() { TestEnvironment::init(); }
    void init() { database = std::make_unique<TestDatabase>(); }
    void cleanup() { database.reset(); }

    void inWorkOrders_data();
    void inWorkOrders();
    void columns_data();
    void columns();
    void incrementalMatchesFullRebuild_data();
    void incrementalMatchesFullRebuild();

private:
    std::unique_ptr<TestDatabase> database;
};

void tst_OrderBoard::inWorkOrders_data()
{
    QTest::addColumn<QString>("entities");
    QTest::addColumn<QString>("expected");

    QTest::newRow("one item in work") << "o:A:1 r:RA:A i:I1:RA:work"
                                      << "1";
    QTest::newRow("several items of one receipt give one row")
        << "o:A:1 r:RA:A i:I1:RA:work i:I2:RA:work i:I3:RA:work"
        << "1";
    QTest::newRow("items of several receipts of one order give one row")
        << "o:A:1 r:RA:A r:RB:A i:I1:RA:work i:I2:RB:work"
        << "1";
    QTest::newRow("items not in work give nothing") << "o:A:1 r:RA:A i:I1:RA:idle"
                                                    << "";
    QTest::newRow("receipt missing") << "o:A:1 i:I1:RA:work"
                                     << "";
    QTest::newRow("order missing") << "r:RA:A i:I1:RA:work"
                                   << "";
    QTest::newRow("closed order") << "o:A:1:new:closed r:RA:A i:I1:RA:work"
                                  << "";
    QTest::newRow("deleted order") << "o:A:1:new:deleted r:RA:A i:I1:RA:work"
                                   << "";
    QTest::newRow("order deleted after it was known")
        << "o:A:1 o:B:2 o:A:1:new:deleted r:RA:A r:RB:B i:I1:RA:work i:I2:RB:work"
        << "2";
    QTest::newRow("rows, and the column, in the order of each order's first item in work")
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
    QCOMPARE(Board::numbers(board.preparing), expected);
    QVERIFY(board.writesDone());
}

void tst_OrderBoard::columns_data()
{
    QTest::addColumn<QString>("status");
    QTest::addColumn<bool>("paid");
    QTest::addColumn<bool>("showNonPaid");
    QTest::addColumn<QString>("column");

    QTest::newRow("new, paid, non-paid shown") << "new" << true << true << "preparing";
    QTest::newRow("no status, paid") << "" << true << false << "preparing";
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

void tst_OrderBoard::incrementalMatchesFullRebuild_data()
{
    QTest::addColumn<quint32>("seed");
    for (quint32 seed = 1; seed <= 6; ++seed)
        QTest::addRow("seed %u", seed) << seed;
}

// Random pushes of orders, receipts and items (new, changed, moved to another receipt or order,
// out of work, closed, deleted), list pushes and reloads: after each, the board and both columns
// hold exactly the rows a full rebuild gives, in the same order.
void tst_OrderBoard::incrementalMatchesFullRebuild()
{
    QFETCH(quint32, seed);
    QRandomGenerator random(seed);
    // Items are reloaded through their receipt's shift.
    QVERIFY(TestDatabase::exec(QStringLiteral(
        "INSERT INTO shift (uuid, type, number, created_at) VALUES ('S', 'general', 1, 1)")));
    Board board;
    const auto pick = [&random](const char *prefix, int count) {
        return QString::fromLatin1(prefix) + QString::number(random.bounded(count));
    };
    const QStringList statuses { QStringLiteral("new"), QStringLiteral("cooking"),
        QStringLiteral("packaged"), QStringLiteral("packaged"), QStringLiteral("given") };
    bool nonPaidShown = false;
    int stepsWithRows = 0;
    bool readySeen = false;
    // A busy board to start from.
    for (int i = 0; i < 10; ++i) {
        board.order(QStringLiteral("O%1").arg(i), i + 1, statuses.at(i % statuses.size()), i % 3);
        board.receipt(QStringLiteral("R%1").arg(i), QStringLiteral("O%1").arg(i));
        board.item(QStringLiteral("I%1").arg(i), QStringLiteral("R%1").arg(i), true);
    }

    for (int step = 0; step < 120; ++step) {
        const int kind = random.bounded(100);
        if (kind < 25) {
            const int chance = random.bounded(10);
            board.order(pick("O", 10), random.bounded(1, 100),
                statuses.at(random.bounded(int(statuses.size()))), random.bounded(3) != 0,
                chance == 0 ? 1700000100 : 0, chance == 1 ? 1700000200 : 0);
        } else if (kind < 45) {
            board.receipt(pick("R", 14), random.bounded(12) == 0 ? QString() : pick("O", 11));
        } else if (kind < 88) {
            board.item(pick("I", 40), pick("R", 15), random.bounded(3) != 0,
                random.bounded(10) == 0 ? 1700000300 : 0);
        } else if (kind < 93) {
            QList<ReceiptItem> list(random.bounded(1, 4));
            QList<ReceiptItem *> pointers;
            for (ReceiptItem &item : list) {
                item.uuid = pick("I", 40);
                item.receipt_uuid = pick("R", 15);
                item.in_work = random.bounded(2) == 1;
                item.deleted_at = random.bounded(6) == 0 ? 1700000400 : 0;
                pointers.append(&item);
            }
            board.track(board.items.insert(pointers));
        } else if (kind < 98) {
            EntityModel *models[] = { &board.orders, &board.receipts, &board.items };
            QVERIFY(waitFor(models[random.bounded(3)]->update(Board::shiftUuid)));
        } else if (!nonPaidShown) {
            nonPaidShown = true;
            board.preparing.showNonPaidOrders();
            board.ready.showNonPaidOrders();
        }

        // The same rows as the full rebuild, and through fresh columns over it.
        QStandardItemModel rebuilt;
        for (const Order &order : rebuiltBoard(board)) {
            auto *row = new QStandardItem;
            InWorkOrdersModel::Role role = InWorkOrdersModel::IdRole;
            for (const QVariant &value :
                { QVariant(order.id), QVariant(order.uuid), QVariant(order.number),
                    QVariant(order.shift_id), QVariant(order.shift_uuid), QVariant(order.type),
                    QVariant(qlonglong(order.created_at)), QVariant(qlonglong(order.closed_at)),
                    QVariant(order.created_by), QVariant(order.client_id),
                    QVariant(order.client_uuid), QVariant(order.status), QVariant(order.comment),
                    QVariant(order.table_id), QVariant(order.number_guests),
                    QVariant(order.is_paid), QVariant(order.is_closed), QVariant(order.is_shipped),
                    QVariant(), QVariant(qlonglong(order.deleted_at)) }) {
                row->setData(value, role);
                role = InWorkOrdersModel::Role(role + 1);
            }
            rebuilt.appendRow(row);
        }
        PreparingOrdersModel preparing;
        ReadyOrdersModel ready;
        preparing.setSourceModel(&rebuilt);
        ready.setSourceModel(&rebuilt);
        if (nonPaidShown) {
            preparing.showNonPaidOrders();
            ready.showNonPaidOrders();
        }
        QCOMPARE(rowsOf(board.inWork), rowsOf(rebuilt));
        QCOMPARE(rowsOf(board.preparing), rowsOf(preparing));
        QCOMPARE(rowsOf(board.ready), rowsOf(ready));
        stepsWithRows += board.inWork.rowCount() > 1;
        readySeen = readySeen || board.ready.rowCount() > 0;
    }
    // The sequence reached a busy board, not only an empty one.
    QVERIFY2(stepsWithRows > 60 && readySeen, qPrintable(QString::number(stepsWithRows)));
    QVERIFY(board.writesDone());
}

QTEST_GUILESS_MAIN(tst_OrderBoard)
#include "tst_orderboard.moc"
