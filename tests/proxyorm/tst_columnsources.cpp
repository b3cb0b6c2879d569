#include "testlistmodel.h"

#include "proxyorm/case.h"
#include "proxyorm/fromsource.h"
#include "proxyorm/indexedabstractmodel.h"
#include "proxyorm/join.h"
#include "proxyorm/joinindexed.h"
#include "proxyorm/orwhere.h"
#include "proxyorm/where.h"

#include <QSignalSpy>
#include <QTest>
#include <QtConcurrent>

#include <limits>
#include <memory>

using namespace ProxyOrm;

namespace {

enum Roles { Key = Qt::UserRole + 1, Name, Price };

// A source whose answers are given by a function; counts how often it computes.
class CountingSource : public ISource
{
public:
    explicit CountingSource(std::function<QVariant(int, int)> answer)
        : m_answer(std::move(answer))
    { }
    QList<int> roles() const override { return { 1, 2 }; }
    QVariant templateData(int row, int role) const override
    {
        ++computed;
        return m_answer(row, role);
    }
    mutable int computed = 0;

private:
    std::function<QVariant(int, int)> m_answer;
};

// Finds rows by the Key role through a hash.
class KeyedModel : public IndexedAbstractModel
{
public:
    explicit KeyedModel(const QList<std::pair<QVariant, QString>> &rows)
        : m_rows(rows)
    {
        for (int i = 0; i < m_rows.size(); ++i)
            m_index.insert(m_rows.at(i).first.toString(), i);
    }
    int rowCount(const QModelIndex &parent = QModelIndex()) const override
    {
        return parent.isValid() ? 0 : int(m_rows.size());
    }
    QVariant data(const QModelIndex &index, int role) const override
    {
        if (!index.isValid())
            return {};
        const auto &row = m_rows.at(index.row());
        return role == Key ? row.first : role == Name ? QVariant(row.second) : QVariant();
    }
    QModelIndex indexOfKey(QVariant key) const override
    {
        const auto it = m_index.constFind(key.toString());
        return it == m_index.constEnd() ? QModelIndex() : index(*it, 0);
    }

private:
    QList<std::pair<QVariant, QString>> m_rows;
    QHash<QString, int> m_index;
};

TestListModel::Row row(const QVariant &key, const QVariant &name = {}, const QVariant &price = {})
{
    return { { Key, key }, { Name, name }, { Price, price } };
}

const double notANumber = std::numeric_limits<double>::quiet_NaN();

} // namespace

class TestColumnSources : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void isAccepted_data();
    void isAccepted();
    void orWhere_data();
    void orWhere();
    void cacheKeepsValuesButNotNulls();
    void invalidateCache_data();
    void invalidateCache();
    void fromSourceAnnouncesModelChanges();
    void join_data();
    void join();
    void joinIndexed();
    void caseMapsByText();
    void caseRecomputesAfterModelChanges();
    void destroyedModelCountsAsMissing();
    void cacheFilledFromTwoThreads();
};

void TestColumnSources::isAccepted_data()
{
    QTest::addColumn<int>("kind");
    QTest::addColumn<QVariant>("stored");
    QTest::addColumn<QVariant>("tested");
    QTest::addColumn<bool>("accepted");

    QTest::newRow("is null: null") << int(Where::IsNull) << QVariant() << QVariant() << true;
    QTest::newRow("is null: int") << int(Where::IsNull) << QVariant() << QVariant(0) << false;
    QTest::newRow("is null: empty text")
        << int(Where::IsNull) << QVariant() << QVariant(QString()) << false;

    QTest::newRow("equal: same text")
        << int(Where::Equal) << QVariant("a") << QVariant("a") << true;
    QTest::newRow("equal: int and double numerically")
        << int(Where::Equal) << QVariant(2.0) << QVariant(2) << true;
    QTest::newRow("equal: int against double 2.6 compared as int")
        << int(Where::Equal) << QVariant(2.6) << QVariant(3) << true;
    QTest::newRow("equal: null against empty text")
        << int(Where::Equal) << QVariant() << QVariant(QString()) << false;
    QTest::newRow("equal: double against text converted")
        << int(Where::Equal) << QVariant("2.5") << QVariant(2.5) << true;
    QTest::newRow("equal: null against null")
        << int(Where::Equal) << QVariant() << QVariant() << true;

    QTest::newRow("not equal: other text")
        << int(Where::NotEqual) << QVariant("a") << QVariant("b") << true;
    QTest::newRow("not equal: NaN against double")
        << int(Where::NotEqual) << QVariant(1.5) << QVariant(notANumber) << true;

    QTest::newRow("less: int 5 < 10") << int(Where::Less) << QVariant(10) << QVariant(5) << true;
    QTest::newRow("less: double 9.5 < 10")
        << int(Where::Less) << QVariant(10) << QVariant(9.5) << true;
    QTest::newRow("less: int 10 not < 10")
        << int(Where::Less) << QVariant(10) << QVariant(10) << false;
    QTest::newRow("less: text is not ordered")
        << int(Where::Less) << QVariant(10) << QVariant("5") << false;
    QTest::newRow("less: qlonglong is not ordered")
        << int(Where::Less) << QVariant(10) << QVariant(qlonglong(1)) << false;
    QTest::newRow("less: float") << int(Where::Less) << QVariant(1.5) << QVariant(1.25f) << true;
    QTest::newRow("less: NaN rejects")
        << int(Where::Less) << QVariant(1.0) << QVariant(notANumber) << false;
    QTest::newRow("less: null rejects") << int(Where::Less) << QVariant(1) << QVariant() << false;
    QTest::newRow("less or equal: 10 <= 10")
        << int(Where::LessOrEqual) << QVariant(10) << QVariant(10) << true;
    QTest::newRow("greater: 11 > 10")
        << int(Where::Greater) << QVariant(10) << QVariant(11) << true;
    QTest::newRow("greater or equal: 9 not >= 10")
        << int(Where::GreaterOrEqual) << QVariant(10) << QVariant(9) << false;

    QTest::newRow("contains: xaby has ab")
        << int(Where::Contains) << QVariant("ab") << QVariant("xaby") << true;
    QTest::newRow("contains: case-sensitive")
        << int(Where::Contains) << QVariant("ab") << QVariant("AB") << false;
    QTest::newRow("contains: int compared as text")
        << int(Where::Contains) << QVariant("2") << QVariant(123) << true;
    QTest::newRow("contains: empty text accepts everything")
        << int(Where::Contains) << QVariant(QString("")) << QVariant(7) << true;
    QTest::newRow("contains: neither side text")
        << int(Where::Contains) << QVariant(1) << QVariant(123) << false;
    QTest::newRow("not contains: missing")
        << int(Where::NotContains) << QVariant("z") << QVariant("xaby") << true;
    QTest::newRow("not contains: neither side text")
        << int(Where::NotContains) << QVariant(1) << QVariant(2) << false;
}

void TestColumnSources::isAccepted()
{
    QFETCH(int, kind);
    QFETCH(QVariant, stored);
    QFETCH(QVariant, tested);
    QFETCH(bool, accepted);

    const Where where(Where::TypeComparison(kind), stored);
    QCOMPARE(where.isAccepted(tested), accepted);
}

void TestColumnSources::orWhere_data()
{
    QTest::addColumn<QList<Where>>("alternatives");
    QTest::addColumn<QVariant>("tested");
    QTest::addColumn<bool>("accepted");

    QTest::newRow("empty rejects even null") << QList<Where> {} << QVariant() << false;
    const QList<Where> oneOrThree { Where(Where::Equal, 1), Where(Where::Equal, 3) };
    QTest::newRow("first") << oneOrThree << QVariant(1) << true;
    QTest::newRow("second") << oneOrThree << QVariant(3) << true;
    QTest::newRow("neither") << oneOrThree << QVariant(2) << false;
}

void TestColumnSources::orWhere()
{
    QFETCH(QList<Where>, alternatives);
    QFETCH(QVariant, tested);
    QFETCH(bool, accepted);
    QCOMPARE(OrWhere(alternatives).isAccepted(tested), accepted);
}

void TestColumnSources::cacheKeepsValuesButNotNulls()
{
    CountingSource source(
        [](int row, int role) { return row == 0 ? QVariant() : QVariant(row * 10 + role); });
    QCOMPARE(source.data(1, 2), QVariant(12));
    QCOMPARE(source.data(1, 2), QVariant(12));
    QCOMPARE(source.computed, 1);

    QCOMPARE(source.data(0, 1), QVariant());
    QCOMPARE(source.data(0, 1), QVariant());
    QCOMPARE(source.computed, 3);
}

void TestColumnSources::invalidateCache_data()
{
    QTest::addColumn<int>("row");
    QTest::addColumn<int>("role");
    // Which of the cells (row 3, role 1), (row 3, role 2), (row 4, role 1) compute again.
    QTest::addColumn<QList<bool>>("recomputed");

    QTest::newRow("whole cache") << -1 << -1 << QList<bool> { true, true, true };
    QTest::newRow("one row") << 3 << -1 << QList<bool> { true, true, false };
    QTest::newRow("one cell") << 3 << 2 << QList<bool> { false, true, false };
    QTest::newRow("one role of every row") << -1 << 1 << QList<bool> { true, false, true };
    QTest::newRow("unknown row") << 9 << -1 << QList<bool> { false, false, false };
}

void TestColumnSources::invalidateCache()
{
    QFETCH(int, row);
    QFETCH(int, role);
    QFETCH(QList<bool>, recomputed);

    CountingSource source([](int r, int ro) { return QVariant(r * 10 + ro); });
    const QList<std::pair<int, int>> cells { { 3, 1 }, { 3, 2 }, { 4, 1 } };
    for (const auto &[r, ro] : cells)
        source.data(r, ro);
    source.invalidateCache(row, role);
    for (int i = 0; i < cells.size(); ++i) {
        const int before = source.computed;
        QCOMPARE(source.data(cells.at(i).first, cells.at(i).second),
            QVariant(cells.at(i).first * 10 + cells.at(i).second));
        QCOMPARE(source.computed - before, recomputed.at(i) ? 1 : 0);
    }
}

void TestColumnSources::fromSourceAnnouncesModelChanges()
{
    TestListModel model;
    FromSource source(&model, { { 301, Key }, { 300, Name } });
    QSignalSpy spy(&source, &ISource::changed);
    QVERIFY(spy.isValid());
    model.resetRows({ row(1) });
    model.insertRowAt(1, row(2));
    model.setValue(0, Key, 5);
    model.moveRowTo(0, 1);
    model.sortByRole(Key, false);
    model.removeRowsAt(0, 1);
    QCOMPARE(spy.size(), 6);
    for (const auto &args : spy)
        QCOMPARE(args.at(0).value<QList<int>>(), (QList<int> { 300, 301 }));
}

void TestColumnSources::join_data()
{
    QTest::addColumn<int>("leftRow");
    QTest::addColumn<int>("role");
    QTest::addColumn<QVariant>("expected");

    QTest::newRow("first of two right rows with the key") << 0 << 500 << QVariant("apple");
    QTest::newRow("second mapped role") << 0 << 501 << QVariant(3);
    QTest::newRow("key absent on the right") << 1 << 500 << QVariant();
    QTest::newRow("null key") << 2 << 500 << QVariant();
    QTest::newRow("row past the end") << 3 << 500 << QVariant();
    QTest::newRow("negative row") << -1 << 500 << QVariant();
    QTest::newRow("role not mapped") << 0 << int(Name) << QVariant();
}

void TestColumnSources::join()
{
    QFETCH(int, leftRow);
    QFETCH(int, role);
    QFETCH(QVariant, expected);

    TestListModel left;
    left.resetRows({ row(1), row(7), row(QVariant()) });
    TestListModel right;
    right.resetRows({ row(2, "pear", 1), row(1, "apple", 3), row(1, "plum", 4) });
    Join join(&left, Key, &right, Key, { { 500, Name }, { 501, Price } });
    QCOMPARE(join.roles(), (QList<int> { 500, 501 }));
    QCOMPARE(join.data(leftRow, role), expected);
}

void TestColumnSources::joinIndexed()
{
    TestListModel left;
    left.resetRows({ row(1), row(7), row(2) });
    KeyedModel right({ { 1, "apple" }, { 2, "pear" } });
    JoinIndexed join(&left, Key, &right, { { 500, Name } });
    QCOMPARE(join.roles(), QList<int> { 500 });
    QCOMPARE(join.data(0, 500), QVariant("apple"));
    QCOMPARE(join.data(1, 500), QVariant());
    QCOMPARE(join.data(2, 500), QVariant("pear"));
    QCOMPARE(join.data(3, 500), QVariant());
    QCOMPARE(join.data(0, 501), QVariant());

    QSignalSpy spy(&join, &ISource::changed);
    QVERIFY(spy.isValid());
    join.invalidate();
    QCOMPARE(spy.size(), 1);
}

void TestColumnSources::caseMapsByText()
{
    TestListModel model(Key, { 1, 2, "1", QVariant() });
    Case mapped(
        &model, Key, { { 1, "one" }, { QVariant("1"), "uno" }, { 2, "two" } }, 600, "other");
    QCOMPARE(mapped.roles(), QList<int> { 600 });
    QCOMPARE(mapped.data(0, 600), QVariant("uno"));
    QCOMPARE(mapped.data(1, 600), QVariant("two"));
    QCOMPARE(mapped.data(2, 0), QVariant("uno"));
    QCOMPARE(mapped.data(3, 600), QVariant("other"));
    QCOMPARE(mapped.data(4, 600), QVariant("other"));
    QCOMPARE(mapped.data(-1, 600), QVariant("other"));

    Case empty(&model, Key, {}, 600, 0);
    QCOMPARE(empty.data(0, 600), QVariant(0));
}

void TestColumnSources::caseRecomputesAfterModelChanges()
{
    TestListModel model(Key, { 1, 2 });
    Case mapped(&model, Key, { { 1, "one" }, { 2, "two" } }, 600, {});
    QSignalSpy spy(&mapped, &ISource::changed);
    QVERIFY(spy.isValid());
    QCOMPARE(mapped.data(0, 600), QVariant("one"));

    model.insertRowAt(0, row(2));
    QCOMPARE(mapped.data(0, 600), QVariant("two"));
    QCOMPARE(mapped.data(1, 600), QVariant("one"));
    model.moveRowTo(0, 1);
    QCOMPARE(mapped.data(0, 600), QVariant("one"));
    model.setValue(2, Key, 1);
    QCOMPARE(mapped.data(2, 600), QVariant("one"));
    model.sortByRole(Key, true);
    QCOMPARE(mapped.data(0, 600), QVariant("two"));
    QCOMPARE(mapped.data(2, 600), QVariant("one"));
    QCOMPARE(spy.size(), 0);
}

void TestColumnSources::destroyedModelCountsAsMissing()
{
    auto left = std::make_unique<TestListModel>();
    left->resetRows({ row(1) });
    auto right = std::make_unique<TestListModel>();
    right->resetRows({ row(1, "apple") });
    FromSource from(left.get(), { { 300, Key } });
    Join join(left.get(), Key, right.get(), Key, { { 500, Name } });
    Case mapped(left.get(), Key, { { 1, "one" } }, 600, "none");
    QCOMPARE(join.data(0, 500), QVariant("apple"));
    QCOMPARE(mapped.data(0, 600), QVariant("one"));

    right.reset();
    join.invalidateCache(-1, -1);
    QCOMPARE(join.data(0, 500), QVariant());
    left.reset();
    mapped.invalidateCache(-1, -1);
    QCOMPARE(from.data(0, 300), QVariant());
    QCOMPARE(mapped.data(0, 600), QVariant("none"));
}

void TestColumnSources::cacheFilledFromTwoThreads()
{
    TestListModel left;
    QList<TestListModel::Row> rows;
    for (int i = 0; i < 300; ++i)
        rows.append(row(i % 50));
    left.resetRows(rows);
    TestListModel right;
    QList<TestListModel::Row> names;
    for (int i = 0; i < 50; ++i)
        names.append(row(i, QString::number(i)));
    right.resetRows(names);
    Join join(&left, Key, &right, Key, { { 500, Name } });

    const auto readAll = [&join] {
        bool ok = true;
        for (int pass = 0; pass < 3; ++pass) {
            for (int i = 0; i < 300; ++i)
                ok = join.data(i, 500) == QVariant(QString::number(i % 50)) && ok;
            join.invalidateCache(-1, -1);
        }
        return ok;
    };
    QFuture<bool> other = QtConcurrent::run(readAll);
    const bool here = readAll();
    QVERIFY(here);
    QVERIFY(other.result());
}

QTEST_GUILESS_MAIN(TestColumnSources)
#include "tst_columnsources.moc"
