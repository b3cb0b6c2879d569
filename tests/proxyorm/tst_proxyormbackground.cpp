#include "proxytestroles.h"
#include "testlistmodel.h"
#include "viewmirror.h"

#include "proxyorm/aggregatebyrow.h"
#include "proxyorm/case.h"
#include "proxyorm/join.h"
#include "proxyorm/proxyormmodel.h"
#include "proxyorm/proxyormvalue.h"

#include <QAbstractItemModelTester>
#include <QElapsedTimer>
#include <QSignalSpy>
#include <QTest>
#include <QThread>
#include <QThreadPool>

#include <memory>

using namespace ProxyOrm;
using namespace ProxyTest;

// Rebuilds on the thread pool over a deliberately slow source model.
class TestProxyOrmBackground : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void cleanup();
    void returnsAtOnceAndInstallsOnOwnThread();
    void secondRequestSupersedesFirst();
    void destroyedWhileRebuilding();
    void sourceChangeWaitsForRunningRebuild();
    void viewsReadWhileRebuilding();
    void dataChangeDuringRebuildLeavesNoStaleCache();
    void valueSecondRequestSupersedesFirst();
    void valueDestroyedMidRun();
    void valueModelChangeWaits();
    void valueCustomAggregateOnOwnThread();
};

namespace {

QList<TestListModel::Row> numbered(int count)
{
    QList<TestListModel::Row> rows;
    for (int i = 0; i < count; ++i)
        rows << row(i, i % 10, i % 7);
    return rows;
}

QList<TestListModel::Row> valued(int count, int value)
{
    QList<TestListModel::Row> rows;
    for (int i = 0; i < count; ++i)
        rows << row(i, i, value);
    return rows;
}

// Joins the Key role of the accepted rows as text, to show which rows reach the custom aggregate.
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

void TestProxyOrmBackground::cleanup()
{
    QThreadPool::globalInstance()->waitForDone();
}

void TestProxyOrmBackground::returnsAtOnceAndInstallsOnOwnThread()
{
    TestListModel source;
    source.resetRows(numbered(400));
    source.setReadDelayMicroseconds(1000);
    ProxyOrmModel proxy(&source, roleMap());
    QAbstractItemModelTester tester(&proxy, QAbstractItemModelTester::FailureReportingMode::QtTest);
    ViewMirror mirror(&proxy, Id);
    QThread *installedOn = nullptr;
    connect(&proxy, &QAbstractItemModel::rowsRemoved, this,
        [&installedOn] { installedOn = QThread::currentThread(); });

    proxy.enabledAsync(true);
    proxy.andWhere(Key, Where(Where::Equal, 3));
    QElapsedTimer timer;
    timer.start();
    proxy.invalidate();
    // 400 reads of 1 ms each would take 400 ms on this thread.
    QVERIFY(timer.elapsed() < 200);
    QCOMPARE(proxy.rowCount(), 400);

    QTRY_COMPARE(proxy.rowCount(), 40);
    QCOMPARE(installedOn, QThread::currentThread());
    QCOMPARE(mirror.takeLog(), (QStringList { "remove 0-359", "data 0-39" }));
    QVERIFY(mirror.matches());
}

void TestProxyOrmBackground::secondRequestSupersedesFirst()
{
    TestListModel source;
    source.resetRows(numbered(2000));
    source.setReadDelayMicroseconds(50);
    ProxyOrmModel proxy(&source, roleMap());
    QAbstractItemModelTester tester(&proxy, QAbstractItemModelTester::FailureReportingMode::QtTest);
    ViewMirror mirror(&proxy, Id);
    proxy.enabledAsync(true);

    proxy.andWhere(Key, Where(Where::Equal, 3));
    proxy.invalidate();
    QTest::qSleep(5);
    const int readsBefore = source.reads();
    proxy.andWhere(Key, Where(Where::Less, 5));
    proxy.invalidate();
    // The first rebuild stopped early instead of reading all 2000 rows.
    QVERIFY(source.reads() - readsBefore < 2000);

    QTRY_COMPARE(proxy.rowCount(), 1000);
    QTest::qWait(20);
    QCOMPARE(mirror.takeLog(), (QStringList { "remove 0-999", "data 0-999" }));
    QVERIFY(mirror.matches());
}

void TestProxyOrmBackground::destroyedWhileRebuilding()
{
    TestListModel source;
    source.resetRows(numbered(1000));
    source.setReadDelayMicroseconds(50);
    for (int round = 0; round < 5; ++round) {
        auto proxy = std::make_unique<ProxyOrmModel>(&source, roleMap());
        AggregateByRow sum(&source, Key, Value, TypeAggregate::Sum, Extra);
        proxy->addSource(&sum);
        proxy->enabledAsync(true);
        proxy->sort(Extra, Qt::AscendingOrder);
        proxy->invalidate();
        QTest::qSleep(round);
        proxy.reset();
        // The queued installation of the abandoned rebuild must not reach the destroyed proxy.
        QTest::qWait(5);
    }
    QVERIFY(source.reads() > 0);
}

void TestProxyOrmBackground::sourceChangeWaitsForRunningRebuild()
{
    TestListModel source;
    source.resetRows(numbered(500));
    source.setReadDelayMicroseconds(50);
    ProxyOrmModel proxy(&source, roleMap());
    QAbstractItemModelTester tester(&proxy, QAbstractItemModelTester::FailureReportingMode::QtTest);
    ViewMirror mirror(&proxy, Id);
    proxy.enabledAsync(true);
    proxy.andWhere(Key, Where(Where::Equal, 3));
    proxy.sort(Id, Qt::DescendingOrder);
    proxy.invalidate();
    QTRY_COMPARE(proxy.rowCount(), 50);

    proxy.andWhere(Key, Where(Where::Equal, 4));
    proxy.invalidate();
    source.insertRowAt(0, row(1000, 4));
    source.removeRowsAt(100, 50);
    source.moveRowTo(3, 300);
    QTRY_COMPARE(proxy.rowCount(), 46);
    QCOMPARE(proxy.data(proxy.index(0, 0), Id), QVariant(1000));
    QTRY_VERIFY(mirror.matches());
}

void TestProxyOrmBackground::viewsReadWhileRebuilding()
{
    TestListModel source;
    source.resetRows(numbered(600));
    source.setReadDelayMicroseconds(20);
    AggregateByRow sum(&source, Key, Value, TypeAggregate::Sum, Extra);
    Case label(&source, Key, { { 1, "one" }, { 2, "two" } }, Extra + 1, "many");
    ProxyOrmModel proxy(&source, roleMap());
    proxy.addSource(&sum);
    proxy.addSource(&label);
    proxy.enabledAsync(true);
    proxy.sort(Extra, Qt::DescendingOrder);
    proxy.andWhere(Extra + 1, Where(Where::NotEqual, "many"));

    for (int round = 0; round < 3; ++round) {
        int one = 0, two = 0;
        for (const auto &r : source.rows()) {
            const int key = r.value(Key).toInt();
            if (key == 1)
                one += r.value(Value).toInt();
            else if (key == 2)
                two += r.value(Value).toInt();
        }
        QVariantList expected;
        for (int i = 0; i < 60; ++i)
            expected << std::max(one, two);
        for (int i = 0; i < 60; ++i)
            expected << std::min(one, two);

        proxy.invalidate();
        // Reads from this thread fill the same caches the rebuild fills.
        QElapsedTimer timer;
        timer.start();
        while (column(proxy, Extra) != expected && timer.elapsed() < 5000) {
            for (int row = 0; row < 30; ++row)
                (void)proxy.data(proxy.index(row, 0), Extra + 1);
            QCoreApplication::processEvents();
        }
        QCOMPARE(column(proxy, Extra), expected);
        source.setValue(1 + round * 10, Value, 100 + round);
    }
}

void TestProxyOrmBackground::dataChangeDuringRebuildLeavesNoStaleCache()
{
    // A dataChanged arrives only after the change, so a running rebuild may still be computing a
    // join value from the old key, and cache it after the proxy dropped the caches for the change.
    TestListModel source;
    // Row 0's old key is the last of the names, so the scan for it takes a while.
    source.resetRows({ row(0, 19), row(1, 2), row(2, 3) });
    TestListModel names;
    QList<TestListModel::Row> nameRows;
    for (int i = 0; i < 20; ++i)
        nameRows << row(100 + i, i, QString::number(i));
    names.resetRows(nameRows);
    names.setReadDelayMicroseconds(1000);
    Join join(&source, Key, &names, Key, { { Extra, Value } });
    ProxyOrmModel proxy(&source, roleMap());
    proxy.addSource(&join);
    proxy.enabledAsync(true);
    proxy.andWhere(Extra, Where(Where::Equal, "7"));
    proxy.invalidate();
    // The rebuild is now scanning the names for row 0's old key.
    QTest::qSleep(10);
    source.setValue(0, Key, 7);
    QTRY_COMPARE(column(proxy, Id), QVariantList { 0 });
    QTest::qWait(50);
    QCOMPARE(column(proxy, Id), QVariantList { 0 });
}

void TestProxyOrmBackground::valueSecondRequestSupersedesFirst()
{
    TestListModel model;
    model.resetRows(valued(2000, 1));
    model.setReadDelayMicroseconds(200);
    ProxyOrmValue value(&model, ProxyOrmValue::Sum, Value);
    value.enabledAsync(true);
    QSignalSpy spy(&value, &ProxyOrmValue::changed);
    QVERIFY(spy.isValid());

    // 2000 reads of 0.2 ms each would take 400 ms on this thread.
    QElapsedTimer timer;
    timer.start();
    QMetaObject::invokeMethod(&value, "invalidate");
    QVERIFY(timer.elapsed() < 200);
    QTest::qSleep(5);
    value.where(Id, Where::Less, 100);
    QMetaObject::invokeMethod(&value, "invalidate");
    QTRY_COMPARE(spy.size(), 1);
    QCOMPARE(value.value(), QVariant(100.0));
    QTest::qWait(20);
    QCOMPARE(spy.size(), 1);
}

void TestProxyOrmBackground::valueDestroyedMidRun()
{
    TestListModel model;
    model.resetRows(numbered(1000));
    model.setReadDelayMicroseconds(50);
    for (int round = 0; round < 5; ++round) {
        auto value = std::make_unique<JoinedKeys>(&model, ProxyOrmValue::Custom, Value);
        value->enabledAsync(true);
        value->where(Value, Where::GreaterOrEqual, 0);
        QMetaObject::invokeMethod(value.get(), "invalidate");
        QTest::qSleep(round);
        value.reset();
        QTest::qWait(5);
    }
    QVERIFY(model.reads() > 0);
}

void TestProxyOrmBackground::valueModelChangeWaits()
{
    TestListModel model;
    model.resetRows(valued(500, 2));
    model.setReadDelayMicroseconds(50);
    ProxyOrmValue value(&model, ProxyOrmValue::Count, Value);
    value.enabledAsync(true);
    QMetaObject::invokeMethod(&value, "invalidate");
    model.insertRowAt(0, row(900, 0, 2));
    model.removeRowsAt(10, 20);
    QTRY_COMPARE(value.value(), QVariant(qlonglong(481)));
}

void TestProxyOrmBackground::valueCustomAggregateOnOwnThread()
{
    TestListModel model;
    model.resetRows({ row(0, "a", 5), row(1, "b", 1), row(2, "c", 7), row(3, "d", 3) });
    JoinedKeys value(&model, ProxyOrmValue::Custom, Value);
    value.where(Value, Where::Greater, 2);
    value.where(Key, Where::NotEqual, "d");
    value.enabledAsync(true);
    QMetaObject::invokeMethod(&value, "invalidate");
    QTRY_COMPARE(value.value(), QVariant("ac"));
    QCOMPARE(value.calledOn, QThread::currentThread());
}

QTEST_MAIN(TestProxyOrmBackground)
#include "tst_proxyormbackground.moc"
