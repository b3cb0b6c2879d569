#include "models/modelhandover.h"
#include "models/ordermodel.h"
#include "models/receiptitemmodel.h"
#include "models/receiptmodel.h"
#include "models/reloadtracker.h"
#include "models/shiftmodel.h"
#include "shared/appexception.h"

#include "entities/entitiesrepo.h"
#include "futurewait.h"
#include "logcapture.h"
#include "testdatabase.h"
#include "testenvironment.h"

#include <QAbstractItemModelTester>
#include <QDateTime>
#include <QSignalSpy>
#include <QTest>
#include <QThread>
#include <QThreadPool>
#include <QtConcurrent>

#include <type_traits>
#include <utility>

namespace {

// Waits for the future and tells whether it finished without an exception.
bool finishedCleanly(const VoidFuture &future)
{
    if (!waitFor(future))
        return false;
    try {
        VoidFuture(future).waitForFinished();
    } catch (...) {
        return false;
    }
    return !future.isCanceled();
}

QString storedUuids(const QString &table)
{
    return TestDatabase::textColumn(
        QStringLiteral("SELECT uuid FROM '%1' ORDER BY uuid").arg(table))
        .join(QLatin1Char(','));
}

qint64 daysAgo(int days)
{
    return QDateTime::currentSecsSinceEpoch() - qint64(days) * 86400;
}

// Runs pool tasks one at a time in the order they were started while it exists, so a reload's
// SELECT surely runs before a write started after it.
class SerialPool
{
public:
    SerialPool()
        : previous(QThreadPool::globalInstance()->maxThreadCount())
    {
        QThreadPool::globalInstance()->waitForDone();
        QThreadPool::globalInstance()->setMaxThreadCount(1);
    }
    ~SerialPool() { QThreadPool::globalInstance()->setMaxThreadCount(previous); }

private:
    int previous;
};

// Quotes and a marker in the shift uuid: values reach SQL only as bound parameters.
const QString shiftOf = QStringLiteral("it's %1");
constexpr qint64 after2038 = 4102444800;

// What the suite needs of each entity model: how to make a record of the shift with a value
// that a push changes ("mark"), how to retire one (deleted, or a closed shift), its table, and
// whether QAbstractItemModelTester may watch it (the order and receipt models answer Qt's own
// roles with an empty string, which the tester rejects for the size hint).
template <typename Model> struct Kind;

template <> struct Kind<OrderModel>
{
    using Entity = Order;
    static constexpr auto insert = &EntitiesRepo::insertOrder;
    static constexpr const char *table = "order", *markColumn = "number";
    static constexpr bool tester = false;
    static Order make(const QString &uuid, int mark, const QString &shift = shiftOf)
    {
        Order order;
        order.uuid = uuid;
        order.shift_uuid = shift;
        order.number = mark;
        order.created_at = 1700000000 + mark;
        return order;
    }
    static int mark(const Order &order) { return order.number; }
    static void retire(Order &order) { order.deleted_at = after2038; }
};

template <> struct Kind<ShiftModel>
{
    using Entity = Shift;
    static constexpr auto insert = &EntitiesRepo::insertShift;
    static constexpr const char *table = "shift", *markColumn = "number";
    static constexpr bool tester = true;
    static Shift make(const QString &uuid, int mark, const QString & = shiftOf)
    {
        Shift shift;
        shift.uuid = uuid;
        shift.type = QStringLiteral("general");
        shift.number = mark;
        shift.created_at = 1700000000 + mark;
        return shift;
    }
    static int mark(const Shift &shift) { return shift.number; }
    static void retire(Shift &shift) { shift.closed_at = after2038; }
};

template <> struct Kind<ReceiptModel>
{
    using Entity = Receipt;
    static constexpr auto insert = &EntitiesRepo::insertReceipt;
    static constexpr const char *table = "receipt", *markColumn = "created_by";
    static constexpr bool tester = false;
    static Receipt make(const QString &uuid, int mark, const QString &shift = shiftOf)
    {
        Receipt receipt;
        receipt.uuid = uuid;
        receipt.shift_uuid = shift;
        receipt.order_uuid = QStringLiteral("o");
        receipt.created_at = 1700000000;
        receipt.created_by = mark;
        return receipt;
    }
    static int mark(const Receipt &receipt) { return receipt.created_by; }
    static void retire(Receipt &receipt) { receipt.deleted_at = after2038; }
};

// Items reach a shift through their receipt; the fixture stores one receipt per shift, named
// after it.
template <> struct Kind<ReceiptItemModel>
{
    using Entity = ReceiptItem;
    static constexpr auto insert = &EntitiesRepo::insertReceiptItem;
    static constexpr const char *table = "receipt_item", *markColumn = "menu_id";
    static constexpr bool tester = true;
    static ReceiptItem make(const QString &uuid, int mark, const QString &shift = shiftOf)
    {
        ReceiptItem item;
        item.uuid = uuid;
        item.receipt_uuid = shift;
        item.menu_id = mark;
        return item;
    }
    static int mark(const ReceiptItem &item) { return item.menu_id; }
    // Past 2038: a 32-bit time would read as "not deleted".
    static void retire(ReceiptItem &item) { item.deleted_at = after2038; }
};

// A fresh migrated database and the model under test, with its resets counted and the rows its
// pushes announced taken down ("changed 0", "inserted 2", "removed 1").
template <typename Model> struct Fixture
{
    using K = Kind<Model>;
    using Entity = typename K::Entity;

    Fixture()
    {
        if (K::tester)
            tester = std::make_unique<QAbstractItemModelTester>(
                &model, QAbstractItemModelTester::FailureReportingMode::QtTest);
        const auto note = [this](const char *what, int first, int last) {
            for (int row = first; row <= last; ++row)
                changes.append(QLatin1String(what) + QString::number(row));
        };
        QObject::connect(&model, &QAbstractItemModel::dataChanged,
            [note](const QModelIndex &from, const QModelIndex &to) {
                note("changed ", from.row(), to.row());
            });
        QObject::connect(&model, &QAbstractItemModel::rowsInserted,
            [note](const QModelIndex &, int first, int last) { note("inserted ", first, last); });
        QObject::connect(&model, &QAbstractItemModel::rowsRemoved,
            [note](const QModelIndex &, int first, int last) { note("removed ", first, last); });
        if constexpr (std::is_same_v<Model, ReceiptItemModel>) {
            TestDatabase::exec(
                QStringLiteral("INSERT INTO shift (uuid, type, number, created_at) VALUES "
                               "('it''s %1', 'general', 1, 1), ('T', 'general', 2, 1)"));
            TestDatabase::exec(
                QStringLiteral("INSERT INTO receipt (uuid, shift_uuid, order_uuid) "
                               "VALUES ('it''s %1', 'it''s %1', 'o'), ('T', 'T', 'o')"));
        }
    }

    // The row changes announced since the last call.
    QString takeChanges() { return std::exchange(changes, {}).join(QLatin1String(", ")); }
    bool store(QList<Entity> records)
    {
        QList<Entity *> pointers;
        for (Entity &record : records)
            pointers.append(&record);
        return finishedCleanly(K::insert(pointers));
    }
    bool reload() { return finishedCleanly(model.update(shiftOf)); }
    QString uuids() const
    {
        QStringList result;
        for (int row = 0; row < model.rowCount(); ++row)
            result.append(model.entityAt(row)->uuid);
        return result.join(QLatin1Char(' '));
    }
    int markOf(const QString &uuid) const
    {
        const Entity *found = model.find(uuid);
        return found ? K::mark(*found) : -1;
    }
    QStringList storedMark(const QString &uuid) const
    {
        return TestDatabase::textColumn(
            QStringLiteral("SELECT %1 FROM '%2' WHERE uuid = '%3'")
                .arg(QLatin1String(K::markColumn), QLatin1String(K::table), uuid));
    }

    TestDatabase database;
    Model model;
    std::unique_ptr<QAbstractItemModelTester> tester;
    QSignalSpy resets { &model, &QAbstractItemModel::modelReset };
    QStringList changes;
};

} // namespace

#define FOR_EACH_MODEL(test, ...)                                                                  \
    QFETCH(QString, model);                                                                        \
    if (model == QLatin1String("order"))                                                           \
        test<OrderModel>(__VA_ARGS__);                                                             \
    else if (model == QLatin1String("shift"))                                                      \
        test<ShiftModel>(__VA_ARGS__);                                                             \
    else if (model == QLatin1String("receipt"))                                                    \
        test<ReceiptModel>(__VA_ARGS__);                                                           \
    else                                                                                           \
        test<ReceiptItemModel>(__VA_ARGS__)

// The four entity models over a real migrated database: reloads, pushes announced row by row,
// refused writes taken back, pushes a reload may miss, overlapping reloads and retention.
class TestEntityModels : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase() { TestEnvironment::init(); }

    void reloadSelectsTheShift_data();
    void reloadSelectsTheShift() { FOR_EACH_MODEL(reloadSelectsTheShift); }
    void pushAnnouncesRows_data();
    void pushAnnouncesRows() { FOR_EACH_MODEL(pushAnnouncesRows); }
    void pushesDuringReloadAreKept_data();
    void pushesDuringReloadAreKept() { FOR_EACH_MODEL(pushesDuringReloadAreKept); }
    void failedReadAndWriteKeepRows_data() { models(); }
    void failedReadAndWriteKeepRows() { FOR_EACH_MODEL(failedReadAndWriteKeepRows); }
    void otherEntityIsRefused_data() { models(); }
    void otherEntityIsRefused() { FOR_EACH_MODEL(otherEntityIsRefused); }
    void refusedRowOfAListIsTakenBack();
    void lastGeneralShift();
    void staleReloadDoesNotOverwriteNewer();
    void removeOldOrders();
    void removeOldShifts_data();
    void removeOldShifts();
    void removeOldReceipts();
    void removeOldReceiptItemsIgnoresAge();

    // The two halves of a reload: ordering of reloads and pushes, and the hand-over to the
    // model's thread.
    void laterReloadWins_data();
    void laterReloadWins();
    void pushesToReplay();
    void settledPushesAreForgotten();
    void finishedWorkIsAppliedLater();
    void poolWorkIsAppliedOnContextThread();
    void failureIsCarried();
    void goneContextCancels();

private:
    static void models(const QStringList &expected = {});
    template <typename Model> void reloadSelectsTheShift();
    template <typename Model> void pushAnnouncesRows();
    template <typename Model> void pushesDuringReloadAreKept();
    template <typename Model> void failedReadAndWriteKeepRows();
    template <typename Model> void otherEntityIsRefused();
};

// One row per model; `expected` gives each its own expectation, in the order of the names.
void TestEntityModels::models(const QStringList &expected)
{
    QTest::addColumn<QString>("model");
    QTest::addColumn<QString>("expected");
    const char *names[] = { "order", "shift", "receipt", "receipt item" };
    for (int i = 0; i < 4; ++i)
        QTest::newRow(names[i]) << QString::fromLatin1(names[i]) << expected.value(i);
}

void TestEntityModels::reloadSelectsTheShift_data()
{
    // Every shift is listed, by number from the newest; the others select the shift's live rows.
    models({ "a", "c b a", "a", "a" });
}

template <typename Model> void TestEntityModels::reloadSelectsTheShift()
{
    QFETCH(QString, expected);
    using K = Kind<Model>;
    Fixture<Model> fx;
    typename K::Entity retired = K::make(QStringLiteral("c"), 3);
    K::retire(retired);
    QVERIFY(fx.store({ K::make(QStringLiteral("a"), 1),
        K::make(QStringLiteral("b"), 2, QStringLiteral("T")), retired }));
    QVERIFY(fx.reload());
    QCOMPARE(fx.uuids(), expected);
    QCOMPARE(fx.resets.count(), 1);
}

void TestEntityModels::pushAnnouncesRows_data()
{
    // A deleted order or item leaves at once; a deleted receipt stays until the next reload.
    models({ "changed 0, inserted 2, removed 1|a0 n", "changed 1, inserted 2, changed 0|a0 n a1",
        "changed 0, inserted 2, changed 1|a0 n", "changed 0, inserted 2, removed 1|a0 n" });
}

// A push changes, appends or removes only the rows it concerns, and its write reaches the table.
template <typename Model> void TestEntityModels::pushAnnouncesRows()
{
    QFETCH(QString, expected);
    using K = Kind<Model>;
    Fixture<Model> fx;
    QVERIFY(fx.store({ K::make(QStringLiteral("a0"), 0), K::make(QStringLiteral("a1"), 1) }));
    QVERIFY(fx.reload());
    fx.takeChanges();

    typename K::Entity changed = K::make(QStringLiteral("a0"), 77);
    typename K::Entity added = K::make(QStringLiteral("n"), 50);
    typename K::Entity retired = K::make(QStringLiteral("a1"), 1);
    K::retire(retired);
    for (auto *record : { &changed, &added, &retired })
        QVERIFY(finishedCleanly(fx.model.insert(record)));
    QCOMPARE(fx.takeChanges(), expected.section(QLatin1Char('|'), 0, 0));
    QCOMPARE(fx.resets.count(), 1);
    QCOMPARE(fx.markOf(QStringLiteral("a0")), 77);
    QCOMPARE(fx.storedMark(QStringLiteral("a0")), QStringList { QStringLiteral("77") });
    // What was pushed is stored, so a reload shows the same.
    QVERIFY(fx.reload());
    QCOMPARE(fx.uuids(), expected.section(QLatin1Char('|'), 1));
}

void TestEntityModels::pushesDuringReloadAreKept_data()
{
    models({ "a0 n", "a1 a0 n", "a0 a1 n", "a0 n" });
}

// Pushes written while a reload's SELECT had already run are replayed onto its rows; the serial
// pool makes sure the SELECT runs first.
template <typename Model> void TestEntityModels::pushesDuringReloadAreKept()
{
    QFETCH(QString, expected);
    using K = Kind<Model>;
    Fixture<Model> fx;
    QVERIFY(fx.store({ K::make(QStringLiteral("a0"), 0), K::make(QStringLiteral("a1"), 1) }));
    QVERIFY(fx.reload());

    const SerialPool serial;
    const VoidFuture reload = fx.model.update(shiftOf);
    typename K::Entity changed = K::make(QStringLiteral("a0"), 77);
    typename K::Entity retired = K::make(QStringLiteral("a1"), 1);
    K::retire(retired);
    typename K::Entity added = K::make(QStringLiteral("n"), 2);
    const VoidFuture writes[]
        = { fx.model.insert(&changed), fx.model.insert(&retired), fx.model.insert(&added) };
    QVERIFY(finishedCleanly(reload));
    for (const VoidFuture &write : writes)
        QVERIFY(finishedCleanly(write));
    QCOMPARE(fx.uuids(), expected);
    QCOMPARE(fx.markOf(QStringLiteral("a0")), 77);
}

// A failed reload keeps the rows; a pushed row the database does not have is taken back.
template <typename Model> void TestEntityModels::failedReadAndWriteKeepRows()
{
    using K = Kind<Model>;
    Fixture<Model> fx;
    QVERIFY(fx.store({ K::make(QStringLiteral("a0"), 0) }));
    QVERIFY(fx.reload());
    QVERIFY(TestDatabase::exec(QStringLiteral("DROP TABLE '%1'").arg(QLatin1String(K::table))));

    LogCapture log;
    QVERIFY(waitFor(fx.model.update(shiftOf)));
    QCOMPARE(fx.resets.count(), 1);
    QCOMPARE(log.atLevel(3).size(), 1);

    typename K::Entity changed = K::make(QStringLiteral("a0"), 77);
    typename K::Entity added = K::make(QStringLiteral("n"), 1);
    QVERIFY(waitFor(fx.model.insert(&changed)));
    QVERIFY(waitFor(fx.model.insert(&added)));
    QCOMPARE(fx.uuids(), QStringLiteral("a0"));
    QCOMPARE(fx.markOf(QStringLiteral("a0")), 0);
}

// A record of another type, or none, is logged and changes nothing.
template <typename Model> void TestEntityModels::otherEntityIsRefused()
{
    Fixture<Model> fx;
    LogCapture log;
    Shift shift;
    Order order;
    BaseEntity *other = std::is_same_v<Model, ShiftModel> ? static_cast<BaseEntity *>(&order)
                                                          : static_cast<BaseEntity *>(&shift);
    const VoidFuture refused = fx.model.insert(other);
    QVERIFY(refused.isFinished());
    QVERIFY(finishedCleanly(fx.model.insert(nullptr)));
    QCOMPARE(fx.model.rowCount(), 0);
    QCOMPARE(fx.takeChanges(), QString());
    QCOMPARE(log.atLevel(3).size(), 2);
    QCOMPARE(TestDatabase::textColumn(
                 QStringLiteral("SELECT uuid FROM '%1'").arg(QLatin1String(Kind<Model>::table))),
        QStringList());
}

// The rows of a list the database refuses are not kept; the rest of the list is.
void TestEntityModels::refusedRowOfAListIsTakenBack()
{
    using K = Kind<ShiftModel>;
    Fixture<ShiftModel> fx;
    Shift a = K::make(QStringLiteral("a"), 1), b = K::make(QStringLiteral("b"), 2);
    Shift aAgain = K::make(QStringLiteral("a"), 3);
    QVERIFY(finishedCleanly(fx.model.insert(QList<Shift *> { &a, &b, &aAgain })));
    QCOMPARE(fx.takeChanges(), QStringLiteral("inserted 0, inserted 1, changed 0"));

    LogCapture log;
    Shift invalid = K::make(QStringLiteral("c"), 4);
    invalid.created_at = 0; // the table requires it
    Shift valid = K::make(QStringLiteral("d"), 5);
    QVERIFY(finishedCleanly(fx.model.insert(QList<Shift *> { &invalid, &valid })));
    QCOMPARE(fx.uuids(), QStringLiteral("a b d"));
    QCOMPARE(fx.markOf(QStringLiteral("a")), 3);
    QCOMPARE(storedUuids(QStringLiteral("shift")), QStringLiteral("a,b,d"));
    QCOMPARE(log.atLevel(3).size(), 1);
}

// The board's current shift: the general shift with the highest number, the type spelled exactly.
void TestEntityModels::lastGeneralShift()
{
    using K = Kind<ShiftModel>;
    Fixture<ShiftModel> fx;
    QList<Shift> shifts { K::make(QStringLiteral("s5"), 5), K::make(QStringLiteral("s9"), 9),
        K::make(QStringLiteral("s8"), 8), K::make(QStringLiteral("s7"), 7) };
    shifts[1].type = QStringLiteral("cash");
    shifts[2].type = QStringLiteral("General");
    QVERIFY(fx.store(shifts));
    QVERIFY(fx.reload());
    QCOMPARE(fx.model.lastGeneralShift().uuid, QStringLiteral("s7"));
}

void TestEntityModels::staleReloadDoesNotOverwriteNewer()
{
    using K = Kind<OrderModel>;
    Fixture<OrderModel> fx;
    // Shift A is large enough that its rows usually arrive after those of shift B.
    QList<Order> many;
    for (int i = 0; i < 3000; ++i)
        many.append(K::make(QStringLiteral("a%1").arg(i), i, QStringLiteral("A")));
    QVERIFY(fx.store(many));
    QVERIFY(fx.store({ K::make(QStringLiteral("b1"), 1, QStringLiteral("B")) }));

    const VoidFuture older = fx.model.update(QStringLiteral("A"));
    const VoidFuture newer = fx.model.update(QStringLiteral("B"));
    QVERIFY(finishedCleanly(newer));
    QVERIFY(finishedCleanly(older));
    QCOMPARE(fx.uuids(), QStringLiteral("b1"));
}

void TestEntityModels::removeOldOrders()
{
    Fixture<OrderModel> fx;
    QVERIFY(TestDatabase::exec(QStringLiteral("INSERT INTO shift (uuid, type, number, created_at, "
                                              "closed_at) VALUES ('old', 'general', 1, 1, %1), "
                                              "('recent', 'general', 2, 1, %2), ('open', "
                                              "'general', 3, 1, NULL)")
                                   .arg(daysAgo(3))
                                   .arg(daysAgo(1))));
    const auto order = [](const char *uuid, const char *shift, int closed, int created,
                           int deleted) {
        Order o = Kind<OrderModel>::make(QString::fromLatin1(uuid), 1, QString::fromLatin1(shift));
        o.closed_at = closed ? daysAgo(closed) : 0;
        o.created_at = daysAgo(created);
        o.deleted_at = deleted ? daysAgo(deleted) : 0;
        return o;
    };
    QVERIFY(
        fx.store({ order("gone closed", "old", 3, 4, 0), order("closed recently", "old", 1, 4, 0),
            order("shift recent", "recent", 3, 4, 0), order("open", "old", 0, 4, 0),
            order("gone deleted", "open", 0, 3, 1), order("deleted recently", "open", 0, 1, 1) }));
    QVERIFY(finishedCleanly(fx.model.removeOldEntity(2)));
    QCOMPARE(storedUuids(QStringLiteral("order")),
        QStringLiteral("closed recently,deleted recently,open,shift recent"));
}

void TestEntityModels::removeOldShifts_data()
{
    QTest::addColumn<bool>("withOldGeneral");
    QTest::addColumn<QString>("left");
    QTest::newRow("newest old general survives") << true << "g11,g11b,open,recent";
    QTest::newRow("no old general, nothing goes") << false << "c10,c11,open,recent";
}

void TestEntityModels::removeOldShifts()
{
    QFETCH(bool, withOldGeneral);
    QFETCH(QString, left);
    Fixture<ShiftModel> fx;
    const auto shift = [](const QString &uuid, const char *type, int number, int closed) {
        Shift s = Kind<ShiftModel>::make(uuid, number);
        s.type = QString::fromLatin1(type);
        s.closed_at = closed ? daysAgo(closed) : 0;
        return s;
    };
    const char *type = withOldGeneral ? "general" : "cash";
    const QString prefix = withOldGeneral ? QStringLiteral("g") : QStringLiteral("c");
    QVERIFY(fx.store({ shift(prefix + QStringLiteral("10"), type, 10, 5),
        shift(prefix + QStringLiteral("11"), type, 11, 4),
        shift(QStringLiteral("recent"), "general", 12, 1),
        shift(QStringLiteral("open"), "general", 13, 0) }));
    if (withOldGeneral)
        QVERIFY(fx.store({ shift(QStringLiteral("g11b"), "cash", 11, 3) }));
    QVERIFY(finishedCleanly(fx.model.removeOldEntity(2)));
    QCOMPARE(storedUuids(QStringLiteral("shift")), left);
}

void TestEntityModels::removeOldReceipts()
{
    Fixture<ReceiptModel> fx;
    QVERIFY(TestDatabase::exec(
        QStringLiteral("INSERT INTO 'order' (uuid, shift_uuid) VALUES ('o', 'S')")));
    const auto receipt = [](const char *uuid, const char *order, int created, int deleted) {
        Receipt r = Kind<ReceiptModel>::make(QString::fromLatin1(uuid), 0);
        r.order_uuid = QString::fromLatin1(order);
        r.created_at = daysAgo(created);
        r.deleted_at = deleted ? daysAgo(deleted) : 0;
        return r;
    };
    QVERIFY(fx.store({ receipt("orphan", "gone", 0, 0), receipt("old deleted", "o", 3, 1),
        receipt("new deleted", "o", 1, 1), receipt("kept", "o", 3, 0) }));
    QVERIFY(finishedCleanly(fx.model.removeOldEntity(2)));
    QCOMPARE(storedUuids(QStringLiteral("receipt")), QStringLiteral("kept,new deleted"));
}

void TestEntityModels::removeOldReceiptItemsIgnoresAge()
{
    using K = Kind<ReceiptItemModel>;
    Fixture<ReceiptItemModel> fx;
    ReceiptItem deleted = K::make(QStringLiteral("deleted"), 2);
    deleted.deleted_at = daysAgo(0);
    QVERIFY(fx.store({ K::make(QStringLiteral("kept"), 1), deleted,
        K::make(QStringLiteral("orphan"), 3, QStringLiteral("gone")) }));
    QVERIFY(finishedCleanly(fx.model.removeOldEntity(1000)));
    QCOMPARE(storedUuids(QStringLiteral("receipt_item")), QStringLiteral("kept"));
}

void TestEntityModels::laterReloadWins_data()
{
    QTest::addColumn<bool>("olderFirst");
    QTest::newRow("older arrives first") << true;
    QTest::newRow("newer arrives first") << false;
}

void TestEntityModels::laterReloadWins()
{
    QFETCH(bool, olderFirst);
    ReloadTracker<QString> tracker;
    const quint64 older = tracker.start();
    const quint64 newer = tracker.start();
    QList<QString> missed;
    if (olderFirst) {
        QVERIFY(tracker.finish(older, true, &missed));
        QVERIFY(tracker.finish(newer, true, &missed));
    } else {
        QVERIFY(tracker.finish(newer, true, &missed));
        QVERIFY(!tracker.finish(older, true, &missed));
    }
    // A failed reload is never applied.
    const quint64 failed = tracker.start();
    QVERIFY(!tracker.finish(failed, false, &missed));
}

void TestEntityModels::pushesToReplay()
{
    ReloadTracker<QString> tracker;
    const quint64 settledBefore = tracker.recordPush({ QStringLiteral("before") });
    tracker.settle(settledBefore);
    const quint64 writingBefore = tracker.recordPush({ QStringLiteral("still writing") });
    const quint64 reload = tracker.start();
    const quint64 during = tracker.recordPush({ QStringLiteral("during"), QStringLiteral("too") });
    tracker.settle(during);
    Q_UNUSED(writingBefore)

    QList<QString> missed;
    QVERIFY(tracker.finish(reload, true, &missed));
    // A write that ended before the reload started is in its rows; the others may not be.
    QCOMPARE(missed,
        (QList<QString> {
            QStringLiteral("still writing"), QStringLiteral("during"), QStringLiteral("too") }));
}

void TestEntityModels::settledPushesAreForgotten()
{
    ReloadTracker<QString> tracker;
    tracker.settle(tracker.recordPush({ QStringLiteral("idle") }));
    QCOMPARE(tracker.rememberedPushes(), 0);

    const quint64 reload = tracker.start();
    const quint64 push = tracker.recordPush({ QStringLiteral("p") });
    tracker.settle(push);
    QCOMPARE(tracker.rememberedPushes(), 1);
    QList<QString> missed;
    QVERIFY(tracker.finish(reload, true, &missed));
    QCOMPARE(tracker.rememberedPushes(), 0);

    // A failed reload releases what it held as well.
    const quint64 failing = tracker.start();
    tracker.settle(tracker.recordPush({ QStringLiteral("q") }));
    QVERIFY(!tracker.finish(failing, false, &missed));
    QCOMPARE(tracker.rememberedPushes(), 0);
}

void TestEntityModels::finishedWorkIsAppliedLater()
{
    QObject context;
    int applied = 0;
    const VoidFuture done = ModelHandOver::run(QtFuture::makeReadyFuture(5), &context,
        [&](QFuture<int> work) { applied = work.result(); });
    // Never inside the call, even though the work had finished before it.
    QCOMPARE(applied, 0);
    QVERIFY(!done.isFinished());
    QVERIFY(waitFor(done));
    QCOMPARE(applied, 5);
    QVERIFY(!done.isCanceled());
}

void TestEntityModels::poolWorkIsAppliedOnContextThread()
{
    QObject context;
    QThread *workThread = nullptr;
    QThread *applyThread = nullptr;
    const QFuture<int> work = QtConcurrent::run([&workThread] {
        workThread = QThread::currentThread();
        return 7;
    });
    const VoidFuture done = ModelHandOver::run(
        work, &context, [&](QFuture<int>) { applyThread = QThread::currentThread(); });
    QVERIFY(waitFor(done));
    QVERIFY(workThread != QThread::currentThread());
    QCOMPARE(applyThread, QThread::currentThread());
}

void TestEntityModels::failureIsCarried()
{
    QObject context;
    const VoidFuture done = ModelHandOver::run(
        QtFuture::makeReadyFuture(1), &context, [](QFuture<int>) { throw AppException(); });
    QVERIFY(waitFor(done));
    QVERIFY_THROWS_EXCEPTION(AppException, VoidFuture(done).waitForFinished());
}

void TestEntityModels::goneContextCancels()
{
    bool applied = false;
    VoidFuture done;
    {
        QObject context;
        done = ModelHandOver::run(
            QtFuture::makeReadyFuture(1), &context, [&](QFuture<int>) { applied = true; });
    }
    QVERIFY(waitFor(done));
    QVERIFY(done.isCanceled());
    QVERIFY(!applied);
}

QTEST_GUILESS_MAIN(TestEntityModels)
#include "tst_entitymodels.moc"
