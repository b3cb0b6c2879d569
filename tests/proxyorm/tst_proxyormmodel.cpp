#include "proxytestroles.h"
#include "testlistmodel.h"
#include "viewmirror.h"

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
    void sorts_data();
    void sorts();
    void sortsLargePresortedAndTiedInputs();
    void roleWithoutSourceWarnsOnEveryRead();
    void addedSourceChange_data();
    void addedSourceChange();
    void firstDataLoadReachesViews();
    void destroyedSourceModelLeavesNoRows();
    void destroyedAddedSourceIsForgotten();
};

void TestProxyOrmModel::passesRowsThroughBeforeFirstRebuild()
{
    TestListModel source;
    source.resetRows(keyed({ 10, 11, 12 }));
    ProxyOrmModel proxy(&source, roleMap());
    QCOMPARE(proxy.data(proxy.index(2, 0), Key), QVariant(12));
    QCOMPARE(proxy.data(proxy.index(3, 0), Key), QVariant());

    ProxyOrmModel empty(nullptr, roleMap());
    empty.invalidate();
    QCOMPARE(empty.rowCount(), 0);
    QCOMPARE(empty.data(empty.index(0, 0), Key), QVariant());
}

void TestProxyOrmModel::sorts_data()
{
    QTest::addColumn<QVariantList>("keys");
    QTest::addColumn<int>("order");
    QTest::addColumn<QVariantList>("expectedIds");

    // Plain ints, lower-case texts, nulls and ties are the cross-check's; these are the other types.
    const double nan = std::nan("");
    QTest::newRow("texts case-sensitive")
        << QVariantList { "a", "B", "c" } << int(Qt::AscendingOrder) << intList({ 1, 0, 2 });
    QTest::newRow("ints and doubles as numbers")
        << QVariantList { 2.5, 1, 3, 1.5f } << int(Qt::AscendingOrder) << intList({ 1, 3, 0, 2 });
    QTest::newRow("unordered values stay in order after the ordered")
        << QVariantList { qlonglong(5), 3, QVariant(), nan, true, 1 } << int(Qt::AscendingOrder)
        << intList({ 5, 1, 0, 2, 3, 4 });
    QTest::newRow("all qlonglong keep their order")
        << QVariantList { qlonglong(4), qlonglong(3), qlonglong(2), qlonglong(1) }
        << int(Qt::AscendingOrder) << intList({ 0, 1, 2, 3 });
    // No order: grouped by Key instead.
    QTest::newRow("group: int 1 and text 1 are one group")
        << QVariantList { 1, "1", 2 } << -1 << intList({ 0, 2 });
    QTest::newRow("group: null and empty text are one group")
        << QVariantList { QVariant(), QString(""), 2 } << -1 << intList({ 0, 2 });
}

void TestProxyOrmModel::sorts()
{
    QFETCH(QVariantList, keys);
    QFETCH(int, order);
    QFETCH(QVariantList, expectedIds);

    TestListModel source;
    source.resetRows(keyed(keys));
    Watched w(source);
    if (order == -1)
        w.proxy.groupBy(Key);
    else
        w.proxy.sort(Key, Qt::SortOrder(order));
    w.proxy.invalidate();
    QCOMPARE(ids(w.proxy), expectedIds);
    QVERIFY(w.mirror.matches());
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
