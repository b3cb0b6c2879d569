#include "core/appenv.h"
#include "entities/entitiesrepo.h"

#include "futurewait.h"
#include "testdatabase.h"
#include "testenvironment.h"

#include <QCoreApplication>
#include <QSignalSpy>
#include <QSqlQuery>
#include <QTest>

namespace {

bool storeShift(const QString &uuid, int number, qint64 closedAt, const QString &type)
{
    Shift shift;
    shift.id = number;
    shift.uuid = uuid;
    shift.type = type;
    shift.number = number;
    shift.created_at = 1700000000;
    shift.closed_at = closedAt;
    const VoidFuture write = EntitiesRepo::insertShift({ &shift });
    return waitFor(write) && !write.isCanceled();
}

// One order, one receipt and one item in work for the shift, all named after it.
bool storeShiftContent(const QString &shiftUuid)
{
    Order order;
    order.uuid = QStringLiteral("order-") + shiftUuid;
    order.shift_uuid = shiftUuid;
    Receipt receipt;
    receipt.uuid = QStringLiteral("receipt-") + shiftUuid;
    receipt.shift_uuid = shiftUuid;
    receipt.order_uuid = order.uuid;
    ReceiptItem item;
    item.id = 1;
    item.uuid = QStringLiteral("item-") + shiftUuid;
    item.receipt_uuid = receipt.uuid;
    item.in_work = true;
    const VoidFuture writes[] = { EntitiesRepo::insertOrder({ &order }),
        EntitiesRepo::insertReceipt({ &receipt }), EntitiesRepo::insertReceiptItem({ &item }) };
    for (const VoidFuture &write : writes) {
        if (!waitFor(write) || write.isCanceled())
            return false;
    }
    return true;
}

// What the three shift models hold, as "order/receipt/item" uuids.
QString shiftContent(const AppEnv &env)
{
    auto first = [](const QAbstractItemModel &model, int role) {
        return model.rowCount() == 0 ? QStringLiteral("-")
                                     : model.index(0, 0).data(role).toString();
    };
    return first(env.orderModel, OrderModel::uuidRole) + QLatin1Char('/')
        + first(env.receiptModel, ReceiptModel::uuidRole) + QLatin1Char('/')
        + first(env.receiptItemModel, ReceiptItemModel::uuidRole);
}

} // namespace

// The application environment: initial values, currency, reset, and loading the models of the
// current shift.
class TestAppEnv : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void init();
    void cleanup();

    void initialValues();
    void currencyAnnouncesEveryWrite();
    void reset();
    void updateModelChangesNothing();
    void withoutGeneralShiftLoadsEmptyShift();
    void loadsModelsOfOpenGeneralShift();
    void closedShiftLoadsNothing();
    void followsChangeOfCurrentShiftWhileOpen();

private:
    std::unique_ptr<TestDatabase> database;
    std::unique_ptr<AppEnv> env;
};

void TestAppEnv::initTestCase()
{
    TestEnvironment::init();
    QCoreApplication::setApplicationVersion(QStringLiteral("1.0.0"));
    QCoreApplication::instance()->setProperty("VERSION_CODE", QStringLiteral("9"));
}

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

void TestAppEnv::initialValues()
{
    QVERIFY(env->isOnline.value());
    QCOMPARE(env->lastUpdate.value(), 0LL);
    QVERIFY(env->useHttps.value());
    QVERIFY(!env->useHttps.isSet());
    QVERIFY(!env->ignoreSslErrors.value());
    QVERIFY(!env->useVirtualKeyboard.value());
    QVERIFY(!env->useFullscreen.value());
    QVERIFY(!env->isShiftOpen.value());
    QVERIFY(!env->uuid.isSet());
    QCOMPARE(env->currency, QStringLiteral("\u20BD"));
    QCOMPARE(env->version.value(), QStringLiteral("1.0.0"));
    QCOMPARE(env->channel.value(), QStringLiteral("stable"));
    QCOMPARE(env->versionCode.value(), QStringLiteral("9"));
    QCOMPARE(env->queueConfig.value(), QueueConfig());
}

void TestAppEnv::currencyAnnouncesEveryWrite()
{
    QSignalSpy spy(env.get(), &AppEnv::currencyChanged);
    QVERIFY(spy.isValid());
    QVERIFY(env->setProperty("currency", QStringLiteral("$")));
    QVERIFY(env->setProperty("currency", QStringLiteral("$")));
    QCOMPARE(spy.count(), 2);
    QCOMPARE(env->property("currency").toString(), QStringLiteral("$"));
}

void TestAppEnv::reset()
{
    QSignalSpy lastUpdate(&env->lastUpdate, &PrivateEnvVariable::changed);
    QSignalSpy domain(&env->domain, &PrivateEnvVariable::changed);
    QSignalSpy isOnline(&env->isOnline, &PrivateEnvVariable::changed);
    QVERIFY(lastUpdate.isValid() && domain.isValid() && isOnline.isValid());

    env->reset();
    QCOMPARE(lastUpdate.count() + domain.count() + isOnline.count(), 0);

    env->lastUpdate.set(1700000000);
    env->domain.set(QStringLiteral("cafe"));
    env->isOnline.set(false);
    env->reset();
    QCOMPARE(env->lastUpdate.value(), 0LL);
    QVERIFY(env->domain.value().isEmpty());
    QVERIFY(env->isOnline.value());
    QCOMPARE(lastUpdate.count(), 2);
    QCOMPARE(domain.count(), 2);
    QCOMPARE(isOnline.count(), 2);
}

void TestAppEnv::updateModelChangesNothing()
{
    QVERIFY(storeShift(QStringLiteral("s1"), 1, 0, QStringLiteral("general")));
    QSignalSpy shiftResets(&env->shiftModel, &QAbstractItemModel::modelReset);
    QSignalSpy updateEnv(env.get(), &AppEnv::updateEnv);
    QVERIFY(shiftResets.isValid() && updateEnv.isValid());
    QVERIFY(QMetaObject::invokeMethod(env.get(), "updateModel", Q_ARG(QString, "shift")));
    env->updateModel(QStringLiteral("config"));
    QTest::qWait(50);
    QCOMPARE(shiftResets.count(), 0);
    QCOMPARE(updateEnv.count(), 0);
    QVERIFY(env->shiftUuid.value().isEmpty());
}

void TestAppEnv::withoutGeneralShiftLoadsEmptyShift()
{
    QVERIFY(storeShift(QStringLiteral("cash"), 4, 0, QStringLiteral("cash")));
    QVERIFY(storeShiftContent(QString()));
    QSignalSpy updateEnv(env.get(), &AppEnv::updateEnv);
    QSignalSpy itemResets(&env->receiptItemModel, &QAbstractItemModel::modelReset);
    QVERIFY(updateEnv.isValid() && itemResets.isValid());

    env->updateAllModels();
    // The settings are asked for before the shifts have been read.
    QCOMPARE(updateEnv.count(), 1);
    QCOMPARE(env->shiftModel.rowCount(), 0);

    QTRY_VERIFY(env->modelsLoaded);
    QVERIFY(env->isShiftOpen.value());
    QVERIFY(env->shiftUuid.value().isEmpty());
    QTRY_COMPARE(itemResets.count(), 1);
    QCOMPARE(shiftContent(*env), QStringLiteral("order-/receipt-/-"));
}

void TestAppEnv::loadsModelsOfOpenGeneralShift()
{
    QVERIFY(storeShift(QStringLiteral("old"), 1, 1700000500, QStringLiteral("general")));
    QVERIFY(storeShift(QStringLiteral("it's"), 2, 0, QStringLiteral("general")));
    QVERIFY(storeShift(QStringLiteral("cash"), 3, 0, QStringLiteral("cash")));
    QVERIFY(storeShiftContent(QStringLiteral("old")));
    QVERIFY(storeShiftContent(QStringLiteral("it's")));

    env->updateAllModels();
    QTRY_VERIFY(env->modelsLoaded);
    QCOMPARE(env->shiftUuid.value(), QStringLiteral("it's"));
    QVERIFY(env->isShiftOpen.value());
    QTRY_COMPARE(shiftContent(*env), QStringLiteral("order-it's/receipt-it's/item-it's"));
    QCOMPARE(env->shiftModel.rowCount(), 3);
}

void TestAppEnv::closedShiftLoadsNothing()
{
    QVERIFY(storeShift(QStringLiteral("s1"), 1, 1700000500, QStringLiteral("general")));
    QVERIFY(storeShiftContent(QStringLiteral("s1")));
    QSignalSpy orderResets(&env->orderModel, &QAbstractItemModel::modelReset);
    QVERIFY(orderResets.isValid());

    env->updateAllModels();
    QTRY_COMPARE(env->shiftUuid.value(), QStringLiteral("s1"));
    QVERIFY(!env->isShiftOpen.value());
    QTest::qWait(100);
    QVERIFY(!env->modelsLoaded);
    QCOMPARE(orderResets.count(), 0);
}

void TestAppEnv::followsChangeOfCurrentShiftWhileOpen()
{
    QVERIFY(storeShift(QStringLiteral("s1"), 1, 0, QStringLiteral("general")));
    QVERIFY(storeShiftContent(QStringLiteral("s1")));
    QVERIFY(storeShiftContent(QStringLiteral("s2")));
    env->updateAllModels();
    QTRY_COMPARE(shiftContent(*env), QStringLiteral("order-s1/receipt-s1/item-s1"));

    // A new current shift, as a pushed shift sets it.
    env->shiftUuid.set(QStringLiteral("s2"));
    QTRY_COMPARE(shiftContent(*env), QStringLiteral("order-s2/receipt-s2/-"));

    // Once the shift is closed, a change of the current shift loads nothing.
    QSignalSpy orderResets(&env->orderModel, &QAbstractItemModel::modelReset);
    QVERIFY(orderResets.isValid());
    env->isShiftOpen.set(false);
    env->shiftUuid.set(QStringLiteral("s1"));
    QTest::qWait(100);
    QCOMPARE(orderResets.count(), 0);
    QCOMPARE(shiftContent(*env), QStringLiteral("order-s2/receipt-s2/-"));
}

QTEST_GUILESS_MAIN(TestAppEnv)
#include "tst_appenv.moc"
