#include "proxyorm/orwhere.h"
#include "proxyorm/where.h"

#include <QTest>

#include <cmath>
#include <limits>

using namespace ProxyOrm;

class TestWhere : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void isAccepted_data();
    void isAccepted();
    void orWhere_data();
    void orWhere();
    void fiveAlternatives();
};

namespace {
const double notANumber = std::numeric_limits<double>::quiet_NaN();
}

void TestWhere::isAccepted_data()
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

void TestWhere::isAccepted()
{
    QFETCH(int, kind);
    QFETCH(QVariant, stored);
    QFETCH(QVariant, tested);
    QFETCH(bool, accepted);

    const Where where(Where::TypeComparison(kind), stored);
    QCOMPARE(where.isAccepted(tested), accepted);
}

void TestWhere::orWhere_data()
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

void TestWhere::orWhere()
{
    QFETCH(QList<Where>, alternatives);
    QFETCH(QVariant, tested);
    QFETCH(bool, accepted);
    QCOMPARE(OrWhere(alternatives).isAccepted(tested), accepted);
}

void TestWhere::fiveAlternatives()
{
    const OrWhere either(Where(Where::Equal, 1), Where(Where::Equal, 2), Where(Where::Equal, 3),
        Where(Where::Equal, 4), Where(Where::IsNull, QVariant()));
    for (const QVariant &v : { QVariant(1), QVariant(4), QVariant() })
        QVERIFY(either.isAccepted(v));
    QVERIFY(!either.isAccepted(6));
}

QTEST_GUILESS_MAIN(TestWhere)
#include "tst_where.moc"
