#include "models/shiftmodel.h"

#include "logcapture.h"
#include "modelhelpers.h"
#include "testenvironment.h"

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
    void roles();
    void failedReloadKeepsRows();
    void removeOldEntity_data();
    void removeOldEntity();
    void pushDuringReloadIsKept();

private:
    std::unique_ptr<ModelFixture<ShiftModel>> fx;
};

void TestShiftModel::initTestCase()
{
    TestEnvironment::init();
}

void TestShiftModel::init()
{
    fx = std::make_unique<ModelFixture<ShiftModel>>(true);
    QVERIFY(fx->resets.isValid());
}

void TestShiftModel::cleanup()
{
    fx.reset();
}

void TestShiftModel::reloadSortsByNumberWhateverTheArgument()
{
    QVERIFY(storeShifts({ makeShift(QStringLiteral("s5"), QStringLiteral("general"), 5, 10),
        makeShift(QStringLiteral("s9"), QStringLiteral("cash"), 9),
        makeShift(QStringLiteral("s7"), QStringLiteral("general"), 7) }));
    QVERIFY(finishedCleanly(fx->model.update()));
    QCOMPARE(column(fx->model, ShiftModel::numberRole), QStringLiteral("9 7 5"));
    QVERIFY(finishedCleanly(fx->model.update(QStringLiteral("s5"))));
    QCOMPARE(column(fx->model, ShiftModel::numberRole), QStringLiteral("9 7 5"));
    QCOMPARE(fx->resets.count(), 2);
}

void TestShiftModel::lastGeneralShift()
{
    QVERIFY(!fx->model.lastGeneralShift().isValid());
    QVERIFY(storeShifts({ makeShift(QStringLiteral("s5"), QStringLiteral("general"), 5),
        makeShift(QStringLiteral("s9"), QStringLiteral("cash"), 9),
        makeShift(QStringLiteral("s8"), QStringLiteral("General"), 8),
        makeShift(QStringLiteral("s7"), QStringLiteral("general"), 7) }));
    QVERIFY(finishedCleanly(fx->model.update()));
    QCOMPARE(fx->model.lastGeneralShift().number, 7);

    // A pushed newer general shift is appended, so it counts only after the next reload.
    Shift pushed = makeShift(QStringLiteral("s10"), QStringLiteral("general"), 10);
    QVERIFY(finishedCleanly(fx->model.insert(&pushed)));
    QCOMPARE(fx->model.lastGeneralShift().number, 7);
    QVERIFY(finishedCleanly(fx->model.update()));
    QCOMPARE(fx->model.lastGeneralShift().uuid, QStringLiteral("s10"));
    QCOMPARE(fx->model.byUuid(QStringLiteral("s8")).number, 8);
    QVERIFY(!fx->model.byUuid(QStringLiteral("nope")).isValid());
}

void TestShiftModel::pushedShiftIsAppendedOrReplaced()
{
    QVERIFY(storeShifts({ makeShift(QStringLiteral("s1"), QStringLiteral("general"), 1),
        makeShift(QStringLiteral("s2"), QStringLiteral("general"), 2) }));
    QVERIFY(finishedCleanly(fx->model.update()));

    Shift closed = makeShift(QStringLiteral("s1"), QStringLiteral("general"), 1, 1700009999);
    QVERIFY(finishedCleanly(fx->model.insert(&closed)));
    QCOMPARE(fx->model.rowCount(), 2);
    QCOMPARE(fx->model.byUuid(QStringLiteral("s1")).closed_at, qint64(1700009999));

    Shift added = makeShift(QStringLiteral("s3"), QStringLiteral("general"), 3);
    QVERIFY(finishedCleanly(fx->model.insert(&added)));
    QCOMPARE(column(fx->model, ShiftModel::uuidRole), QStringLiteral("s2 s1 s3"));
    QCOMPARE(storedUuids(QStringLiteral("shift")), QStringLiteral("s1,s2,s3"));

    LogCapture log;
    Order other;
    QVERIFY(finishedCleanly(fx->model.insert(&other)));
    QCOMPARE(fx->model.rowCount(), 3);
    QCOMPARE(log.atLevel(3).size(), 1);
}

void TestShiftModel::listInsert()
{
    QVERIFY(finishedCleanly(fx->model.insert(QList<Shift *>())));
    QCOMPARE(fx->takeChanges(), QString());
    QCOMPARE(fx->model.rowCount(), 0);

    Shift a = makeShift(QStringLiteral("a"), QStringLiteral("general"), 1);
    Shift b = makeShift(QStringLiteral("b"), QStringLiteral("general"), 2);
    Shift aAgain = makeShift(QStringLiteral("a"), QStringLiteral("general"), 3);
    QVERIFY(finishedCleanly(fx->model.insert(QList<Shift *> { &a, &b, &aAgain })));
    QCOMPARE(fx->takeChanges(), QStringLiteral("inserted 0, inserted 1, changed 0"));
    QCOMPARE(fx->resets.count(), 0);
    QCOMPARE(column(fx->model, ShiftModel::numberRole), QStringLiteral("3 2"));
    QCOMPARE(storedUuids(QStringLiteral("shift")), QStringLiteral("a,b"));

    // A row the database refuses is named in the log and not kept; the rest of the list is.
    LogCapture log;
    Shift invalid = makeShift(QStringLiteral("c"), QStringLiteral("general"), 4);
    invalid.created_at = 0;
    Shift valid = makeShift(QStringLiteral("d"), QStringLiteral("general"), 5);
    QVERIFY(finishedCleanly(fx->model.insert(QList<Shift *> { &invalid, &valid })));
    QCOMPARE(column(fx->model, ShiftModel::numberRole), QStringLiteral("3 2 5"));
    QCOMPARE(storedUuids(QStringLiteral("shift")), QStringLiteral("a,b,d"));
    QCOMPARE(log.atLevel(3).size(), 1);
    QVERIFY(log.atLevel(3).first().message.contains(QStringLiteral("\"c\"")));
}

void TestShiftModel::roles()
{
    Shift shift = makeShift(QStringLiteral("s"), QStringLiteral("general"), 4, 6);
    shift.parent_uuid = QStringLiteral("p");
    shift.created_comment = QStringLiteral("hi");
    shift.closed_comment = QStringLiteral("bye");
    shift.is_fiscal = true;
    shift.user_id = 2;
    shift.created_by = 3;
    shift.updated_at = 5;
    QVERIFY(finishedCleanly(fx->model.insert(&shift)));
    QCOMPARE(firstRowRoles(fx->model),
        QStringLiteral("256=: idRole=int:4 uuidRole=QString:s parentUuidRole=QString:p "
                       "typeRole=QString:general createdCommentRole=QString:hi "
                       "closedCommentRole=QString:bye numberRole=int:4 isFiscalRole=bool:true "
                       "userIdRole=int:2 createdByRole=int:3 createdAtRole=qlonglong:1700000004 "
                       "updatedAtRole=qlonglong:5 closedAtRole=qlonglong:6 270=:"));
}

void TestShiftModel::failedReloadKeepsRows()
{
    QVERIFY(storeShifts({ makeShift(QStringLiteral("s1"), QStringLiteral("general"), 1) }));
    QVERIFY(finishedCleanly(fx->model.update()));
    QVERIFY(TestDatabase::exec(QStringLiteral("DROP TABLE shift")));
    LogCapture log;
    QVERIFY(finishedCleanly(fx->model.update()));
    QCOMPARE(fx->resets.count(), 1);
    QCOMPARE(fx->model.rowCount(), 1);
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
    QVERIFY(finishedCleanly(fx->model.removeOldEntity(2)));
    QCOMPARE(storedUuids(QStringLiteral("shift")), left);
    QCOMPARE(fx->resets.count(), 0);
}

void TestShiftModel::pushDuringReloadIsKept()
{
    QVERIFY(storeShifts({ makeShift(QStringLiteral("s1"), QStringLiteral("general"), 1) }));
    const SerialPool serial;
    const VoidFuture reload = fx->model.update();
    Shift closed = makeShift(QStringLiteral("s1"), QStringLiteral("general"), 1, 1700009999);
    Shift added = makeShift(QStringLiteral("s2"), QStringLiteral("general"), 2);
    QVERIFY(finishedCleanly(fx->model.insert(&closed)));
    QVERIFY(finishedCleanly(fx->model.insert(&added)));
    QVERIFY(finishedCleanly(reload));
    QCOMPARE(column(fx->model, ShiftModel::uuidRole), QStringLiteral("s1 s2"));
    QCOMPARE(fx->model.byUuid(QStringLiteral("s1")).closed_at, qint64(1700009999));
}

QTEST_GUILESS_MAIN(TestShiftModel)
#include "tst_shiftmodel.moc"
