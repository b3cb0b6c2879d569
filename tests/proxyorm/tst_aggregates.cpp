#include "testlistmodel.h"

#include "proxyorm/aggregatebyjoin.h"
#include "proxyorm/aggregatebyrow.h"
#include "proxyorm/proxyormvalue.h"

#include <QSignalSpy>
#include <QTest>

#include <cmath>
#include <memory>

using namespace ProxyOrm;

namespace {

enum Roles { Key = Qt::UserRole + 1, Value, Flag, Out = 700 };

TestListModel::Row row(const QVariant &key, const QVariant &value = {}, const QVariant &flag = {})
{
    return { { Key, key }, { Value, value }, { Flag, flag } };
}

QList<TestListModel::Row> rowsOf(const QVariantList &keys, const QVariantList &values)
{
    QList<TestListModel::Row> rows;
    for (int i = 0; i < keys.size(); ++i)
        rows.append(row(keys.at(i), values.at(i)));
    return rows;
}

QVariantList column(const ISource &source, int rows)
{
    QVariantList values;
    for (int i = 0; i < rows; ++i)
        values.append(source.data(i, Out));
    return values;
}

// Compares with types, and NaN equal to NaN.
bool sameValues(const QVariantList &actual, const QVariantList &expected)
{
    if (actual.size() != expected.size())
        return false;
    for (int i = 0; i < actual.size(); ++i) {
        const QVariant &a = actual.at(i);
        const QVariant &e = expected.at(i);
        if (a.metaType() != e.metaType())
            return false;
        if (e.typeId() == QMetaType::Double && std::isnan(e.toDouble()) && std::isnan(a.toDouble()))
            continue;
        if (a != e)
            return false;
    }
    return true;
}

const double notANumber = std::nan("");

} // namespace

class TestAggregates : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void byRow_data();
    void byRow();
    void byJoin_data();
    void byJoin();
    void byJoinFilters();
    void memoKeepsTypesApart();
    void memoComputesOncePerKey();
    void byJoinFollowsJoinModel();
    void copiesFollowTheirModels();
    void intSumPastIntRangeKeepsExactValue();
    void value_data();
    void value();
    void valueFollowsModel();
    void valueDisabledDefers();
    void valueOfDestroyedModelCountsNoRows();
};

void TestAggregates::byRow_data()
{
    QTest::addColumn<QVariantList>("keys");
    QTest::addColumn<QVariantList>("values");
    QTest::addColumn<int>("kind");
    QTest::addColumn<QVariantList>("expected");

    const QVariantList aab { "A", "A", "B" };
    const QVariantList ints { 1, 2, 5 };
    QTest::newRow("count") << aab << ints << int(TypeAggregate::Count) << QVariantList { 2, 2, 1 };
    QTest::newRow("sum") << aab << ints << int(TypeAggregate::Sum) << QVariantList { 3, 3, 5 };
    QTest::newRow("average") << aab << ints << int(TypeAggregate::Average)
                             << QVariantList { 1.5, 1.5, 5.0 };
    QTest::newRow("min") << aab << ints << int(TypeAggregate::Min) << QVariantList { 1, 1, 5 };
    QTest::newRow("max") << aab << ints << int(TypeAggregate::Max) << QVariantList { 2, 2, 5 };
    QTest::newRow("first") << aab << ints << int(TypeAggregate::First) << QVariantList { 1, 1, 5 };
    QTest::newRow("last") << aab << ints << int(TypeAggregate::Last) << QVariantList { 2, 2, 5 };

    QTest::newRow("text sum joins texts") << QVariantList { 1, 1 } << QVariantList { "a", "b" }
                                          << int(TypeAggregate::Sum) << QVariantList { "ab", "ab" };
    QTest::newRow("average over a joined text is zero")
        << QVariantList { 1, 1 } << QVariantList { 4, "x" } << int(TypeAggregate::Average)
        << QVariantList { 0.0, 0.0 };
    QTest::newRow("max of unordered values keeps the first")
        << QVariantList { 1, 1 } << QVariantList { qlonglong(1), qlonglong(5) }
        << int(TypeAggregate::Max) << QVariantList { qlonglong(1), qlonglong(1) };
    QTest::newRow("max of texts") << QVariantList { 1, 1, 1 } << QVariantList { "b", "C", "a" }
                                  << int(TypeAggregate::Max) << QVariantList { "b", "b", "b" };
    QTest::newRow("sum skips values of other types")
        << QVariantList { 1, 1 } << QVariantList { 2, QVariant(qlonglong(5)) }
        << int(TypeAggregate::Sum) << QVariantList { 2, 2 };
    QTest::newRow("null keys form a group")
        << QVariantList { QVariant(), QVariant(), 1 } << QVariantList { 1, 2, 3 }
        << int(TypeAggregate::Count) << QVariantList { 2, 2, 1 };
}

void TestAggregates::byRow()
{
    QFETCH(QVariantList, keys);
    QFETCH(QVariantList, values);
    QFETCH(int, kind);
    QFETCH(QVariantList, expected);

    TestListModel model;
    model.resetRows(rowsOf(keys, values));
    AggregateByRow aggregate(&model, Key, Value, TypeAggregate(kind), Out);
    QCOMPARE(aggregate.roles(), QList<int> { Out });
    const QVariantList actual = column(aggregate, int(keys.size()));
    QVERIFY2(sameValues(actual, expected), qPrintable(QVariant(actual).toString()));
}

void TestAggregates::byJoin_data()
{
    QTest::addColumn<QVariantList>("joinValues");
    QTest::addColumn<int>("kind");
    QTest::addColumn<QVariant>("forKeyA");
    QTest::addColumn<QVariant>("forMissingKey");

    const QVariantList values { 2, 7, 5 };
    QTest::newRow("average") << values << int(TypeAggregate::Average) << QVariant(14.0 / 3)
                             << QVariant(notANumber);
    QTest::newRow("last") << values << int(TypeAggregate::Last) << QVariant(5) << QVariant();
    QTest::newRow("texts are not summed")
        << QVariantList { "a", "b", "c" } << int(TypeAggregate::Sum) << QVariant() << QVariant();
    QTest::newRow("average counts a text but does not add it")
        << QVariantList { 4, "x", QVariant() } << int(TypeAggregate::Average) << QVariant(4.0 / 3)
        << QVariant(notANumber);
}

void TestAggregates::byJoin()
{
    QFETCH(QVariantList, joinValues);
    QFETCH(int, kind);
    QFETCH(QVariant, forKeyA);
    QFETCH(QVariant, forMissingKey);

    TestListModel model;
    model.resetRows({ row("A"), row("Z") });
    TestListModel join;
    QList<TestListModel::Row> joinRows;
    for (const QVariant &value : joinValues) {
        joinRows.append(row("A", value));
        joinRows.append(row("B", 100));
    }
    join.resetRows(joinRows);
    AggregateByJoin aggregate(&model, Key, &join, Key, Value, TypeAggregate(kind), Out, {});
    QVERIFY(sameValues(column(aggregate, 2), { forKeyA, forMissingKey }));
}

void TestAggregates::byJoinFilters()
{
    TestListModel model;
    model.resetRows({ row(1), row(2) });
    TestListModel join;
    join.resetRows({ row(1, 10, "x"), row(1, 20, "y"), row(1, 30, "x"), row(2, 40, "x"),
        row(1, QVariant(), "x") });
    const QMap<int, Where> wheres { { Flag, Where(Where::Equal, "x") },
        { Value, Where(Where::Greater, 15) } };
    AggregateByJoin count(&model, Key, &join, Key, Value, TypeAggregate::Count, Out, wheres);
    QCOMPARE(column(count, 2), (QVariantList { 1, 1 }));
    AggregateByJoin sum(&model, Key, &join, Key, Value, TypeAggregate::Sum, Out,
        { { Flag, Where(Where::Equal, "x") } });
    QCOMPARE(column(sum, 2), (QVariantList { 40, 40 }));
}

void TestAggregates::memoKeepsTypesApart()
{
    // A null key and an empty text read as the same text but are different groups; each shows
    // its own aggregate whichever is read first.
    TestListModel model;
    model.resetRows(rowsOf({ QVariant(), QString(""), QVariant() }, { 10, 20, 30 }));
    AggregateByRow sum(&model, Key, Value, TypeAggregate::Sum, Out);
    QCOMPARE(column(sum, 3), (QVariantList { 40, 20, 40 }));
    AggregateByRow reversed(&model, Key, Value, TypeAggregate::Sum, Out);
    QCOMPARE(reversed.data(1, Out), QVariant(20));
    QCOMPARE(reversed.data(0, Out), QVariant(40));
}

void TestAggregates::memoComputesOncePerKey()
{
    TestListModel model;
    QVariantList keys, values;
    for (int i = 0; i < 40; ++i) {
        keys.append(i % 4);
        values.append(i);
    }
    model.resetRows(rowsOf(keys, values));
    AggregateByRow sum(&model, Key, Value, TypeAggregate::Sum, Out);
    model.resetReads();
    column(sum, 40);
    // One look at every row's key and value, which tells later changes apart and the rows of each
    // key, then a scan of its 10 rows (key and value) per distinct key and one key read per row.
    QCOMPARE(model.reads(), 2 * 40 + 4 * (10 + 10) + 40);

    // A changed value rescans its own group only; a changed key the groups it left and joined.
    model.resetReads();
    model.setValue(5, Value, 100);
    QCOMPARE(column(sum, 40).at(1), QVariant(190 - 5 + 100));
    QCOMPARE(model.reads(), 2 + (10 + 10) + 40);
    model.resetReads();
    model.setValue(6, Key, 1);
    QCOMPARE(column(sum, 40).at(1), QVariant(285 + 6));
    QCOMPARE(model.reads(), 2 + (11 + 11) + (9 + 9) + 40);
    // Told twice, as by a proxy before the model's own signal arrives, it rescans nothing.
    model.resetReads();
    sum.rowsChanged(&model, 6, 6);
    column(sum, 40);
    QCOMPARE(model.reads(), 2 + 40);

    // An inserted or removed row rescans its own group only, once however often it is told.
    model.resetReads();
    model.insertRowAt(0, row(2, 1000));
    sum.rowsInserted(&model, 0, 0);
    QCOMPARE(column(sum, 41).at(0), QVariant(194 + 1000));
    QCOMPARE(model.reads(), 2 + (10 + 10) + 41);
    model.resetReads();
    model.removeRowsAt(0, 1);
    sum.rowsRemoved(&model, 0, 0);
    QCOMPARE(column(sum, 40).at(2), QVariant(194));
    QCOMPARE(model.reads(), (9 + 9) + 40);

    // The null answer of an empty group is remembered too.
    AggregateByRow first(&model, Key, Value, TypeAggregate::First, Out);
    model.resetReads();
    QCOMPARE(first.data(0, Out), QVariant(0));
    const int firstScan = model.reads();
    QCOMPARE(firstScan, 1 + 2 * 40 + 2);
    // A moved row puts its group in another order.
    model.moveRowTo(4, 0);
    QCOMPARE(first.data(0, Out), QVariant(4));
}

void TestAggregates::byJoinFollowsJoinModel()
{
    TestListModel model;
    model.resetRows({ row(1), row(2) });
    TestListModel join;
    join.resetRows({ row(1, 10), row(2, 20) });
    AggregateByJoin sum(&model, Key, &join, Key, Value, TypeAggregate::Sum, Out, {});
    QSignalSpy spy(&sum, &ISource::changed);
    QVERIFY(spy.isValid());
    QCOMPARE(column(sum, 2), (QVariantList { 10, 20 }));

    join.setValue(0, Value, 15);
    QCOMPARE(column(sum, 2), (QVariantList { 15, 20 }));
    join.insertRowAt(0, row(2, 1));
    QCOMPARE(column(sum, 2), (QVariantList { 15, 21 }));
    QCOMPARE(spy.size(), 2);
    QCOMPARE(spy.last().at(0).value<QList<int>>(), QList<int> { Out });
}

void TestAggregates::copiesFollowTheirModels()
{
    TestListModel model;
    model.resetRows(rowsOf({ "A", "B" }, { 1, 2 }));
    TestListModel join;
    join.resetRows({ row("A", 5) });
    const AggregateByRow original(&model, Key, Value, TypeAggregate::Sum, Out);
    AggregateByRow copy(original);
    const AggregateByJoin joinOriginal(&model, Key, &join, Key, Value, TypeAggregate::Sum, Out, {});
    AggregateByJoin joinCopy(joinOriginal);
    QCOMPARE(column(copy, 2), (QVariantList { 1, 2 }));
    QCOMPARE(column(joinCopy, 2), (QVariantList { 5, QVariant() }));

    model.setValue(1, Key, "A");
    QCOMPARE(column(copy, 2), (QVariantList { 3, 3 }));
    join.setValue(0, Value, 6);
    QCOMPARE(column(joinCopy, 2), (QVariantList { 6, 6 }));
}

void TestAggregates::intSumPastIntRangeKeepsExactValue()
{
    TestListModel model;
    model.resetRows(rowsOf({ 1, 1, 1 }, { 2147483647, 2147483647, 2 }));
    AggregateByRow sum(&model, Key, Value, TypeAggregate::Sum, Out);
    QCOMPARE(sum.data(0, Out), QVariant(qlonglong(2147483647) * 2 + 2));
}

// ProxyOrmValue: one aggregate over the accepted rows of a whole model.
void TestAggregates::value_data()
{
    QTest::addColumn<QVariantList>("values");
    QTest::addColumn<int>("kind");
    QTest::addColumn<bool>("filtered");
    QTest::addColumn<QVariant>("expected");

    const QVariantList four { 3, 1, 2, 4 };
    QTest::newRow("count") << four << int(ProxyOrmValue::Count) << false << QVariant(qlonglong(4));
    QTest::newRow("count, second where on a role replaces the first")
        << four << int(ProxyOrmValue::Count) << true << QVariant(qlonglong(1));
    QTest::newRow("sum of nothing")
        << QVariantList {} << int(ProxyOrmValue::Sum) << false << QVariant(0.0);
    QTest::newRow("sum of number, number text and text")
        << QVariantList { 2, "2.5", "x" } << int(ProxyOrmValue::Sum) << false << QVariant(4.5);
    QTest::newRow("average") << four << int(ProxyOrmValue::Average) << false << QVariant(2.5);
    QTest::newRow("average of nothing")
        << QVariantList {} << int(ProxyOrmValue::Average) << false << QVariant(notANumber);
    QTest::newRow("max") << four << int(ProxyOrmValue::Max) << false << QVariant(4.0);
    QTest::newRow("min of nothing")
        << QVariantList {} << int(ProxyOrmValue::Min) << false << QVariant();
    QTest::newRow("NaN never replaces the minimum") << QVariantList { 2.0, notANumber, 1.0 }
                                                    << int(ProxyOrmValue::Min) << false
                                                    << QVariant(1.0);
    QTest::newRow("a NaN first value stays") << QVariantList { notANumber, 5.0 }
                                             << int(ProxyOrmValue::Max) << false
                                             << QVariant(notANumber);
}

void TestAggregates::value()
{
    QFETCH(QVariantList, values);
    QFETCH(int, kind);
    QFETCH(bool, filtered);
    QFETCH(QVariant, expected);

    TestListModel model;
    model.resetRows(rowsOf(values, values));
    ProxyOrmValue value(&model, ProxyOrmValue::TypeAggregate(kind), Value);
    if (filtered) {
        value.where(Value, Where::Equal, 3);
        value.where(Value, Where::Equal, 2);
    }
    QMetaObject::invokeMethod(&value, "invalidate");
    QVERIFY2(sameValues({ value.value() }, { expected }), qPrintable(value.value().toString()));
}

void TestAggregates::valueFollowsModel()
{
    TestListModel model;
    model.resetRows(rowsOf({ 1, 2, 3 }, { 1, 2, 3 }));
    ProxyOrmValue value(&model, ProxyOrmValue::Sum, Value);
    QMetaObject::invokeMethod(&value, "invalidate");
    QSignalSpy spy(&value, &ProxyOrmValue::changed);
    QVERIFY(spy.isValid());
    const auto check = [&](const char *change, bool recomputes, double expected) {
        QVERIFY2(spy.size() == (recomputes ? 1 : 0), change);
        QVERIFY2(value.value() == QVariant(expected), change);
        spy.clear();
    };
    model.setValue(0, Value, 8);
    check("value role", true, 13.0);
    model.setValue(0, Flag, 8);
    check("other role", false, 13.0);
    model.setValue(0, Flag, 9, false);
    check("no roles listed", true, 13.0);
    model.insertRowAt(1, row(0, 4));
    check("insert", true, 17.0);
    model.removeRowsAt(0, 1);
    check("remove", true, 9.0);
    model.moveRowTo(0, 2);
    check("move", true, 9.0);
    model.sortByRole(Value, true);
    check("layout change", true, 9.0);
    model.resetRows({ row(0, 9) });
    check("reset", true, 9.0);
}

void TestAggregates::valueDisabledDefers()
{
    TestListModel model;
    model.resetRows(rowsOf({ 1, 2 }, { 1, 2 }));
    ProxyOrmValue value(&model, ProxyOrmValue::Sum, Value);
    QSignalSpy spy(&value, &ProxyOrmValue::changed);
    QVERIFY(spy.isValid());
    value.enabled(false);
    QMetaObject::invokeMethod(&value, "invalidate");
    model.insertRowAt(0, row(0, 10));
    QCOMPARE(value.value(), QVariant());
    QCOMPARE(spy.size(), 0);
    value.enabled(true);
    QCOMPARE(spy.size(), 1);
    QCOMPARE(value.value(), QVariant(13.0));
    value.enabled(true);
    QCOMPARE(spy.size(), 1);
}

void TestAggregates::valueOfDestroyedModelCountsNoRows()
{
    auto model = std::make_unique<TestListModel>();
    model->resetRows(rowsOf({ 1, 2 }, { 1, 2 }));
    ProxyOrmValue count(model.get(), ProxyOrmValue::Count, Value);
    ProxyOrmValue max(model.get(), ProxyOrmValue::Max, Value);
    model.reset();
    QMetaObject::invokeMethod(&count, "invalidate");
    QMetaObject::invokeMethod(&max, "invalidate");
    QCOMPARE(count.value(), QVariant(qlonglong(0)));
    QCOMPARE(max.value(), QVariant());
}

QTEST_GUILESS_MAIN(TestAggregates)
#include "tst_aggregates.moc"
