#include "models/shiftmodel.h"

#include "logcapture.h"
#include "modelhelpers.h"
#include "testdatabase.h"
#include "testenvironment.h"

#include <QAbstractItemModelTester>
#include <QSignalSpy>
#include <QSqlQuery>
#include <QTest>

using namespace ModelHelpers;

namespace {

Shift makeShift(const QString &uuid, const QString &type, int number, qint64 closedAt = 0)
{
    Shift shift;
    shift.id = number;
    shift.uuid = uuid;
    shift.type = type;
    shift.number = number;
    shift.created_at = 1700000000 + number;
    shift.closed_at = closedAt;
    return shift;
}

bool storeShifts(const QList<Shift> &shifts)
{
    return store(shifts, &EntitiesRepo::insertShift);
}

class ProbeShiftModel : public ShiftModel
{
public:
    QModelIndex rowIndex(int row) const { return createIndex(row, 0); }
};

} // namespace

// The shift model: every shift by number, the newest general shift, pushes and retention.
class TestShiftModel : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void init();
    void cleanup();

    void reloadSortsByNumberWhateverTheArgument();
    void lastGeneralShift();
    void pushedShiftIsAppendedOrReplaced();
    void listInsert();
    void roles_data();
    void roles();
    void failedReloadKeepsRows();
    void removeOldEntity_data();
    void removeOldEntity();
    void pushDuringReloadIsKept();

private:
    std::unique_ptr<TestDatabase> database;
    std::unique_ptr<ProbeShiftModel> model;
    std::unique_ptr<QAbstractItemModelTester> tester;
    std::unique_ptr<QSignalSpy> resets;
};

void TestShiftModel::initTestCase()
{
    TestEnvironment::init();
}

void TestShiftModel::init()
{
    database = std::make_unique<TestDatabase>();
    model = std::make_unique<ProbeShiftModel>();
    tester = std::make_unique<QAbstractItemModelTester>(
        model.get(), QAbstractItemModelTester::FailureReportingMode::QtTest);
    resets = std::make_unique<QSignalSpy>(model.get(), &QAbstractItemModel::modelReset);
    QVERIFY(resets->isValid());
}

void TestShiftModel::cleanup()
{
    resets.reset();
    tester.reset();
    model.reset();
    database.reset();
}

void TestShiftModel::reloadSortsByNumberWhateverTheArgument()
{
    QVERIFY(storeShifts({ makeShift(QStringLiteral("s5"), QStringLiteral("general"), 5, 10),
        makeShift(QStringLiteral("s9"), QStringLiteral("cash"), 9),
        makeShift(QStringLiteral("s7"), QStringLiteral("general"), 7) }));
    QVERIFY(finishedCleanly(model->update()));
    QCOMPARE(column(*model, ShiftModel::numberRole), QStringLiteral("9 7 5"));
    QVERIFY(finishedCleanly(model->update(QStringLiteral("s5"))));
    QCOMPARE(column(*model, ShiftModel::numberRole), QStringLiteral("9 7 5"));
    QCOMPARE(resets->count(), 2);
}

void TestShiftModel::lastGeneralShift()
{
    QVERIFY(!model->lastGeneralShift().isValid());
    QVERIFY(storeShifts({ makeShift(QStringLiteral("s5"), QStringLiteral("general"), 5),
        makeShift(QStringLiteral("s9"), QStringLiteral("cash"), 9),
        makeShift(QStringLiteral("s8"), QStringLiteral("General"), 8),
        makeShift(QStringLiteral("s7"), QStringLiteral("general"), 7) }));
    QVERIFY(finishedCleanly(model->update()));
    QCOMPARE(model->lastGeneralShift().number, 7);

    // A pushed newer general shift is appended, so it counts only after the next reload.
    Shift pushed = makeShift(QStringLiteral("s10"), QStringLiteral("general"), 10);
    QVERIFY(finishedCleanly(model->insert(&pushed)));
    QCOMPARE(model->lastGeneralShift().number, 7);
    QVERIFY(finishedCleanly(model->update()));
    QCOMPARE(model->lastGeneralShift().uuid, QStringLiteral("s10"));
    QCOMPARE(model->byUuid(QStringLiteral("s8")).number, 8);
    QVERIFY(!model->byUuid(QStringLiteral("nope")).isValid());
}

void TestShiftModel::pushedShiftIsAppendedOrReplaced()
{
    QVERIFY(storeShifts({ makeShift(QStringLiteral("s1"), QStringLiteral("general"), 1),
        makeShift(QStringLiteral("s2"), QStringLiteral("general"), 2) }));
    QVERIFY(finishedCleanly(model->update()));

    Shift closed = makeShift(QStringLiteral("s1"), QStringLiteral("general"), 1, 1700009999);
    QVERIFY(finishedCleanly(model->insert(&closed)));
    QCOMPARE(model->rowCount(), 2);
    QCOMPARE(model->byUuid(QStringLiteral("s1")).closed_at, qint64(1700009999));

    Shift added = makeShift(QStringLiteral("s3"), QStringLiteral("general"), 3);
    QVERIFY(finishedCleanly(model->insert(&added)));
    QCOMPARE(column(*model, ShiftModel::uuidRole), QStringLiteral("s2 s1 s3"));
    QCOMPARE(countRows(QStringLiteral("shift")), 3);

    LogCapture log;
    Order other;
    QVERIFY(finishedCleanly(model->insert(&other)));
    QCOMPARE(model->rowCount(), 3);
    QCOMPARE(log.atLevel(3).size(), 1);
}

void TestShiftModel::listInsert()
{
    QVERIFY(finishedCleanly(model->insert(QList<Shift *>())));
    QCOMPARE(resets->count(), 1);
    QCOMPARE(model->rowCount(), 0);

    Shift a = makeShift(QStringLiteral("a"), QStringLiteral("general"), 1);
    Shift b = makeShift(QStringLiteral("b"), QStringLiteral("general"), 2);
    Shift aAgain = makeShift(QStringLiteral("a"), QStringLiteral("general"), 3);
    QVERIFY(finishedCleanly(model->insert(QList<Shift *> { &a, &b, &aAgain })));
    QCOMPARE(resets->count(), 2);
    QCOMPARE(column(*model, ShiftModel::numberRole), QStringLiteral("3 2"));
    QCOMPARE(countRows(QStringLiteral("shift")), 2);

    // A failed write is logged and leaves the pushed rows in place.
    LogCapture log;
    Shift invalid = makeShift(QStringLiteral("c"), QStringLiteral("general"), 4);
    invalid.created_at = 0;
    QVERIFY(finishedCleanly(model->insert(QList<Shift *> { &invalid })));
    QCOMPARE(model->rowCount(), 3);
    QCOMPARE(log.atLevel(3).size(), 1);
    QCOMPARE(log.atLevel(3).first().file, QStringLiteral("shiftmodel.cpp"));
}

void TestShiftModel::roles_data()
{
    QTest::addColumn<int>("role");
    QTest::addColumn<QVariant>("expected");
    QTest::newRow("id") << 257 << QVariant(4);
    QTest::newRow("uuid") << 258 << QVariant(QStringLiteral("s"));
    QTest::newRow("parent") << 259 << QVariant(QStringLiteral("p"));
    QTest::newRow("type") << 260 << QVariant(QStringLiteral("general"));
    QTest::newRow("created comment") << 261 << QVariant(QStringLiteral("hi"));
    QTest::newRow("closed comment") << 262 << QVariant(QStringLiteral("bye"));
    QTest::newRow("number") << 263 << QVariant(4);
    QTest::newRow("fiscal") << 264 << QVariant(true);
    QTest::newRow("user") << 265 << QVariant(2);
    QTest::newRow("created by") << 266 << QVariant(3);
    QTest::newRow("created at") << 267 << QVariant(qlonglong(1700000004));
    QTest::newRow("updated at") << 268 << QVariant(qlonglong(5));
    QTest::newRow("closed at") << 269 << QVariant(qlonglong(6));
    QTest::newRow("below") << 256 << QVariant();
    QTest::newRow("above") << 270 << QVariant();
}

void TestShiftModel::roles()
{
    QFETCH(int, role);
    QFETCH(QVariant, expected);
    Shift shift = makeShift(QStringLiteral("s"), QStringLiteral("general"), 4, 6);
    shift.parent_uuid = QStringLiteral("p");
    shift.created_comment = QStringLiteral("hi");
    shift.closed_comment = QStringLiteral("bye");
    shift.is_fiscal = true;
    shift.user_id = 2;
    shift.created_by = 3;
    shift.updated_at = 5;
    QVERIFY(finishedCleanly(model->insert(&shift)));
    const QVariant value = model->index(0, 0).data(role);
    QCOMPARE(value, expected);
    QCOMPARE(value.typeId(), expected.typeId());
    QVERIFY(!model->data(model->rowIndex(-1), role).isValid());
    QVERIFY(!model->data(model->rowIndex(1), role).isValid());
    QCOMPARE(model->roleNames().size(), 13);
    QCOMPARE(model->roleNames().value(267), QByteArray("createdAtRole"));
}

void TestShiftModel::failedReloadKeepsRows()
{
    QVERIFY(storeShifts({ makeShift(QStringLiteral("s1"), QStringLiteral("general"), 1) }));
    QVERIFY(finishedCleanly(model->update()));
    QVERIFY(QSqlQuery().exec(QStringLiteral("DROP TABLE shift")));
    LogCapture log;
    QVERIFY(finishedCleanly(model->update()));
    QCOMPARE(resets->count(), 1);
    QCOMPARE(model->rowCount(), 1);
    QCOMPARE(log.atLevel(3).size(), 1);
}

void TestShiftModel::removeOldEntity_data()
{
    QTest::addColumn<bool>("withOldGeneral");
    QTest::addColumn<QString>("left");
    QTest::newRow("newest old general survives") << true << "g11,g11b,open,recent";
    QTest::newRow("no old general, nothing goes") << false << "c10,c11,open,recent";
}

void TestShiftModel::removeOldEntity()
{
    QFETCH(bool, withOldGeneral);
    QFETCH(QString, left);
    const QString type = withOldGeneral ? QStringLiteral("general") : QStringLiteral("cash");
    const QString prefix = withOldGeneral ? QStringLiteral("g") : QStringLiteral("c");
    QVERIFY(storeShifts({ makeShift(prefix + QStringLiteral("10"), type, 10, daysAgo(5)),
        makeShift(prefix + QStringLiteral("11"), type, 11, daysAgo(4)),
        makeShift(QStringLiteral("recent"), QStringLiteral("general"), 12, daysAgo(1)),
        makeShift(QStringLiteral("open"), QStringLiteral("general"), 13) }));
    if (withOldGeneral)
        QVERIFY(storeShifts(
            { makeShift(QStringLiteral("g11b"), QStringLiteral("cash"), 11, daysAgo(3)) }));
    QVERIFY(finishedCleanly(model->removeOldEntity(2)));
    QStringList uuids;
    QSqlQuery query(QStringLiteral("SELECT uuid FROM shift ORDER BY uuid"));
    while (query.next())
        uuids.append(query.value(0).toString());
    QCOMPARE(uuids.join(QLatin1Char(',')), left);
    QCOMPARE(resets->count(), 0);
}

void TestShiftModel::pushDuringReloadIsKept()
{
    QVERIFY(storeShifts({ makeShift(QStringLiteral("s1"), QStringLiteral("general"), 1) }));
    const SerialPool serial;
    const VoidFuture reload = model->update();
    Shift closed = makeShift(QStringLiteral("s1"), QStringLiteral("general"), 1, 1700009999);
    Shift added = makeShift(QStringLiteral("s2"), QStringLiteral("general"), 2);
    QVERIFY(finishedCleanly(model->insert(&closed)));
    QVERIFY(finishedCleanly(model->insert(&added)));
    QVERIFY(finishedCleanly(reload));
    QCOMPARE(column(*model, ShiftModel::uuidRole), QStringLiteral("s1 s2"));
    QCOMPARE(model->byUuid(QStringLiteral("s1")).closed_at, qint64(1700009999));
}

QTEST_GUILESS_MAIN(TestShiftModel)
#include "tst_shiftmodel.moc"
