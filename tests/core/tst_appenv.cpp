#include "core/appenv.h"

#include "testdatabase.h"
#include "testenvironment.h"

#include <QSignalSpy>
#include <QTest>

// Loading the models of the current shift: the open general shift, else an empty one.
class TestAppEnv : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase() { TestEnvironment::init(); }
    void init();
    void cleanup();

    void loadsTheCurrentShift_data();
    void loadsTheCurrentShift();
    void followsChangeOfCurrentShiftWhileOpen();

private:
    // "uuid:type:closed" rows, and one order, receipt and item in work for each shift named.
    static void store(const QStringList &shifts, const QStringList &contentOf);
    QString content() const;

    std::unique_ptr<TestDatabase> database;
    std::unique_ptr<AppEnv> env;
};

void TestAppEnv::init()
{
    database = std::make_unique<TestDatabase>();
    env = std::make_unique<AppEnv>();
}

void TestAppEnv::cleanup()
{
    env.reset();
    database.reset();
}

void TestAppEnv::store(const QStringList &shifts, const QStringList &contentOf)
{
    int number = 0;
    for (const QString &shift : shifts) {
        const QStringList f = shift.split(QLatin1Char(':'));
        QVERIFY(TestDatabase::exec(
            QStringLiteral("INSERT INTO shift (id, uuid, type, number, "
                           "created_at, closed_at) VALUES (%1, '%2', '%3', "
                           "%1, 1700000000, %4)")
                .arg(++number)
                .arg(f[0], f[1], f[2] == QLatin1String("0") ? QStringLiteral("NULL") : f[2])));
    }
    for (const QString &s : contentOf) {
        QVERIFY(TestDatabase::exec(
            QStringLiteral("INSERT INTO 'order' (uuid, shift_uuid) VALUES ('order-%1', '%1')")
                .arg(s)));
        QVERIFY(
            TestDatabase::exec(QStringLiteral("INSERT INTO receipt (uuid, shift_uuid, order_uuid) "
                                              "VALUES ('receipt-%1', '%1', 'order-%1')")
                                   .arg(s)));
        QVERIFY(
            TestDatabase::exec(QStringLiteral("INSERT INTO receipt_item (id, uuid, receipt_uuid, "
                                              "in_work) VALUES (1, 'item-%1', 'receipt-%1', 1)")
                                   .arg(s)));
    }
}

// What the three shift models hold, as "order/receipt/item" uuids.
QString TestAppEnv::content() const
{
    auto first = [](const QAbstractItemModel &model, int role) {
        return model.rowCount() == 0 ? QStringLiteral("-")
                                     : model.index(0, 0).data(role).toString();
    };
    return first(env->orderModel, OrderModel::uuidRole) + QLatin1Char('/')
        + first(env->receiptModel, ReceiptModel::uuidRole) + QLatin1Char('/')
        + first(env->receiptItemModel, ReceiptItemModel::uuidRole);
}

void TestAppEnv::loadsTheCurrentShift_data()
{
    QTest::addColumn<QStringList>("shifts");
    QTest::addColumn<QStringList>("contentOf");
    QTest::addColumn<QString>("current");
    QTest::addColumn<bool>("open");
    QTest::addColumn<QString>("content"); // empty: nothing is loaded

    QTest::newRow("no general shift: the empty one")
        << QStringList { "cash:cash:0" } << QStringList { "" } << "" << true << "order-/receipt-/-";
    QTest::newRow("the open general one")
        << QStringList { "old:general:1700000500", "it''s:general:0", "cash:cash:0" }
        << QStringList { "old", "it''s" } << "it's" << true << "order-it's/receipt-it's/item-it's";
    QTest::newRow("closed: nothing")
        << QStringList { "s1:general:1700000500" } << QStringList { "s1" } << "s1" << false << "";
}

void TestAppEnv::loadsTheCurrentShift()
{
    QFETCH(QStringList, shifts);
    QFETCH(QStringList, contentOf);
    QFETCH(QString, current);
    QFETCH(bool, open);
    QFETCH(QString, content);
    store(shifts, contentOf);
    QSignalSpy updateEnv(env.get(), &AppEnv::updateEnv);
    QSignalSpy orderResets(&env->orderModel, &QAbstractItemModel::modelReset);

    env->updateAllModels();
    // The settings are asked for before the shifts have been read.
    QCOMPARE(updateEnv.count(), 1);
    QTRY_COMPARE(env->shiftModel.rowCount(), shifts.size());
    QTRY_COMPARE(env->shiftUuid.value(), current);
    QCOMPARE(env->isShiftOpen.value(), open);
    if (open) {
        QTRY_COMPARE(this->content(), content);
        QVERIFY(env->modelsLoaded);
    } else {
        QTest::qWait(100);
        QVERIFY(!env->modelsLoaded);
        QCOMPARE(orderResets.count(), 0);
    }
}

void TestAppEnv::followsChangeOfCurrentShiftWhileOpen()
{
    store({ "s1:general:0" }, { "s1", "s2" });
    env->updateAllModels();
    QTRY_COMPARE(content(), QStringLiteral("order-s1/receipt-s1/item-s1"));

    // A new current shift, as a pushed shift sets it.
    env->shiftUuid.set(QStringLiteral("s2"));
    QTRY_COMPARE(content(), QStringLiteral("order-s2/receipt-s2/-"));

    // Once the shift is closed, a change of the current shift loads nothing.
    QSignalSpy orderResets(&env->orderModel, &QAbstractItemModel::modelReset);
    env->isShiftOpen.set(false);
    env->shiftUuid.set(QStringLiteral("s1"));
    QTest::qWait(100);
    QCOMPARE(orderResets.count(), 0);
    QCOMPARE(content(), QStringLiteral("order-s2/receipt-s2/-"));
}

QTEST_GUILESS_MAIN(TestAppEnv)
#include "tst_appenv.moc"
