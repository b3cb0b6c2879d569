#include "logcapture.h"
#include "pushedpoint.h"
#include "testenvironment.h"

#include <QElapsedTimer>
#include <QSignalSpy>
#include <QTest>

#include <memory>

namespace {

// A row every entity table can hold; "cashier" leaves the current shift alone.
QJsonObject row(
    const QString &uuid, const QString &type = "cashier", int number = 1, qint64 closedAt = 0)
{
    return { { "id", number }, { "uuid", uuid }, { "shift_uuid", "s" }, { "order_uuid", "o" },
        { "receipt_uuid", "r" }, { "type", type }, { "number", number },
        { "created_at", 1700000000 },
        { "closed_at", closedAt ? QJsonValue(closedAt) : QJsonValue() } };
}

int stored(const QString &table, const QString &uuid)
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
    void start(int offlineCheckMs = 60000)
    {
        point->pair("acme", 7, point->config(offlineCheckMs));
        point->service.run();
        QVERIFY(point->listening());
    }
    [[nodiscard]] bool publish(
        const QString &topic, const QJsonObject &body, const QJsonValue &from = QString("server"))
    {
        return point->broker.publish(topic, PushedPoint::push(body, from));
    }

    std::unique_ptr<PushedPoint> point;
};

void TestMqttSyncDBService::init()
{
    point = std::make_unique<PushedPoint>();
    point->env.uuid.set("board-1");
    QVERIFY2(point->broker.start(), qPrintable(point->broker.errorString()));
}

void TestMqttSyncDBService::pushReachesItsTable_data()
{
    QTest::addColumn<QString>("levels");
    QTest::addColumn<QJsonValue>("from");
    QTest::addColumn<QString>("table"); // where the row lands; empty when the push is ignored
    QTest::newRow("order") << "/order" << QJsonValue("server") << "order";
    QTest::newRow("own push") << "/order" << QJsonValue("qu-board-1") << "";
    QTest::newRow("other board") << "/order" << QJsonValue("qu-board-2") << "order";
    QTest::newRow("without from") << "/order" << QJsonValue(QJsonValue::Undefined) << "order";
    QTest::newRow("shift below more levels") << "/a/b/shift" << QJsonValue("server") << "shift";
    QTest::newRow("receipt item") << "/receipt_item" << QJsonValue("server") << "receipt_item";
    QTest::newRow("other table") << "/menu" << QJsonValue("server") << "";
    QTest::newRow("point topic itself") << "" << QJsonValue("server") << "";
    QTest::newRow("table name as a middle level") << "/order/x" << QJsonValue("server") << "";
}

void TestMqttSyncDBService::pushReachesItsTable()
{
    QFETCH(QString, levels);
    QFETCH(QJsonValue, from);
    QFETCH(QString, table);
    start();
    QVERIFY(publish(point->topic() + levels, row("u-1"), from));
    // Pushes arrive in order: once the next probe is in, the push under test was handled.
    QVERIFY(point->listening());
    const AppEnv &env = point->env;
    QCOMPARE(env.orderModel.rowCount() + env.shiftModel.rowCount() + env.receiptModel.rowCount()
            + env.receiptItemModel.rowCount() - point->probes,
        table.isEmpty() ? 0 : 1);
    QTRY_COMPARE(stored(table.isEmpty() ? "order" : table, "u-1"), table.isEmpty() ? 0 : 1);
}

// A general shift of at least the current one's number becomes the current shift.
void TestMqttSyncDBService::currentShiftRule()
{
    start();
    const struct
    {
        QJsonObject shift;
        const char *current;
        bool open;
    } steps[] { { row("s-7", "general", 7), "s-7", true }, // none was current
        { row("s-6", "general", 6), "s-7", true }, { row("s-9", "cashier", 9), "s-7", true },
        { row("s-9", "General", 9), "s-7", true },
        { row("s-7", "general", 7, 1700000500), "s-7", false },
        { row("s-8", "general", 8), "s-8", true },
        { row("s-9", "general", 9, 1700000500), "s-9", false } };
    for (const auto &step : steps) {
        QVERIFY(publish(point->topic() + "/shift", step.shift));
        QVERIFY(point->listening());
        QCOMPARE(point->env.shiftUuid.value(), QString(step.current));
        QCOMPARE(point->env.isShiftOpen.value(), step.open);
    }
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
        const QList<LogCapture::Entry> entries = log.entries();
        return std::any_of(entries.begin(), entries.end(),
            [&](const LogCapture::Entry &entry) { return entry.message.contains(text); });
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
    QVERIFY(publish("other/point/7/order", row("o-x")));

    point->pair("acme", 7, point->config());
    QVERIFY(point->listening());
    QCOMPARE(point->env.orderModel.rowCount(), 0);
    QVERIFY(!logged(config.mqtt_password));
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
    const QObject listener; // the times recorded go with it
    connect(&point->service, &MqttSyncDBService::connectChanged, &listener,
        [&] { changes.append(clock.elapsed()); });

    clock.start();
    point->broker.stop();
    // The drop, then a Connecting and a Disconnected report for each attempt.
    QTRY_VERIFY_WITH_TIMEOUT(changes.size() >= 1 + 2 * delays.size(), 10000);
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
    QVERIFY(publish(point->topic() + "/order", row("o-1")));
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
    const QString oldTopic = point->topic() + "/order";
    // The board is wiped: no account, no subscription.
    point->env.domain.set(QString());
    QVERIFY(publish(oldTopic, row("o-wiped")));
    // It is paired with point 9 of an account, whose broker may be another one.
    MosquittoBroker second(QStringLiteral("beta-board"), QStringLiteral("beta-pass"));
    MosquittoBroker *broker = otherBroker ? &second : &point->broker;
    QVERIFY(!otherBroker || second.start());
    point->pair(domain, 9, point->config(60000, broker));
    if (runAgain)
        point->service.run();
    // At once: the reconnect timer (one minute here) is not waited for.
    QTRY_VERIFY_WITH_TIMEOUT(point->service.isConnected(), 5000);
    // Pushes to the old point, before and after the new one is heard, never arrive.
    QVERIFY(publish(oldTopic, row("o-old")));
    QVERIFY(point->listening(point->topic(), broker));
    QVERIFY(publish(oldTopic, row("o-old")));
    QVERIFY(point->listening(point->topic(), broker));
    QCOMPARE(
        point->env.orderModel.rowCount() + stored("order", "o-old") + stored("order", "o-wiped"),
        0);
}

void TestMqttSyncDBService::stopKeepsTheServiceDisconnected()
{
    start(100);
    QSignalSpy changed(&point->service, &MqttSyncDBService::connectChanged);
    point->service.stop();
    QVERIFY(!point->service.isConnected());
    // Neither the reconnect timer nor new settings bring it back.
    point->env.domain.set("other");
    QVERIFY(!QTest::qWaitFor([&] { return changed.size() > 1; }, 500));
    point->service.run();
    QVERIFY(point->listening());
}

QTEST_GUILESS_MAIN(TestMqttSyncDBService)
#include "tst_mqttsyncdbservice.moc"
