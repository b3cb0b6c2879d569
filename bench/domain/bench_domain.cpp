#include "entities/entitiesrepo.h"
#include "models/ordermodel.h"
#include "models/receiptitemmodel.h"
#include "models/receiptmodel.h"
#include "models/shiftmodel.h"

#include "testdatabase.h"
#include "testenvironment.h"

#include <QElapsedTimer>
#include <QEventLoop>
#include <QFutureWatcher>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QTest>

#include <algorithm>

namespace {

constexpr int orderCount = 2000;
constexpr int receiptCount = 2000;
constexpr int itemCount = 10000;
constexpr int bulkCount = 10000;
const QString shiftUuid = QStringLiteral("shift-current");

QtMessageHandler previousHandler = nullptr;

// Scope traces would turn every figure into a measurement of the console.
void dropDebugLines(QtMsgType type, const QMessageLogContext &context, const QString &text)
{
    if (type != QtDebugMsg)
        previousHandler(type, context, text);
}

Order makeOrder(int i, const QString &prefix = QStringLiteral("order-"))
{
    Order order;
    order.id = i + 1;
    order.uuid = prefix + QString::number(i);
    order.shift_uuid = shiftUuid;
    order.number = i + 1;
    order.status = QStringLiteral("cooking");
    order.type = QStringLiteral("hall");
    order.comment = QStringLiteral("no onions, it's for table %1").arg(i % 40);
    order.created_at = 1700000000 + i;
    order.created_by = 3;
    return order;
}

Receipt makeReceipt(int i)
{
    Receipt receipt;
    receipt.id = i + 1;
    receipt.uuid = QStringLiteral("receipt-") + QString::number(i);
    receipt.shift_uuid = shiftUuid;
    receipt.order_uuid = QStringLiteral("order-") + QString::number(i % orderCount);
    receipt.created_at = 1700000000 + i;
    receipt.created_by = 3;
    return receipt;
}

ReceiptItem makeItem(int i)
{
    ReceiptItem item;
    item.id = i + 1;
    item.uuid = QStringLiteral("item-") + QString::number(i);
    item.receipt_uuid = QStringLiteral("receipt-") + QString::number(i % receiptCount);
    item.menu_id = i % 120;
    item.quantity = 1 + (i % 3) * 0.5;
    item.in_work = i % 2 == 0;
    item.status = QStringLiteral("cooking");
    item.created_at = 1700000000 + i;
    return item;
}

template <typename Entity> QList<Entity *> pointers(QList<Entity> &records)
{
    QList<Entity *> result;
    result.reserve(records.size());
    for (Entity &record : records)
        result.append(&record);
    return result;
}

// Runs the event loop until the future has finished, waking exactly then: polling would round
// every figure up to its interval.
bool wait(const VoidFuture &future)
{
    if (!future.isFinished()) {
        QEventLoop loop;
        QFutureWatcher<void> watcher;
        QObject::connect(&watcher, &QFutureWatcherBase::finished, &loop, &QEventLoop::quit);
        watcher.setFuture(future);
        loop.exec();
    }
    return !future.isCanceled();
}

// The same rows through one prepared statement with bound values, in one transaction, on the
// calling thread's connection.
bool insertPrepared(const QList<Order> &orders)
{
    QSqlDatabase db = QSqlDatabase::database();
    if (!db.transaction())
        return false;
    QSqlQuery query(db);
    const QStringList columns = Order().columns();
    QStringList marks;
    for (qsizetype i = 0; i < columns.size(); ++i)
        marks.append(QStringLiteral("?"));
    if (!query.prepare(
            QStringLiteral("INSERT INTO 'order' (%1) VALUES (%2)")
                .arg(columns.join(QLatin1String(", ")), marks.join(QLatin1String(", "))))) {
        db.rollback();
        return false;
    }
    auto orNull = [](qint64 value) { return value == 0 ? QVariant() : QVariant(value); };
    auto textOrNull
        = [](const QString &text) { return text.isEmpty() ? QVariant() : QVariant(text); };
    for (const Order &o : orders) {
        const QVariantList values { orNull(o.id), o.uuid, orNull(o.shift_id), o.shift_uuid,
            o.number, o.number_guests, o.status, orNull(o.table_id), o.type, int(o.is_paid),
            int(o.is_shipped), int(o.is_closed), orNull(o.client_id), textOrNull(o.client_uuid),
            textOrNull(o.comment), orNull(o.closed_at), o.created_by, orNull(o.created_at),
            orNull(o.updated_at), orNull(o.deleted_at) };
        for (int i = 0; i < values.size(); ++i)
            query.bindValue(i, values.at(i));
        if (!query.exec()) {
            qWarning() << query.lastError().text();
            db.rollback();
            return false;
        }
    }
    return db.commit();
}

bool clearOrders()
{
    return QSqlQuery().exec(QStringLiteral("DELETE FROM 'order'"));
}

} // namespace

// Reload and push costs of the entity models over a shift of 2,000 orders, 2,000 receipts and
// 10,000 receipt items, and the bulk insert of 10,000 orders against a prepared statement.
class BenchDomain : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void cleanupTestCase();

    void reloadOrders();
    void reloadReceipts();
    void reloadReceiptItems();
    void reloadShifts();
    void pushOrder();
    void pushReceiptItem();
    void bulkInsertAgainstPreparedStatement();

private:
    std::unique_ptr<TestDatabase> database;
};

void BenchDomain::initTestCase()
{
    previousHandler = qInstallMessageHandler(dropDebugLines);
    TestEnvironment::init();
    database = std::make_unique<TestDatabase>();

    QList<Shift> shifts;
    for (int i = 0; i < 30; ++i) {
        Shift shift;
        shift.id = i + 1;
        shift.uuid = i == 29 ? shiftUuid : QStringLiteral("shift-") + QString::number(i);
        shift.type = QStringLiteral("general");
        shift.number = i + 1;
        shift.created_at = 1690000000 + i * 86400;
        shift.closed_at = i == 29 ? 0 : shift.created_at + 43200;
        shifts.append(shift);
    }
    QList<Order> orders;
    for (int i = 0; i < orderCount; ++i)
        orders.append(makeOrder(i));
    QList<Receipt> receipts;
    for (int i = 0; i < receiptCount; ++i)
        receipts.append(makeReceipt(i));
    QList<ReceiptItem> items;
    for (int i = 0; i < itemCount; ++i)
        items.append(makeItem(i));
    QVERIFY(wait(EntitiesRepo::insertShift(pointers(shifts))));
    QVERIFY(wait(EntitiesRepo::insertOrder(pointers(orders))));
    QVERIFY(wait(EntitiesRepo::insertReceipt(pointers(receipts))));
    QVERIFY(wait(EntitiesRepo::insertReceiptItem(pointers(items))));
}

void BenchDomain::cleanupTestCase()
{
    database.reset();
    qInstallMessageHandler(previousHandler);
}

void BenchDomain::reloadOrders()
{
    OrderModel model;
    QBENCHMARK
    {
        QVERIFY(wait(model.update(shiftUuid)));
    }
    QCOMPARE(model.rowCount(), orderCount);
}

void BenchDomain::reloadReceipts()
{
    ReceiptModel model;
    QBENCHMARK
    {
        QVERIFY(wait(model.update(shiftUuid)));
    }
    QCOMPARE(model.rowCount(), receiptCount);
}

void BenchDomain::reloadReceiptItems()
{
    ReceiptItemModel model;
    QBENCHMARK
    {
        QVERIFY(wait(model.update(shiftUuid)));
    }
    QCOMPARE(model.rowCount(), itemCount);
}

void BenchDomain::reloadShifts()
{
    ShiftModel model;
    QBENCHMARK
    {
        QVERIFY(wait(model.update()));
    }
    QCOMPARE(model.rowCount(), 30);
}

void BenchDomain::pushOrder()
{
    OrderModel model;
    QVERIFY(wait(model.update(shiftUuid)));
    int round = 0;
    // Each push changes an order near the end of the list, the worst case of the row walk.
    QBENCHMARK
    {
        Order pushed = makeOrder(orderCount - 1 - (round++ % 10));
        pushed.status = QStringLiteral("packaged");
        QVERIFY(wait(model.insert(&pushed)));
    }
    QCOMPARE(model.rowCount(), orderCount);
}

void BenchDomain::pushReceiptItem()
{
    ReceiptItemModel model;
    QVERIFY(wait(model.update(shiftUuid)));
    int round = 0;
    QBENCHMARK
    {
        ReceiptItem pushed = makeItem(itemCount - 1 - (round++ % 10));
        pushed.in_work = !pushed.in_work;
        QVERIFY(wait(model.insert(&pushed)));
    }
    QCOMPARE(model.rowCount(), itemCount);
}

void BenchDomain::bulkInsertAgainstPreparedStatement()
{
    QList<Order> orders;
    for (int i = 0; i < bulkCount; ++i)
        orders.append(makeOrder(i, QStringLiteral("bulk-")));
    const QList<Order *> list = pointers(orders);

    constexpr int rounds = 5;
    QList<qint64> repoTimes;
    QList<qint64> preparedTimes;
    for (int round = 0; round < rounds; ++round) {
        QVERIFY(clearOrders());
        QElapsedTimer timer;
        timer.start();
        QVERIFY(wait(EntitiesRepo::insertOrder(list)));
        repoTimes.append(timer.nsecsElapsed());

        QVERIFY(clearOrders());
        timer.restart();
        QVERIFY(insertPrepared(orders));
        preparedTimes.append(timer.nsecsElapsed());
    }
    std::sort(repoTimes.begin(), repoTimes.end());
    std::sort(preparedTimes.begin(), preparedTimes.end());
    const double repoMs = repoTimes.at(rounds / 2) / 1e6;
    const double preparedMs = preparedTimes.at(rounds / 2) / 1e6;
    qInfo().noquote() << QStringLiteral("bulk insert of %1 orders, median of %2 rounds: "
                                        "EntitiesRepo %3 ms, prepared statement in one "
                                        "transaction %4 ms, ratio %5")
                             .arg(bulkCount)
                             .arg(rounds)
                             .arg(repoMs, 0, 'f', 1)
                             .arg(preparedMs, 0, 'f', 1)
                             .arg(repoMs / preparedMs, 0, 'f', 2);
    QCOMPARE(QSqlQuery(QStringLiteral("SELECT COUNT(*) FROM 'order'")).next(), true);
}

QTEST_GUILESS_MAIN(BenchDomain)
#include "bench_domain.moc"
