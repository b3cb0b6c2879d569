#include "proxytestroles.h"
#include "testlistmodel.h"
#include "viewmirror.h"

#include "proxyorm/aggregatebyrow.h"
#include "proxyorm/case.h"
#include "proxyorm/join.h"
#include "proxyorm/proxyormmodel.h"

#include <QAbstractItemModelTester>
#include <QSignalSpy>
#include <QTest>

#include <cmath>
#include <memory>

using namespace ProxyOrm;
using namespace ProxyTest;

namespace {

QVariantList ids(const QAbstractItemModel &model)
{
    return column(model, Id);
}

QVariantList intList(std::initializer_list<int> values)
{
    QVariantList list;
    for (int v : values)
        list << v;
    return list;
}

// A proxy under test with the model tester and a view mirror attached.
struct Watched
{
    explicit Watched(const TestListModel &source)
        : proxy(&source, roleMap())
        , tester(&proxy, QAbstractItemModelTester::FailureReportingMode::QtTest)
        , mirror(&proxy, Id)
    { }
    ProxyOrmModel proxy;
    QAbstractItemModelTester tester;
    ViewMirror mirror;
};

} // namespace

class TestProxyOrmModel : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void passesRowsThroughBeforeFirstRebuild();
    void announcesRebuild_data();
    void announcesRebuild();
    void filters_data();
    void filters();
    void groups_data();
    void groups();
    void sorts_data();
    void sorts();
    void sortsLargePresortedAndTiedInputs();
    void roleWithoutSourceWarnsOnEveryRead();
    void disabledDefersRebuild();
    void addedSourceChange_data();
    void addedSourceChange();
    void sourceChangeWithNoRowsEmitsNoInvalidIndexes();
    void viewsFollowSourceChanges_data();
    void viewsFollowSourceChanges();
    void firstDataLoadReachesViews();
    void aggregateAddedAfterProxyIsFreshAfterInsert();
    void joinCacheFreshAfterLeftRowsMove();
    void destroyedSourceModelLeavesNoRows();
    void destroyedAddedSourceIsForgotten();
};

void TestProxyOrmModel::passesRowsThroughBeforeFirstRebuild()
{
    TestListModel source;
    source.resetRows(keyed({ 10, 11, 12, 13, 14 }));
    ProxyOrmModel proxy(&source, roleMap());
    QCOMPARE(proxy.rowCount(), 5);
    QCOMPARE(proxy.data(proxy.index(2, 0), Key), QVariant(12));
    QCOMPARE(proxy.data(proxy.index(2, 0), Qt::DisplayRole), QVariant(2));
    QCOMPARE(proxy.data(proxy.index(5, 0), Key), QVariant());
    QCOMPARE(proxy.rowCount(proxy.index(0, 0)), 0);

    ProxyOrmModel empty(nullptr, roleMap());
    QCOMPARE(empty.rowCount(), 0);
    QCOMPARE(empty.data(empty.index(0, 0), Key), QVariant());
    empty.invalidate();
    QCOMPARE(empty.rowCount(), 0);
}

void TestProxyOrmModel::announcesRebuild_data()
{
    QTest::addColumn<int>("firstKeep");
    QTest::addColumn<int>("secondKeep");
    QTest::addColumn<QStringList>("firstLog");
    QTest::addColumn<QStringList>("secondLog");

    // Rows with keys 0..4; the filter keeps the keys below the given bound.
    QTest::newRow("shrink, then grow") << 3 << 5 << QStringList { "remove 0-1", "data 0-2" }
                                       << QStringList { "insert 0-1", "data 0-4" };
    QTest::newRow("same count") << 5 << 5 << QStringList { "data 0-4" }
                                << QStringList { "data 0-4" };
    QTest::newRow("to none and back")
        << 0 << 2 << QStringList { "remove 0-4" } << QStringList { "insert 0-1", "data 0-1" };
}

void TestProxyOrmModel::announcesRebuild()
{
    QFETCH(int, firstKeep);
    QFETCH(int, secondKeep);
    QFETCH(QStringList, firstLog);
    QFETCH(QStringList, secondLog);

    TestListModel source;
    source.resetRows(keyed({ 0, 1, 2, 3, 4 }));
    Watched w(source);
    w.proxy.andWhere(Key, Where(Where::Less, firstKeep));
    w.proxy.invalidate();
    QCOMPARE(w.mirror.takeLog(), firstLog);
    QVERIFY2(w.mirror.matches(), qPrintable(w.mirror.faults().join('\n')));
    w.proxy.andWhere(Key, Where(Where::Less, secondKeep));
    w.proxy.invalidate();
    QCOMPARE(w.mirror.takeLog(), secondLog);
    QVERIFY(w.mirror.matches());
    QCOMPARE(w.proxy.rowCount(), secondKeep);
}

void TestProxyOrmModel::filters_data()
{
    QTest::addColumn<QVariantList>("keys");
    QTest::addColumn<QVariantList>("values");
    QTest::addColumn<QVariantList>("expectedIds");

    QTest::newRow("no filter") << intList({ 1, 2, 3 }) << intList({ 0, 0, 0 })
                               << intList({ 0, 1, 2 });
    QTest::newRow("filters on two roles combine with and")
        << intList({ 1, 5, 7, 9 }) << intList({ 1, 0, 1, 1 }) << intList({ 2, 3 });
    QTest::newRow("nulls fail ordered filters")
        << QVariantList { QVariant(), 6, "7" } << intList({ 1, 1, 1 }) << intList({ 1 });
}

void TestProxyOrmModel::filters()
{
    QFETCH(QVariantList, keys);
    QFETCH(QVariantList, values);
    QFETCH(QVariantList, expectedIds);

    TestListModel source;
    QList<TestListModel::Row> rows;
    for (int i = 0; i < keys.size(); ++i)
        rows << row(i, keys.at(i), values.at(i));
    source.resetRows(rows);
    Watched w(source);
    if (QByteArray(QTest::currentDataTag()) != "no filter") {
        w.proxy.andWhere(Key, Where(Where::Less, 0));
        // A second filter on the same role replaces the first.
        w.proxy.andWhere(Key, Where(Where::Greater, 4));
        w.proxy.andWhere(Value, OrWhere(Where(Where::Equal, 1), Where(Where::IsNull, {})));
    }
    w.proxy.invalidate();
    QCOMPARE(ids(w.proxy), expectedIds);
    QVERIFY(w.mirror.matches());

    w.proxy.clearWhere(Key);
    w.proxy.invalidate();
    QVERIFY(w.proxy.rowCount() >= expectedIds.size());
    w.proxy.clearWhere();
    w.proxy.invalidate();
    QCOMPARE(w.proxy.rowCount(), keys.size());
    QVERIFY(w.mirror.matches());
}

void TestProxyOrmModel::groups_data()
{
    QTest::addColumn<QVariantList>("keys");
    QTest::addColumn<bool>("filterOutFirst");
    QTest::addColumn<QVariantList>("expectedIds");

    QTest::newRow("first row of each value")
        << intList({ 1, 2, 1, 3 }) << false << intList({ 0, 1, 3 });
    QTest::newRow("with a filter, the first kept row")
        << intList({ 1, 2, 1, 3 }) << true << intList({ 1, 2, 3 });
    QTest::newRow("int 1 and text 1 are one group")
        << QVariantList { 1, "1", 2 } << false << intList({ 0, 2 });
    QTest::newRow("null and empty text are one group")
        << QVariantList { QVariant(), QString(""), 2 } << false << intList({ 0, 2 });
}

void TestProxyOrmModel::groups()
{
    QFETCH(QVariantList, keys);
    QFETCH(bool, filterOutFirst);
    QFETCH(QVariantList, expectedIds);

    TestListModel source;
    source.resetRows(keyed(keys));
    Watched w(source);
    w.proxy.groupBy(Key);
    if (filterOutFirst)
        w.proxy.andWhere(Id, Where(Where::Greater, 0));
    w.proxy.invalidate();
    QCOMPARE(ids(w.proxy), expectedIds);
    QVERIFY(w.mirror.matches());

    w.proxy.groupBy(-1);
    w.proxy.invalidate();
    QCOMPARE(w.proxy.rowCount(), keys.size() - (filterOutFirst ? 1 : 0));
}

void TestProxyOrmModel::sorts_data()
{
    QTest::addColumn<QVariantList>("keys");
    QTest::addColumn<int>("order");
    QTest::addColumn<QVariantList>("expectedIds");

    const double nan = std::nan("");
    QTest::newRow("ascending ints")
        << intList({ 3, 1, 2 }) << int(Qt::AscendingOrder) << intList({ 1, 2, 0 });
    QTest::newRow("texts case-sensitive")
        << QVariantList { "a", "B", "c" } << int(Qt::AscendingOrder) << intList({ 1, 0, 2 });
    QTest::newRow("ints and doubles as numbers")
        << QVariantList { 2.5, 1, 3, 1.5f } << int(Qt::AscendingOrder) << intList({ 1, 3, 0, 2 });
    QTest::newRow("numbers before texts ascending")
        << QVariantList { "b", 7, "a", 1 } << int(Qt::AscendingOrder) << intList({ 3, 1, 2, 0 });
    QTest::newRow("texts before numbers descending")
        << QVariantList { "b", 7, "a", 1 } << int(Qt::DescendingOrder) << intList({ 0, 2, 1, 3 });
    QTest::newRow("ties keep filtered order ascending")
        << intList({ 2, 1, 2, 1 }) << int(Qt::AscendingOrder) << intList({ 1, 3, 0, 2 });
    QTest::newRow("ties keep filtered order descending")
        << intList({ 2, 1, 2, 1 }) << int(Qt::DescendingOrder) << intList({ 0, 2, 1, 3 });
    QTest::newRow("unordered values stay in order after the ordered")
        << QVariantList { qlonglong(5), 3, QVariant(), nan, true, 1 } << int(Qt::AscendingOrder)
        << intList({ 5, 1, 0, 2, 3, 4 });
    QTest::newRow("all qlonglong keep their order")
        << QVariantList { qlonglong(4), qlonglong(3), qlonglong(2), qlonglong(1) }
        << int(Qt::AscendingOrder) << intList({ 0, 1, 2, 3 });
}

void TestProxyOrmModel::sorts()
{
    QFETCH(QVariantList, keys);
    QFETCH(int, order);
    QFETCH(QVariantList, expectedIds);

    TestListModel source;
    source.resetRows(keyed(keys));
    Watched w(source);
    w.proxy.sort(Key, Qt::SortOrder(order));
    w.proxy.invalidate();
    QCOMPARE(ids(w.proxy), expectedIds);
    QVERIFY(w.mirror.matches());

    w.proxy.sort(-1, Qt::AscendingOrder);
    w.proxy.invalidate();
    QCOMPARE(ids(w.proxy), column(source, Id));
}

void TestProxyOrmModel::sortsLargePresortedAndTiedInputs()
{
    // Large inputs that drive a naive quicksort to a recursion as deep as the row count.
    const int count = 100000;
    QList<TestListModel::Row> rows;
    rows.reserve(count);
    for (int i = 0; i < count; ++i)
        rows << TestListModel::Row { { Id, i }, { Key, i }, { Value, 7 },
            { Qt::UserRole + 9, qlonglong(i) } };
    TestListModel source;
    source.resetRows(rows);
    ProxyOrmModel proxy(&source,
        { { Id, Id }, { Key, Key }, { Value, Value }, { Qt::UserRole + 9, Qt::UserRole + 9 } });
    for (const int role : { int(Key), int(Value), Qt::UserRole + 9 }) {
        proxy.sort(role, Qt::AscendingOrder);
        proxy.invalidate();
        QCOMPARE(proxy.rowCount(), count);
        QCOMPARE(proxy.data(proxy.index(0, 0), Id), QVariant(0));
        QCOMPARE(proxy.data(proxy.index(count - 1, 0), Id), QVariant(count - 1));
    }
    proxy.sort(Key, Qt::DescendingOrder);
    proxy.invalidate();
    QCOMPARE(proxy.data(proxy.index(0, 0), Id), QVariant(count - 1));
}

void TestProxyOrmModel::roleWithoutSourceWarnsOnEveryRead()
{
    TestListModel source;
    source.resetRows(keyed({ 3, 1, 2 }));
    ProxyOrmModel proxy(&source, { { Id, Id } });
    QTest::ignoreMessage(QtWarningMsg, "No source found for role: 999");
    QCOMPARE(proxy.data(proxy.index(0, 0), 999), QVariant());

    proxy.sort(999, Qt::AscendingOrder);
    for (int i = 0; i < 3; ++i)
        QTest::ignoreMessage(QtWarningMsg, "No source found for role: 999");
    proxy.invalidate();
    QCOMPARE(ids(proxy), intList({ 0, 1, 2 }));
}

void TestProxyOrmModel::disabledDefersRebuild()
{
    TestListModel source;
    source.resetRows(keyed({ 0, 1, 2, 3 }));
    Watched w(source);
    w.proxy.enabled(true);
    QCOMPARE(w.mirror.takeLog(), QStringList());

    w.proxy.enabled(false);
    w.proxy.andWhere(Key, Where(Where::Less, 2));
    w.proxy.invalidate();
    QCOMPARE(w.proxy.rowCount(), 4);
    QCOMPARE(w.mirror.takeLog(), QStringList());

    w.proxy.enabled(true);
    QCOMPARE(ids(w.proxy), intList({ 0, 1 }));
    QCOMPARE(w.mirror.takeLog(), (QStringList { "remove 0-1", "data 0-1" }));
    w.proxy.enabled(false);
    w.proxy.enabled(true);
    QCOMPARE(w.mirror.takeLog(), QStringList());
    QVERIFY(w.mirror.matches());
}

void TestProxyOrmModel::addedSourceChange_data()
{
    QTest::addColumn<bool>("sortOnExtra");
    QTest::addColumn<QStringList>("log");

    QTest::newRow("display role only")
        << false << QStringList { "data 0-2 [" + QString::number(Extra) + "]" };
    QTest::newRow("sort role rebuilds") << true << QStringList { "data 0-2" };
}

void TestProxyOrmModel::addedSourceChange()
{
    QFETCH(bool, sortOnExtra);
    QFETCH(QStringList, log);

    TestListModel source;
    source.resetRows(keyed({ 1, 2, 3 }));
    TestListModel names;
    names.resetRows({ row(0, 1, "one"), row(1, 2, "two"), row(2, 3, "three") });
    Join join(&source, Key, &names, Key, { { Extra, Value } });
    Watched w(source);
    w.proxy.addSource(&join);
    if (sortOnExtra)
        w.proxy.sort(Extra, Qt::AscendingOrder);
    w.proxy.invalidate();
    w.mirror.takeLog();

    names.setValue(0, Value, "uno");
    QCOMPARE(w.mirror.takeLog(), log);
    QCOMPARE(column(w.proxy, Extra),
        sortOnExtra ? (QVariantList { "three", "two", "uno" })
                    : (QVariantList { "uno", "two", "three" }));
}

void TestProxyOrmModel::sourceChangeWithNoRowsEmitsNoInvalidIndexes()
{
    TestListModel source;
    TestListModel names;
    Join join(&source, Key, &names, Key, { { Extra, Value } });
    Watched w(source);
    w.proxy.addSource(&join);
    w.proxy.invalidate();
    names.insertRowAt(0, row(0, 1, "one"));
    QCOMPARE(w.mirror.takeLog(), QStringList());
    QVERIFY(w.mirror.faults().isEmpty());
}

void TestProxyOrmModel::viewsFollowSourceChanges_data()
{
    QTest::addColumn<bool>("mapped");
    QTest::addColumn<bool>("disabled");
    QTest::newRow("unmapped") << false << false;
    QTest::newRow("mapped") << true << false;
    QTest::newRow("unmapped, disabled") << false << true;
    QTest::newRow("mapped, disabled") << true << true;
}

void TestProxyOrmModel::viewsFollowSourceChanges()
{
    QFETCH(bool, mapped);
    QFETCH(bool, disabled);

    TestListModel source;
    source.resetRows(keyed({ 5, 3, 8, 1, 9, 2 }));
    Watched w(source);
    w.proxy.andWhere(Key, Where(Where::Greater, 1));
    w.proxy.sort(Key, Qt::DescendingOrder);
    if (mapped)
        w.proxy.invalidate();
    if (disabled)
        w.proxy.enabled(false);

    const auto check = [&](const char *step) {
        QVERIFY2(w.mirror.matches(),
            qPrintable(QString::fromLatin1(step) + ": " + w.mirror.faults().join("; ")));
        if (!disabled) {
            QVariantList expected;
            for (const auto &r : source.rows()) {
                if (r.value(Key).toInt() > 1)
                    expected << r.value(Key);
            }
            std::stable_sort(expected.begin(), expected.end(),
                [](const QVariant &a, const QVariant &b) { return a.toInt() > b.toInt(); });
            QCOMPARE(column(w.proxy, Key), expected);
        }
    };

    source.insertRowAt(1, row(10, 7));
    check("insert");
    source.insertRowAt(0, row(11, 0));
    check("insert filtered out");
    source.removeRowsAt(2, 2);
    check("remove");
    source.moveRowTo(0, 3);
    check("move down");
    source.moveRowTo(3, 1);
    check("move up");
    source.sortByRole(Key, false);
    check("layout change");
    source.setValue(1, Key, 100);
    check("set sort value");
    source.setValue(2, Key, 4, false);
    check("data change without roles");
    source.resetRows(keyed({ 4, 6, 2 }));
    check("reset");
    source.removeRowsAt(0, 3);
    check("remove all");

    w.proxy.enabled(true);
    QVERIFY(w.mirror.matches());
    QCOMPARE(w.proxy.rowCount(), 0);
}

void TestProxyOrmModel::firstDataLoadReachesViews()
{
    for (const bool byReset : { true, false }) {
        TestListModel source;
        Watched w(source);
        w.proxy.andWhere(Key, Where(Where::Greater, 1));
        if (byReset)
            source.resetRows(keyed({ 5, 1, 8 }));
        else
            source.insertRowAt(0, row(0, 5));
        QCOMPARE(w.mirror.values(), byReset ? intList({ 0, 2 }) : intList({ 0 }));
        QVERIFY(w.mirror.matches());
    }
}

void TestProxyOrmModel::aggregateAddedAfterProxyIsFreshAfterInsert()
{
    // The proxy connects to the source first, so it hears of an insert before the aggregate
    // does; the aggregate's memo must not answer for the old rows.
    TestListModel source;
    source.resetRows({ row(0, "a", 1), row(1, "b", 5), row(2, "a", 2) });
    // Declared first so that they outlive the proxy, but connected to the model after it.
    std::unique_ptr<AggregateByRow> sum;
    std::unique_ptr<Case> label;
    Watched w(source);
    sum = std::make_unique<AggregateByRow>(&source, Key, Value, TypeAggregate::Sum, Extra);
    label = std::make_unique<Case>(&source, Key,
        QList<std::pair<QVariant, QVariant>> { { "a", "A" }, { "b", "B" } }, Extra + 1, "?");
    w.proxy.addSource(sum.get());
    w.proxy.addSource(label.get());
    w.proxy.sort(Extra, Qt::DescendingOrder);
    w.proxy.invalidate();
    QCOMPARE(column(w.proxy, Extra), intList({ 5, 3, 3 }));

    source.insertRowAt(0, row(3, "a", 10));
    QCOMPARE(column(w.proxy, Extra), intList({ 13, 13, 13, 5 }));
    QCOMPARE(column(w.proxy, Extra + 1), (QVariantList { "A", "A", "A", "B" }));
    source.setValue(1, Key, "b");
    QCOMPARE(column(w.proxy, Extra), intList({ 12, 12, 6, 6 }));
    QVERIFY(w.mirror.matches());
}

void TestProxyOrmModel::joinCacheFreshAfterLeftRowsMove()
{
    TestListModel source;
    source.resetRows({ row(0, 1), row(1, 2), row(2, 3) });
    TestListModel names;
    names.resetRows({ row(0, 1, "one"), row(1, 2, "two"), row(2, 3, "three") });
    Join join(&source, Key, &names, Key, { { Extra, Value } });
    Watched w(source);
    w.proxy.addSource(&join);
    w.proxy.invalidate();
    QCOMPARE(column(w.proxy, Extra), (QVariantList { "one", "two", "three" }));
    source.moveRowTo(0, 2);
    QCOMPARE(column(w.proxy, Extra), (QVariantList { "two", "three", "one" }));
    source.sortByRole(Key, true);
    QCOMPARE(column(w.proxy, Extra), (QVariantList { "three", "two", "one" }));
    QVERIFY(w.mirror.matches());
}

void TestProxyOrmModel::destroyedSourceModelLeavesNoRows()
{
    auto source = std::make_unique<TestListModel>();
    source->resetRows(keyed({ 1, 2, 3 }));
    ProxyOrmModel proxy(source.get(), roleMap());
    QAbstractItemModelTester tester(&proxy, QAbstractItemModelTester::FailureReportingMode::QtTest);
    proxy.invalidate();
    QSignalSpy reset(&proxy, &QAbstractItemModel::modelReset);
    QVERIFY(reset.isValid());
    source.reset();
    QCOMPARE(reset.size(), 1);
    QCOMPARE(proxy.rowCount(), 0);
    QCOMPARE(proxy.data(proxy.index(0, 0), Key), QVariant());
    proxy.invalidate();
    QCOMPARE(proxy.rowCount(), 0);
}

void TestProxyOrmModel::destroyedAddedSourceIsForgotten()
{
    TestListModel source;
    source.resetRows(keyed({ 1, 2 }));
    auto label
        = std::make_unique<Case>(&source, Key, QList<std::pair<QVariant, QVariant>> {}, Extra, "x");
    ProxyOrmModel proxy(&source, roleMap());
    proxy.addSource(label.get());
    proxy.invalidate();
    QCOMPARE(proxy.data(proxy.index(0, 0), Extra), QVariant("x"));
    label.reset();
    QTest::ignoreMessage(QtWarningMsg, "No source found for role: " + QByteArray::number(Extra));
    QCOMPARE(proxy.data(proxy.index(0, 0), Extra), QVariant());
}

QTEST_MAIN(TestProxyOrmModel)
#include "tst_proxyormmodel.moc"
