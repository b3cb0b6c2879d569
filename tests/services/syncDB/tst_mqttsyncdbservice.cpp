#include "logcapture.h"
#include "pushedpoint.h"
#include "testenvironment.h"

#include <QElapsedTimer>
#include <QJsonObject>
#include <QSignalSpy>
#include <QTest>

#include <memory>

namespace {

QJsonObject orderRow(const QString &uuid)
{
    return { { "id", 1 }, { "uuid", uuid }, { "shift_uuid", "shift-7" }, { "number", 1 },
        { "status", "new" }, { "created_at", 1700000000 } };
}

QJsonObject shiftRow(const QString &uuid, int number, const QString &type, qint64 closedAt)
{
    return { { "id", number }, { "uuid", uuid }, { "type", type }, { "number", number },
        { "created_at", 1700000000 }, { "closed_at", closedAt ? QJsonValue(closedAt) : QJsonValue() } };
}

int storedRows(const QString &table, const QString &uuid)
{
    return TestDatabase::column(
        QStringLiteral("SELECT COUNT(*) FROM '%1' WHERE uuid = '%2'").arg(table, uuid))
        .value(0, -1)
        .toInt();
}

} // namespace

// The push client against a real mosquitto broker, with a real database behind its models.
class TestMqttSyncDBService : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase() { TestEnvironment::init(); }
    void init();
    void cleanup() { point.reset(); }

    void pushReachesItsTable_data();
    void pushReachesItsTable();
    void currentShiftRule_data();
    void currentShiftRule();
    void refusedSettingsWaitForBetterOnes_data();
    void refusedSettingsWaitForBetterOnes();
    void brokerRestartReconnectsWithBackoff_data();
    void brokerRestartReconnectsWithBackoff();
    void rePairingMovesTheSubscription_data();
    void rePairingMovesTheSubscription();
    void stopKeepsTheServiceDisconnected();

private:
    // Pairs point 7 of "acme" with the broker, runs the service and waits until pushes arrive.
    void start(int offlineCheckMs = 60000);
    [[nodiscard]] bool publish(const QString &levels, const QJsonObject &row)
    {
        return point->broker.publish(point->topic() + levels, PushedPoint::push(row));
    }

    std::unique_ptr<PushedPoint> point;
};

void TestMqttSyncDBService::init()
{
    point = std::make_unique<PushedPoint>();
    point->env.uuid.set(QStringLiteral("board-1"));
    QVERIFY2(point->broker.start(), qPrintable(point->broker.errorString()));
}

void TestMqttSyncDBService::start(int offlineCheckMs)
{
    point->pair(QStringLiteral("acme"), 7, point->config(offlineCheckMs));
    point->service.run();
    QVERIFY(point->listening());
}

void TestMqttSyncDBService::pushReachesItsTable_data()
{
    QTest::addColumn<QString>("levels");
    QTest::addColumn<QString>("kind");
    QTest::addColumn<QJsonValue>("from");
    QTest::addColumn<QString>("table"); // where the row lands; empty when the push is ignored
    const auto row = [](const char *name, const char *levels, const char *kind,
                         const QJsonValue &from, const char *table) {
        QTest::newRow(name) << QString::fromUtf8(levels) << QString::fromUtf8(kind) << from
                            << QString::fromUtf8(table);
    };
    row("order", "/order", "order", "server", "order");
    row("own push", "/order", "order", "qu-board-1", "");
    row("other board", "/order", "order", "qu-board-2", "order");
    row("without from", "/order", "order", QJsonValue::Undefined, "order");
    row("shift below more levels", "/a/b/shift", "shift", "server", "shift");
    row("receipt item", "/receipt_item", "item", "server", "receipt_item");
    row("other table", "/menu", "order", "server", "");
    row("point topic itself", "", "order", "server", "");
    row("table name as a middle level", "/order/x", "order", "server", "");
}

void TestMqttSyncDBService::pushReachesItsTable()
{
    QFETCH(QString, levels);
    QFETCH(QString, kind);
    QFETCH(QJsonValue, from);
    QFETCH(QString, table);
    start();
    const QJsonObject body = kind == "order" ? orderRow("u-1")
        : kind == "shift" ? shiftRow("u-1", 3, "general", 0)
                          : QJsonObject { { "id", 1 }, { "uuid", "u-1" }, { "receipt_uuid", "r-1" },
                                { "menu_id", 3 }, { "quantity", 1.5 } };
    QVERIFY(point->broker.publish(point->topic() + levels, PushedPoint::push(body, from)));
    // Pushes arrive in order: once the next probe is in, the push under test was handled.
    QVERIFY(point->listening());
    const AppEnv &env = point->env;
    QCOMPARE(env.orderModel.rowCount() + env.shiftModel.rowCount() + env.receiptItemModel.rowCount()
            + env.receiptModel.rowCount() - point->probes,
        table.isEmpty() ? 0 : 1);
    QTRY_COMPARE(storedRows(table.isEmpty() ? "order" : table, "u-1"), table.isEmpty() ? 0 : 1);
}

void TestMqttSyncDBService::currentShiftRule_data()
{
    QTest::addColumn<QJsonObject>("shift");
    QTest::addColumn<QString>("current");
    QTest::addColumn<bool>("open");
    // The current shift is "s-7", number 7, general and open.
    QTest::newRow("current shift closed") << shiftRow("s-7", 7, "general", 1700000500) << "s-7" << false;
    QTest::newRow("newer general shift") << shiftRow("s-8", 8, "general", 0) << "s-8" << true;
    QTest::newRow("newer one already closed") << shiftRow("s-8", 8, "general", 1700000500) << "s-8" << false;
    QTest::newRow("older general shift") << shiftRow("s-6", 6, "general", 0) << "s-7" << true;
    QTest::newRow("newer shift not general") << shiftRow("s-9", 9, "cashier", 0) << "s-7" << true;
    QTest::newRow("type differs in case") << shiftRow("s-9", 9, "General", 0) << "s-7" << true;
}

void TestMqttSyncDBService::currentShiftRule()
{
    QFETCH(QJsonObject, shift);
    QFETCH(QString, current);
    QFETCH(bool, open);
    start();
    // Without a current shift any general shift becomes the current one.
    QVERIFY(publish("/shift", shiftRow("s-7", 7, "general", 0)));
    QVERIFY(publish("/shift", shift));
    QVERIFY(point->listening());
    QCOMPARE(point->env.shiftModel.byUuid(shift["uuid"].toString()).closed_at,
        shift["closed_at"].toInteger());
    QCOMPARE(std::make_pair(point->env.shiftUuid.value(), point->env.isShiftOpen.value()),
        std::make_pair(current, open));
}

void TestMqttSyncDBService::refusedSettingsWaitForBetterOnes_data()
{
    QTest::addColumn<QString>("domain");
    QTest::addColumn<int>("portAbove16Bits");
    QTest::addColumn<QString>("password");
    QTest::addColumn<bool>("enabled");
    QTest::addColumn<bool>("connects");
    QTest::addColumn<QString>("warning");
    // A wildcard in the domain would make a valid filter that reaches into other accounts.
    QTest::newRow("hash in the domain") << "ac#me" << 0 << "" << true << true << "ac#me/point/7/#";
    QTest::newRow("whole level wildcard") << "+" << 0 << "" << true << true << "+/point/7/#";
    // 65536 more would be the broker's own port again as a 16-bit number.
    QTest::newRow("port out of range") << "acme" << 65536 << "" << true << false << "out of range";
    QTest::newRow("wrong password") << "acme" << 0 << "wrong" << true << false << "";
    QTest::newRow("disabled") << "acme" << 0 << "" << false << false << "";
}

// Settings that cannot work subscribe nothing; better ones arriving while the service runs are
// taken up without a new run().
void TestMqttSyncDBService::refusedSettingsWaitForBetterOnes()
{
    QFETCH(QString, domain);
    QFETCH(int, portAbove16Bits);
    QFETCH(QString, password);
    QFETCH(bool, enabled);
    QFETCH(bool, connects);
    QFETCH(QString, warning);
    LogCapture log;
    const auto logged = [&log](const QString &text) {
        for (const LogCapture::Entry &entry : log.entries())
            if (entry.message.contains(text))
                return true;
        return false;
    };
    SyncConfig config = point->config();
    config.mqtt_port += portAbove16Bits;
    config.mqtt_password = password.isEmpty() ? config.mqtt_password : password;
    config.mqtt_enabled = enabled;
    point->pair(domain, 7, config);
    point->service.run();
    QCOMPARE(QTest::qWaitFor([&] { return point->service.isConnected(); }, 500), connects);
    QTRY_VERIFY(warning.isEmpty() || logged(warning));
    // Nothing of another account reaches the board, even where "+" would have matched it.
    QVERIFY(point->broker.publish("other/point/7/order", PushedPoint::push(orderRow("o-x"))));

    point->pair(QStringLiteral("acme"), 7, point->config());
    QVERIFY(point->listening());
    QCOMPARE(point->env.orderModel.rowCount(), 0);
    QVERIFY(!logged(password.isEmpty() ? point->broker.password() : password));
}

void TestMqttSyncDBService::brokerRestartReconnectsWithBackoff_data()
{
    QTest::addColumn<int>("interval");
    QTest::addColumn<QList<int>>("delays");
    QTest::newRow("default interval") << 0 << QList<int> { 1000, 2000 };
    QTest::newRow("capped by the interval") << 1500 << QList<int> { 1000, 1500, 1500 };
}

// A lost broker is tried again after a second, then after twice as long each time, never after
// more than the configured interval; the gap in pushes is announced once at each end.
void TestMqttSyncDBService::brokerRestartReconnectsWithBackoff()
{
    QFETCH(int, interval);
    QFETCH(QList<int>, delays);
    start(interval);
    QSignalSpy interrupted(&point->service, &MqttSyncDBService::pushesInterrupted);
    QSignalSpy resumed(&point->service, &MqttSyncDBService::pushesResumed);
    QElapsedTimer clock;
    QList<qint64> changes;
    connect(&point->service, &MqttSyncDBService::connectChanged, this,
        [&] { changes.append(clock.elapsed()); });

    clock.start();
    point->broker.stop();
    // The drop, then a Connecting and a Disconnected report for each attempt.
    QTRY_VERIFY_WITH_TIMEOUT(changes.size() >= 1 + 2 * delays.size(), 10000);
    QCOMPARE(interrupted.size(), 1);
    for (int attempt = 0; attempt < delays.size(); ++attempt) {
        const qint64 waited = changes.at(1 + 2 * attempt) - changes.at(2 * attempt);
        // A coarse timer may fire up to 5 % early.
        QVERIFY2(waited >= delays.at(attempt) * 9 / 10 && waited <= delays.at(attempt) + 400,
            qPrintable(QStringLiteral("attempt %1 after %2 ms").arg(attempt + 1).arg(waited)));
    }

    QVERIFY2(point->broker.start(), qPrintable(point->broker.errorString()));
    QTRY_VERIFY_WITH_TIMEOUT(point->service.isConnected(), 6000);
    QVERIFY(point->listening());
    QCOMPARE(interrupted.size(), 1);
    QCOMPARE(resumed.size(), 1);
    // One subscription: the push is handled exactly once.
    QSignalSpy orderInserts(&point->env.orderModel, &QAbstractItemModel::rowsInserted);
    QVERIFY(publish("/order", orderRow("o-1")));
    QVERIFY(point->listening());
    QCOMPARE(orderInserts.size(), 1);
}

void TestMqttSyncDBService::rePairingMovesTheSubscription_data()
{
    QTest::addColumn<QString>("domain");
    QTest::addColumn<bool>("runAgain");
    QTest::addColumn<bool>("otherBroker");
    QTest::newRow("other account, run() again") << "beta" << true << false;
    QTest::newRow("other point while running") << "acme" << false << false;
    QTest::newRow("other account at another broker") << "beta" << true << true;
}

void TestMqttSyncDBService::rePairingMovesTheSubscription()
{
    QFETCH(QString, domain);
    QFETCH(bool, runAgain);
    QFETCH(bool, otherBroker);
    start();
    const QString oldTopic = point->topic();
    const auto pushToOldPoint = [&](const char *uuid) {
        QVERIFY(point->broker.publish(oldTopic + "/order", PushedPoint::push(orderRow(uuid))));
    };

    // The board is wiped: no account, no subscription.
    point->env.domain.set(QString());
    pushToOldPoint("o-wiped");
    // It is paired with point 9 of an account, whose broker may be another one.
    MosquittoBroker second(QStringLiteral("beta-board"), QStringLiteral("beta-pass"));
    QVERIFY(!otherBroker || second.start());
    point->pair(domain, 9, point->config(60000, otherBroker ? &second : &point->broker));
    if (runAgain)
        point->service.run();
    // At once: the reconnect timer (one minute here) is not waited for.
    QTRY_VERIFY_WITH_TIMEOUT(point->service.isConnected(), 5000);

    // Pushes to the old point, before and after the new one is heard, never arrive.
    pushToOldPoint("o-old");
    QVERIFY(point->listening(point->topic(), otherBroker ? &second : &point->broker));
    pushToOldPoint("o-old");
    QVERIFY(point->listening(point->topic(), otherBroker ? &second : &point->broker));
    QCOMPARE(point->env.orderModel.rowCount(), 0);
    QCOMPARE(storedRows("order", "o-old") + storedRows("order", "o-wiped"), 0);
}

void TestMqttSyncDBService::stopKeepsTheServiceDisconnected()
{
    start(100);
    QSignalSpy changed(&point->service, &MqttSyncDBService::connectChanged);
    point->service.stop();
    QVERIFY(!point->service.isConnected());
    // Neither the reconnect timer nor new settings bring it back.
    point->env.domain.set(QStringLiteral("other"));
    QVERIFY(!QTest::qWaitFor([&] { return changed.size() > 1; }, 500));

    point->service.run();
    QVERIFY(point->listening());
}

QTEST_GUILESS_MAIN(TestMqttSyncDBService)
#include "tst_mqttsyncdbservice.moc"
