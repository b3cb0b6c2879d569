#include "proxytest.h"

#include "proxyorm/aggregatebyrow.h"
#include "proxyorm/join.h"
#include "proxyorm/orwhere.h"
#include "proxyorm/proxyormmodel.h"
#include "proxyorm/proxyormvalue.h"

#include <QAbstractItemModelTester>
#include <QElapsedTimer>
#include <QSignalSpy>
#include <QTest>
#include <QThreadPool>

#include <cmath>
#include <functional>
#include <limits>
#include <memory>

using namespace ProxyOrm;
using namespace ProxyTest;

// What the randomized cross-check cannot see: comparisons one by one, large sorts, the reads
// grouped aggregates take, and the hand-overs of work done on the thread pool.
class TestProxyOrm : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void cleanup() { QThreadPool::globalInstance()->waitForDone(); }
    void where_data();
    void where();
    void sortsLargeInputsWithoutDeepRecursion();
    void groupedSumKeepsTypesApart();
    void memoComputesOncePerKey();
    void rebuildRunsOnThePoolAndIsInstalledHere();
    void newerRequestCancelsTheRunningOne();
    void sourceChangesWaitForTheRunningRebuild();
    void destroyedWhileRecomputing();
    void cancelledRebuildLeavesNoStaleCache();
};

namespace {

QList<Row> numbered(int count)
{
    QList<Row> rows;
    for (int i = 0; i < count; ++i)
        rows << row(i, i % 10, i % 7);
    return rows;
}

void invalidate(ProxyOrmValue &value)
{
    QMetaObject::invokeMethod(&value, "invalidate");
}

// Lets every task on the pool finish and what they posted arrive.
void settle()
{
    QThreadPool::globalInstance()->waitForDone();
    QCoreApplication::processEvents();
}

// A proxy that rebuilds on the pool over a slow source, with the model tester and a view.
struct Slow
{
    TestListModel source;
    ProxyOrmModel proxy { &source, roleMap() };
    QAbstractItemModelTester tester { &proxy,
        QAbstractItemModelTester::FailureReportingMode::QtTest };
    ViewMirror view { &proxy, Id };

    Slow(int rows, int delayUs)
        : source(numbered(rows))
    {
        source.delayUs = delayUs;
        proxy.enabledAsync(true);
    }
};

// Joins the Key role of the accepted rows as text, and notes the thread it runs on.
class JoinedKeys : public ProxyOrmValue
{
public:
    using ProxyOrmValue::ProxyOrmValue;
    QVariant customArggregate(const QList<QModelIndex> &indexes) override
    {
        calledOn = QThread::currentThread();
        QString joined;
        for (const QModelIndex &index : indexes)
            joined += index.data(Key).toString();
        return joined;
    }
    QThread *calledOn = nullptr;
};

} // namespace

void TestProxyOrm::where_data()
{
    QTest::addColumn<QList<Where>>("alternatives");
    QTest::addColumn<QVariant>("tested");
    QTest::addColumn<bool>("accepted");

    const auto is = [](Where::TypeComparison kind, const QVariant &stored) {
        return QList<Where> { Where(kind, stored) };
    };
    const QVariant nan(std::nan(""));
    const QVariant text(QString("5"));
    QTest::newRow("null is null") << is(Where::IsNull, {}) << QVariant() << true;
    QTest::newRow("empty text is not null") << is(Where::IsNull, {}) << QVariant("") << false;
    QTest::newRow("null equals null") << is(Where::Equal, {}) << QVariant() << true;
    QTest::newRow("null is no empty text") << is(Where::Equal, {}) << QVariant("") << false;
    QTest::newRow("int equals double") << is(Where::Equal, 2.0) << QVariant(2) << true;
    QTest::newRow("int against 2.6 as int") << is(Where::Equal, 2.6) << QVariant(3) << true;
    QTest::newRow("double against text") << is(Where::Equal, "2.5") << QVariant(2.5) << true;
    QTest::newRow("NaN is not 1.5") << is(Where::NotEqual, 1.5) << nan << true;
    QTest::newRow("9.5 < 10") << is(Where::Less, 10) << QVariant(9.5) << true;
    QTest::newRow("10 not < 10") << is(Where::Less, 10) << QVariant(10) << false;
    QTest::newRow("float < 1.5") << is(Where::Less, 1.5) << QVariant(1.25f) << true;
    QTest::newRow("text unordered") << is(Where::Less, 10) << text << false;
    QTest::newRow("qlonglong unordered") << is(Where::Less, 10) << QVariant(1LL) << false;
    QTest::newRow("NaN unordered") << is(Where::Less, 1.0) << nan << false;
    QTest::newRow("null unordered") << is(Where::Less, 1) << QVariant() << false;
    QTest::newRow("10 <= 10") << is(Where::LessOrEqual, 10) << QVariant(10) << true;
    QTest::newRow("11 > 10") << is(Where::Greater, 10) << QVariant(11) << true;
    QTest::newRow("9 not >= 10") << is(Where::GreaterOrEqual, 10) << QVariant(9) << false;
    QTest::newRow("xaby has ab") << is(Where::Contains, "ab") << QVariant("xaby") << true;
    QTest::newRow("AB lacks ab") << is(Where::Contains, "ab") << QVariant("AB") << false;
    QTest::newRow("123 as text") << is(Where::Contains, "2") << QVariant(123) << true;
    QTest::newRow("empty in all") << is(Where::Contains, "") << QVariant(7) << true;
    QTest::newRow("no text side") << is(Where::Contains, 1) << QVariant(123) << false;
    QTest::newRow("xaby lacks z") << is(Where::NotContains, "z") << QVariant("xaby") << true;
    QTest::newRow("no text, no lack") << is(Where::NotContains, 1) << QVariant(2) << false;
    const QList<Where> oneOrThree { Where(Where::Equal, 1), Where(Where::Equal, 3) };
    QTest::newRow("or: first") << oneOrThree << QVariant(1) << true;
    QTest::newRow("or: second") << oneOrThree << QVariant(3) << true;
    QTest::newRow("or: neither") << oneOrThree << QVariant(2) << false;
    QTest::newRow("or of none: not even null") << QList<Where> {} << QVariant() << false;
}

void TestProxyOrm::where()
{
    QFETCH(QList<Where>, alternatives);
    QFETCH(QVariant, tested);
    QFETCH(bool, accepted);
    QCOMPARE(OrWhere(alternatives).isAccepted(tested), accepted);
    if (alternatives.size() == 1)
        QCOMPARE(alternatives.first().isAccepted(tested), accepted);
}

void TestProxyOrm::sortsLargeInputsWithoutDeepRecursion()
{
    // Presorted, all tied and unordered: inputs that drive a naive quicksort as deep as the rows.
    TestListModel source;
    QVariantList ids;
    for (int i = 0; i < 100000; ++i) {
        source.rows << Row { { Id, i }, { Key, i }, { Value, 7 }, { Extra, qlonglong(i) } };
        ids << i;
    }
    ProxyOrmModel proxy(&source, { { Id, Id }, { Key, Key }, { Value, Value }, { Extra, Extra } });
    for (const int role : { int(Key), int(Value), int(Extra) }) {
        proxy.sort(role);
        proxy.invalidate();
        QCOMPARE(column(proxy, Id), ids);
    }
    proxy.sort(Key, Qt::DescendingOrder);
    proxy.invalidate();
    std::reverse(ids.begin(), ids.end());
    QCOMPARE(column(proxy, Id), ids);
}

void TestProxyOrm::groupedSumKeepsTypesApart()
{
    // A null key and an empty text read as the same text but are different groups, whichever is
    // read first; an int sum that leaves the int range continues as qlonglong.
    const int most = std::numeric_limits<int>::max();
    const TestListModel model({ row(0, {}, 10), row(1, QString(""), 20), row(2, {}, 30),
        row(3, 1, most), row(4, 1, most), row(5, 1, 2) });
    AggregateByRow sum(&model, Key, Value, TypeAggregate::Sum, Extra);
    QVariantList sums;
    for (int row = 0; row < model.rowCount(); ++row)
        sums << sum.data(row, Extra);
    const QVariant big(2 * qlonglong(most) + 2);
    QCOMPARE(sums, (QVariantList { 40, 20, 40, big, big, big }));
    QCOMPARE(sums.last().typeId(), QMetaType::LongLong);
}

void TestProxyOrm::memoComputesOncePerKey()
{
    TestListModel model;
    for (int i = 0; i < 40; ++i)
        model.rows << row(i, i % 4, i);
    AggregateByRow sum(&model, Key, Value, TypeAggregate::Sum, Extra);
    // The sum read at `row` after `change`, and the reads of the model for it and all other rows.
    const auto after = [&](const std::function<void()> &change, int row) {
        model.reads = 0;
        change();
        QVariantList sums;
        for (int r = 0; r < model.rowCount(); ++r)
            sums << sum.data(r, Extra);
        return QVariantList { sums.at(row), model.reads.load() };
    };
    // One look at every row's key and value, which tells later changes apart and the rows of each
    // key, then a scan of its 10 rows (key and value) per distinct key and one key read per row.
    QCOMPARE(after([] {}, 1), (QVariantList { 190, 2 * 40 + 4 * (10 + 10) + 40 }));
    // A changed value rescans its own group only; a changed key the groups it left and joined.
    QCOMPARE(after([&] { model.set(5, Value, { 100 }); }, 1),
        (QVariantList { 285, 2 + (10 + 10) + 40 }));
    QCOMPARE(after([&] { model.set(6, Key, { 1 }); }, 1),
        (QVariantList { 291, 2 + (11 + 11) + (9 + 9) + 40 }));
    // Told twice, as by a proxy before the model's own signal arrives, it rescans nothing.
    QCOMPARE(after([&] { sum.rowsChanged(&model, 6, 6); }, 1), (QVariantList { 291, 2 + 40 }));
    // An inserted or removed row rescans its own group only, once however often it is told.
    const auto insert = [&] {
        model.insert(0, { row(40, 2, 1000) });
        sum.rowsInserted(&model, 0, 0);
    };
    QCOMPARE(after(insert, 0), (QVariantList { 1194, 2 + (10 + 10) + 41 }));
    const auto remove = [&] {
        model.remove(0, 1);
        sum.rowsRemoved(&model, 0, 0);
    };
    QCOMPARE(after(remove, 2), (QVariantList { 194, (9 + 9) + 40 }));
    // Keys of two types fall back to scanning every row (key, and value where it matches): the
    // text "1" equals the int 1 and joins its group.
    QCOMPARE(after([&] { model.set(4, Key, { "1" }); }, 1),
        (QVariantList { 295, 2 + 40 + (40 + 12) * 2 + (40 + 9) }));

    // A moved row puts its group in another order.
    AggregateByRow first(&model, Key, Value, TypeAggregate::First, Extra);
    QCOMPARE(first.data(8, Extra), QVariant(0));
    model.move(8, 0);
    QCOMPARE(first.data(0, Extra), QVariant(8));
}

void TestProxyOrm::rebuildRunsOnThePoolAndIsInstalledHere()
{
    Slow s(400, 1000);
    JoinedKeys custom(&s.source, ProxyOrmValue::Custom, Value);
    custom.enabledAsync(true);
    custom.where(Key, Where::Equal, 3);
    QThread *installedOn = nullptr;
    connect(&s.proxy, &QAbstractItemModel::rowsRemoved, this,
        [&installedOn] { installedOn = QThread::currentThread(); });
    s.proxy.andWhere(Key, Where(Where::Equal, 3));
    QElapsedTimer timer;
    timer.start();
    s.proxy.invalidate();
    invalidate(custom);
    // 400 reads of 1 ms each would take 400 ms on this thread; meanwhile views keep the old rows.
    QVERIFY(timer.elapsed() < 200);
    QCOMPARE(s.proxy.rowCount(), 400);
    QTRY_COMPARE(s.proxy.rowCount(), 40);
    QCOMPARE(installedOn, QThread::currentThread());
    QCOMPARE(s.view.log, (QStringList { "remove 0-359", "data 0-39" }));
    QVERIFY(s.view.matches());
    // The custom aggregate always runs on its object's thread.
    QTRY_COMPARE(custom.value(), QVariant(QString(40, u'3')));
    QCOMPARE(custom.calledOn, QThread::currentThread());
}

void TestProxyOrm::newerRequestCancelsTheRunningOne()
{
    Slow s(2000, 50);
    ProxyOrmValue count(&s.source, ProxyOrmValue::Count, Value);
    count.enabledAsync(true);
    QSignalSpy counted(&count, &ProxyOrmValue::changed);
    s.proxy.andWhere(Key, Where(Where::Equal, 3));
    s.proxy.invalidate();
    invalidate(count);
    QTest::qSleep(5);
    const int readsBefore = s.source.reads;
    s.proxy.andWhere(Key, Where(Where::Less, 5));
    s.proxy.invalidate();
    count.where(Key, Where::Less, 5);
    invalidate(count);
    // The first requests stopped early instead of reading all 2000 rows.
    QVERIFY(s.source.reads - readsBefore < 2000);
    QTRY_COMPARE(s.proxy.rowCount(), 1000);
    settle();
    // Only the newest results arrive.
    QCOMPARE(s.view.log, (QStringList { "remove 0-999", "data 0-999" }));
    QCOMPARE(counted.size(), 1);
    QCOMPARE(count.value(), QVariant(qlonglong(1000)));
}

void TestProxyOrm::sourceChangesWaitForTheRunningRebuild()
{
    Slow s(500, 50);
    ProxyOrmValue count(&s.source, ProxyOrmValue::Count, Value);
    count.enabledAsync(true);
    count.where(Key, Where::Equal, 4);
    s.proxy.andWhere(Key, Where(Where::Equal, 3));
    s.proxy.sort(Id, Qt::DescendingOrder);
    s.proxy.invalidate();
    QTRY_COMPARE(s.proxy.rowCount(), 50);

    s.proxy.andWhere(Key, Where(Where::Equal, 4));
    s.proxy.invalidate();
    invalidate(count);
    s.source.insert(0, { row(1000, 4) });
    s.source.remove(100, 50);
    s.source.move(3, 300);
    QTRY_COMPARE(s.proxy.rowCount(), 46);
    QCOMPARE(s.proxy.data(s.proxy.index(0, 0), Id), QVariant(1000));
    QTRY_VERIFY(s.view.matches());
    QTRY_COMPARE(count.value(), QVariant(qlonglong(46)));
}

void TestProxyOrm::destroyedWhileRecomputing()
{
    TestListModel source(numbered(1000));
    source.delayUs = 50;
    AggregateByRow sum(&source, Key, Value, TypeAggregate::Sum, Extra);
    for (int round = 0; round < 5; ++round) {
        auto proxy = std::make_unique<ProxyOrmModel>(&source, roleMap());
        auto custom = std::make_unique<JoinedKeys>(&source, ProxyOrmValue::Custom, Value);
        proxy->addSource(&sum);
        proxy->enabledAsync(true);
        custom->enabledAsync(true);
        proxy->sort(Extra);
        proxy->invalidate();
        invalidate(*custom);
        // Mid-run, or with the results already posted: nothing may reach the destroyed objects.
        if (round == 4)
            QThreadPool::globalInstance()->waitForDone();
        QTest::qSleep(round);
        proxy.reset();
        custom.reset();
        QCoreApplication::processEvents();
    }
    QVERIFY(source.reads > 0);
}

void TestProxyOrm::cancelledRebuildLeavesNoStaleCache()
{
    // A model announces dataChanged only after the change, so a running rebuild may still compute
    // a join value from the old key and cache it after the proxy dropped the caches for the change.
    TestListModel source({ row(0, 19), row(1, 2), row(2, 3) });
    TestListModel names;
    for (int i = 0; i < 20; ++i)
        names.rows << row(100 + i, i, QString::number(i));
    names.delayUs = 1000;
    Join join(&source, Key, &names, Key, { { Extra, Value } });
    ProxyOrmModel proxy(&source, roleMap());
    proxy.addSource(&join);
    proxy.enabledAsync(true);
    proxy.andWhere(Extra, Where(Where::Equal, "7"));
    proxy.invalidate();
    // Row 0's old key is the last of the names, so the rebuild is still scanning for it.
    QTest::qSleep(10);
    source.set(0, Key, { 7 });
    QTRY_COMPARE(column(proxy, Id), QVariantList { 0 });
    settle();
    QCOMPARE(column(proxy, Id), QVariantList { 0 });
}

QTEST_MAIN(TestProxyOrm)
#include "tst_proxyorm.moc"
