#include "proxytestroles.h"
#include "testlistmodel.h"

#include "proxyorm/proxyormvalue.h"

#include <QElapsedTimer>
#include <QSignalSpy>
#include <QTest>
#include <QThread>
#include <QThreadPool>

#include <cmath>
#include <memory>

using namespace ProxyOrm;
using namespace ProxyTest;

namespace {

// Sums the Key role of the accepted rows as text, to show which rows reach the custom aggregate.
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

QList<TestListModel::Row> valued(const QVariantList &values, const QVariantList &keys = {})
{
    QList<TestListModel::Row> rows;
    for (int i = 0; i < values.size(); ++i)
        rows << row(i, keys.value(i, i), values.at(i));
    return rows;
}

bool same(const QVariant &actual, const QVariant &expected)
{
    if (actual.metaType() != expected.metaType())
        return false;
    if (expected.typeId() == QMetaType::Double && std::isnan(expected.toDouble()))
        return std::isnan(actual.toDouble());
    return actual == expected;
}

} // namespace

class TestProxyOrmValue : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void cleanup() { QThreadPool::globalInstance()->waitForDone(); }
    void nothingBeforeFirstInvalidate();
    void aggregates_data();
    void aggregates();
    void customAggregateSeesAcceptedRows();
    void secondWhereOnRoleReplacesFirst();
    void followsModel_data();
    void followsModel();
    void disabledDefers();
    void destroyedModelCountsAsNoRows();
    void backgroundSecondRequestSupersedesFirst();
    void backgroundDestroyedMidRun();
    void backgroundModelChangeWaits();
    void backgroundCustomAggregateOnOwnThread();
};

void TestProxyOrmValue::nothingBeforeFirstInvalidate()
{
    TestListModel model;
    model.resetRows(valued({ 1, 2 }));
    ProxyOrmValue value(&model, ProxyOrmValue::Count, Value);
    QSignalSpy spy(&value, &ProxyOrmValue::changed);
    QVERIFY(spy.isValid());
    QCOMPARE(value.value(), QVariant());
    QCOMPARE(value.performInvalidation(), QVariant(qlonglong(2)));
    QCOMPARE(value.value(), QVariant());
}

void TestProxyOrmValue::aggregates_data()
{
    QTest::addColumn<QVariantList>("values");
    QTest::addColumn<int>("kind");
    QTest::addColumn<bool>("filtered");
    QTest::addColumn<QVariant>("expected");

    const double nan = std::nan("");
    const QVariantList four { 3, 1, 2, 4 };
    QTest::newRow("count") << four << int(ProxyOrmValue::Count) << false << QVariant(qlonglong(4));
    QTest::newRow("count filtered")
        << four << int(ProxyOrmValue::Count) << true << QVariant(qlonglong(1));
    QTest::newRow("sum") << four << int(ProxyOrmValue::Sum) << false << QVariant(10.0);
    QTest::newRow("sum of nothing")
        << QVariantList {} << int(ProxyOrmValue::Sum) << false << QVariant(0.0);
    QTest::newRow("sum of number, number text and text")
        << QVariantList { 2, "2.5", "x" } << int(ProxyOrmValue::Sum) << false << QVariant(4.5);
    QTest::newRow("average") << four << int(ProxyOrmValue::Average) << false << QVariant(2.5);
    QTest::newRow("average of nothing")
        << QVariantList {} << int(ProxyOrmValue::Average) << false << QVariant(nan);
    QTest::newRow("min") << QVariantList { 3, 1, 2 } << int(ProxyOrmValue::Min) << false
                         << QVariant(1.0);
    QTest::newRow("max") << QVariantList { 3, 1, 2 } << int(ProxyOrmValue::Max) << false
                         << QVariant(3.0);
    QTest::newRow("min of nothing")
        << QVariantList {} << int(ProxyOrmValue::Min) << false << QVariant();
    QTest::newRow("max of nothing")
        << QVariantList {} << int(ProxyOrmValue::Max) << false << QVariant();
    QTest::newRow("NaN never replaces the minimum")
        << QVariantList { 2.0, nan, 1.0 } << int(ProxyOrmValue::Min) << false << QVariant(1.0);
    QTest::newRow("a NaN first value stays")
        << QVariantList { nan, 5.0 } << int(ProxyOrmValue::Max) << false << QVariant(nan);
    QTest::newRow("custom on the base class")
        << four << int(ProxyOrmValue::Custom) << false << QVariant();
    QTest::newRow("unknown kind") << four << 17 << false << QVariant();
}

void TestProxyOrmValue::aggregates()
{
    QFETCH(QVariantList, values);
    QFETCH(int, kind);
    QFETCH(bool, filtered);
    QFETCH(QVariant, expected);

    TestListModel model;
    model.resetRows(valued(values));
    ProxyOrmValue value(&model, ProxyOrmValue::TypeAggregate(kind), Value);
    if (filtered)
        value.where(Value, Where::Equal, 2);
    QMetaObject::invokeMethod(&value, "invalidate");
    QVERIFY2(same(value.value(), expected), qPrintable(value.value().toString()));
}

void TestProxyOrmValue::customAggregateSeesAcceptedRows()
{
    TestListModel model;
    model.resetRows(valued({ 5, 1, 7, 3 }, { "a", "b", "c", "d" }));
    JoinedKeys value(&model, ProxyOrmValue::Custom, Value);
    value.where(Value, Where::Greater, 2);
    value.where(Key, Where::NotEqual, "d");
    QCOMPARE(value.performInvalidation(), QVariant("ac"));
}

void TestProxyOrmValue::secondWhereOnRoleReplacesFirst()
{
    TestListModel model;
    model.resetRows(valued({ 1, 2, 3 }));
    ProxyOrmValue value(&model, ProxyOrmValue::Sum, Value);
    value.where(Value, Where::Less, 3);
    value.where(Value, Where::Greater, 1);
    QCOMPARE(value.performInvalidation(), QVariant(5.0));
}

void TestProxyOrmValue::followsModel_data()
{
    QTest::addColumn<int>("change");
    QTest::addColumn<bool>("recomputes");
    QTest::addColumn<double>("expected");

    // The model starts with values 1, 2, 3 under Value; the sum is 6.
    QTest::newRow("value role changed") << 0 << true << 13.0;
    QTest::newRow("other role changed") << 1 << false << 6.0;
    QTest::newRow("no roles listed") << 2 << true << 6.0;
    QTest::newRow("row inserted") << 3 << true << 10.0;
    QTest::newRow("row removed") << 4 << true << 5.0;
    QTest::newRow("reset") << 5 << true << 9.0;
    QTest::newRow("move") << 6 << true << 6.0;
    QTest::newRow("layout change") << 7 << true << 6.0;
}

void TestProxyOrmValue::followsModel()
{
    QFETCH(int, change);
    QFETCH(bool, recomputes);
    QFETCH(double, expected);

    TestListModel model;
    model.resetRows(valued({ 1, 2, 3 }));
    ProxyOrmValue value(&model, ProxyOrmValue::Sum, Value);
    QMetaObject::invokeMethod(&value, "invalidate");
    QSignalSpy spy(&value, &ProxyOrmValue::changed);
    QVERIFY(spy.isValid());
    switch (change) {
    case 0:
        model.setValue(0, Value, 8);
        break;
    case 1:
        model.setValue(0, Id, 8);
        break;
    case 2:
        model.setValue(0, Id, 8, false);
        break;
    case 3:
        model.insertRowAt(1, row(9, 0, 4));
        break;
    case 4:
        model.removeRowsAt(0, 1);
        break;
    case 5:
        model.resetRows(valued({ 9 }));
        break;
    case 6:
        model.moveRowTo(0, 2);
        break;
    case 7:
        model.sortByRole(Value, true);
        break;
    }
    QCOMPARE(spy.size(), recomputes ? 1 : 0);
    QCOMPARE(value.value(), QVariant(expected));
}

void TestProxyOrmValue::disabledDefers()
{
    TestListModel model;
    model.resetRows(valued({ 1, 2 }));
    ProxyOrmValue value(&model, ProxyOrmValue::Sum, Value);
    QSignalSpy spy(&value, &ProxyOrmValue::changed);
    QVERIFY(spy.isValid());
    value.enabled(true);
    QCOMPARE(spy.size(), 0);
    value.enabled(false);
    QMetaObject::invokeMethod(&value, "invalidate");
    model.insertRowAt(0, row(5, 0, 10));
    QCOMPARE(value.value(), QVariant());
    QCOMPARE(spy.size(), 0);
    value.enabled(true);
    QCOMPARE(spy.size(), 1);
    QCOMPARE(value.value(), QVariant(13.0));
    value.enabled(true);
    QCOMPARE(spy.size(), 1);
    // Every recomputation is announced, also one that finds the same value.
    QMetaObject::invokeMethod(&value, "invalidate");
    QCOMPARE(spy.size(), 2);
}

void TestProxyOrmValue::destroyedModelCountsAsNoRows()
{
    auto model = std::make_unique<TestListModel>();
    model->resetRows(valued({ 1, 2 }));
    ProxyOrmValue count(model.get(), ProxyOrmValue::Count, Value);
    ProxyOrmValue max(model.get(), ProxyOrmValue::Max, Value);
    QMetaObject::invokeMethod(&count, "invalidate");
    QCOMPARE(count.value(), QVariant(qlonglong(2)));
    model.reset();
    QMetaObject::invokeMethod(&count, "invalidate");
    QMetaObject::invokeMethod(&max, "invalidate");
    QCOMPARE(count.value(), QVariant(qlonglong(0)));
    QCOMPARE(max.value(), QVariant());
}

void TestProxyOrmValue::backgroundSecondRequestSupersedesFirst()
{
    TestListModel model;
    QVariantList values;
    for (int i = 0; i < 2000; ++i)
        values << 1;
    model.resetRows(valued(values));
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

void TestProxyOrmValue::backgroundDestroyedMidRun()
{
    TestListModel model;
    QVariantList values;
    for (int i = 0; i < 1000; ++i)
        values << i;
    model.resetRows(valued(values));
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

void TestProxyOrmValue::backgroundModelChangeWaits()
{
    TestListModel model;
    QVariantList values;
    for (int i = 0; i < 500; ++i)
        values << 2;
    model.resetRows(valued(values));
    model.setReadDelayMicroseconds(50);
    ProxyOrmValue value(&model, ProxyOrmValue::Count, Value);
    value.enabledAsync(true);
    QMetaObject::invokeMethod(&value, "invalidate");
    model.insertRowAt(0, row(900, 0, 2));
    model.removeRowsAt(10, 20);
    QTRY_COMPARE(value.value(), QVariant(qlonglong(481)));
}

void TestProxyOrmValue::backgroundCustomAggregateOnOwnThread()
{
    TestListModel model;
    model.resetRows(valued({ 5, 1, 7 }, { "a", "b", "c" }));
    JoinedKeys value(&model, ProxyOrmValue::Custom, Value);
    value.where(Value, Where::Greater, 2);
    value.enabledAsync(true);
    QMetaObject::invokeMethod(&value, "invalidate");
    QTRY_COMPARE(value.value(), QVariant("ac"));
    QCOMPARE(value.calledOn, QThread::currentThread());
}

QTEST_GUILESS_MAIN(TestProxyOrmValue)
#include "tst_proxyormvalue.moc"
