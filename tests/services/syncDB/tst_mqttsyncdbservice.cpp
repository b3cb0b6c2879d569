#include "fakeserver.h"
#include "futurewait.h"
#include "logcapture.h"
#include "mosquittobroker.h"
#include "testdatabase.h"
#include "testenvironment.h"

#include "core/appenv.h"
#include "models/ordermodel.h"
#include "models/receiptitemmodel.h"
#include "models/receiptmodel.h"
#include "models/shiftmodel.h"
#include "services/env/envservice.h"
#include "services/syncDB/httpsyncdbservice.h"
#include "services/syncDB/mqttsyncdbservice.h"
#include "shared/kmapi.h"

#include <QDateTime>
#include <QElapsedTimer>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSignalSpy>
#include <QTest>

#include <memory>

namespace {

const QString deviceUuid = QStringLiteral("board-1");

QByteArray pushOf(const QJsonObject &body, const QJsonValue &from = QStringLiteral("server"))
{
    QJsonObject payload { { QStringLiteral("body"), body } };
    if (!from.isUndefined())
        payload.insert(QStringLiteral("from"), from);
    return QJsonDocument(payload).toJson(QJsonDocument::Compact);
}

QJsonObject orderRow(const QString &uuid, int number, qint64 deletedAt = 0)
{
    return { { "id", number }, { "uuid", uuid }, { "shift_uuid", "shift-7" }, { "number", number },
        { "status", "new" }, { "created_at", 1700000000 },
        { "deleted_at", deletedAt ? QJsonValue(deletedAt) : QJsonValue() } };
}

QJsonObject shiftRow(const QString &uuid, int number, const QString &type, qint64 closedAt)
{
    return { { "id", number }, { "uuid", uuid }, { "type", type }, { "number", number },
        { "created_at", 1700000000 },
        { "closed_at", closedAt ? QJsonValue(closedAt) : QJsonValue() } };
}

QJsonObject receiptRow(const QString &uuid)
{
    return { { "id", 1 }, { "uuid", uuid }, { "shift_uuid", "shift-7" },
        { "order_uuid", "order-1" } };
}

// Rows of a local table with that uuid.
int storedRows(const QString &table, const QString &uuid)
{
    return TestDatabase::column(
        QStringLiteral("SELECT COUNT(*) FROM '%1' WHERE uuid = '%2'").arg(table, uuid))
        .value(0, -1)
        .toInt();
}

// Whether a warning or worse containing the text was logged.
bool warned(const LogCapture &log, const QString &text)
{
    for (const LogCapture::Entry &entry : log.entries()) {
        if (entry.level >= 2 && entry.message.contains(text))
            return true;
    }
    return false;
}

} // namespace

// MqttSyncDBService against a real mosquitto broker, with a real local database behind the
// models it feeds.
class TestMqttSyncDBService : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void init();
    void cleanup();

    void pushReachesItsModelAndTable_data();
    void pushReachesItsModelAndTable();
    void currentShiftRule_data();
    void currentShiftRule();
    void wrongPasswordRetriesOnTheTimer();
    void brokerRestartReconnectsWithBackoff_data();
    void brokerRestartReconnectsWithBackoff();
    void portOutOfRangeIsTriedOnce();
    void disabledMqttDoesNotConnect();
    void rePairingMovesTheSubscription_data();
    void rePairingMovesTheSubscription();
    void invalidDomainSubscribesNothing_data();
    void invalidDomainSubscribesNothing();
    void stopKeepsTheServiceDisconnected();
    void boardPairedFromScratchReceivesPushes();

private:
    SyncConfig brokerConfig(int offlineCheckMs = 60000) const;
    void pair(const QString &domain, int pointId, const SyncConfig &config);
    QString pointTopic() const;
    // Publishes receipt pushes until one arrives, so the subscription is known to be in place.
    bool listening(const QString &topic, MosquittoBroker *broker = nullptr);
    bool publish(
        const QString &topic, const QByteArray &payload, MosquittoBroker *broker = nullptr);

    MosquittoBroker m_broker;
    std::unique_ptr<LogCapture> m_log;
    std::unique_ptr<TestDatabase> m_database;
    std::unique_ptr<AppEnv> m_env;
    std::unique_ptr<MqttSyncDBService> m_service;
    int m_probes = 0;
};

void TestMqttSyncDBService::initTestCase()
{
    TestEnvironment::init();
    QVERIFY2(m_broker.start(), qPrintable(m_broker.errorString()));
}

void TestMqttSyncDBService::init()
{
    m_probes = 0;
    m_log = std::make_unique<LogCapture>();
    m_database = std::make_unique<TestDatabase>();
    m_env = std::make_unique<AppEnv>();
    m_env->uuid.set(deviceUuid);
    m_service = std::make_unique<MqttSyncDBService>(m_env.get());
}

void TestMqttSyncDBService::cleanup()
{
    m_service.reset();
    // Writes still running on the pool finish before their database goes.
    TestDatabase::drainThreadPool();
    m_env.reset();
    m_database.reset();
    m_log.reset();
    if (!m_broker.isRunning())
        QVERIFY2(m_broker.start(), qPrintable(m_broker.errorString()));
}

SyncConfig TestMqttSyncDBService::brokerConfig(int offlineCheckMs) const
{
    SyncConfig config;
    config.mqtt_enabled = true;
    config.mqtt_host = m_broker.host();
    config.mqtt_port = m_broker.port();
    config.mqtt_login = m_broker.username();
    config.mqtt_password = m_broker.password();
    config.mqtt_offline_check_timeout = offlineCheckMs;
    return config;
}

void TestMqttSyncDBService::pair(const QString &domain, int pointId, const SyncConfig &config)
{
    m_env->domain.set(domain);
    PointConfig point;
    point.id = pointId;
    m_env->pointConfig.set(point);
    m_env->syncConfig.set(config);
}

QString TestMqttSyncDBService::pointTopic() const
{
    return m_env->domain.value() + QStringLiteral("/point/")
        + QString::number(m_env->pointConfig.value().id);
}

bool TestMqttSyncDBService::publish(
    const QString &topic, const QByteArray &payload, MosquittoBroker *broker)
{
    if (!broker)
        broker = &m_broker;
    if (!broker->publish(topic, payload)) {
        qWarning() << broker->errorString();
        return false;
    }
    return true;
}

bool TestMqttSyncDBService::listening(const QString &topic, MosquittoBroker *broker)
{
    const QString probe = QStringLiteral("probe-%1").arg(++m_probes);
    for (int attempt = 0; attempt < 50; ++attempt) {
        if (!publish(topic + QStringLiteral("/receipt"), pushOf(receiptRow(probe)), broker))
            return false;
        if (QTest::qWaitFor([&] { return m_env->receiptModel.byUuid(probe).isValid(); }, 100))
            return true;
    }
    return false;
}

void TestMqttSyncDBService::pushReachesItsModelAndTable_data()
{
    QTest::addColumn<QString>("levels");
    QTest::addColumn<QByteArray>("payload");
    QTest::addColumn<QString>("table"); // where the row lands; empty when the push is ignored
    QTest::addColumn<QString>("uuid");
    const auto row = [](const char *name, const char *levels, const QByteArray &payload,
                         const char *table, const char *uuid) {
        QTest::newRow(name) << QString::fromUtf8(levels) << payload << QString::fromUtf8(table)
                            << QString::fromUtf8(uuid);
    };

    const QByteArray order = pushOf(orderRow("o-1", 12));
    const QByteArray shift = pushOf(shiftRow("s-1", 3, "general", 0));
    const QJsonObject item { { "id", 1 }, { "uuid", "i-1" }, { "receipt_uuid", "receipt-1" },
        { "menu_id", 3 }, { "quantity", 1.5 }, { "in_work", true } };
    row("order", "/order", order, "order", "o-1");
    row("own push", "/order", pushOf(orderRow("o-1", 12), "qu-board-1"), "", "o-1");
    row("other board", "/order", pushOf(orderRow("o-1", 12), "qu-board-2"), "order", "o-1");
    row("without from", "/order", pushOf(orderRow("o-1", 12), QJsonValue::Undefined), "order",
        "o-1");
    row("shift", "/shift", shift, "shift", "s-1");
    row("shift below more levels", "/a/b/shift", shift, "shift", "s-1");
    row("receipt", "/receipt", pushOf(receiptRow("r-1")), "receipt", "r-1");
    row("receipt item", "/receipt_item", pushOf(item), "receipt_item", "i-1");
    row("other table", "/menu", order, "", "o-1");
    row("point topic itself", "", order, "", "o-1");
    row("table name as a middle level", "/order/x", order, "", "o-1");
    // A body the entity cannot read still makes an (empty) row, as the server sent it.
    row("not JSON", "/order", "{not json", "order", "");
    row("no body", "/order", R"({"from":"server"})", "order", "");
}

void TestMqttSyncDBService::pushReachesItsModelAndTable()
{
    QFETCH(QString, levels);
    QFETCH(QByteArray, payload);
    QFETCH(QString, table);
    QFETCH(QString, uuid);

    pair(QStringLiteral("acme"), 7, brokerConfig());
    m_service->run();
    QVERIFY(listening(pointTopic()));

    const std::pair<const char *, QAbstractItemModel *> models[] { { "order", &m_env->orderModel },
        { "shift", &m_env->shiftModel }, { "receipt_item", &m_env->receiptItemModel },
        { "receipt", &m_env->receiptModel } };
    std::vector<std::unique_ptr<QSignalSpy>> inserts;
    for (const auto &model : models)
        inserts.push_back(
            std::make_unique<QSignalSpy>(model.second, &QAbstractItemModel::rowsInserted));
    QVERIFY(publish(pointTopic() + levels, payload));
    // Pushes arrive in order: once the next probe is in, the push under test was handled.
    QVERIFY(listening(pointTopic()));

    for (int i = 0; i < 4; ++i) {
        const int probes = i == 3 ? m_probes : 0, probesNow = i == 3 ? 1 : 0;
        const int expected = table == QLatin1String(models[i].first) ? 1 : 0;
        QCOMPARE(models[i].second->rowCount() - probes, expected);
        QCOMPARE(inserts[i]->size() - probesNow, expected);
    }
    if (!table.isEmpty())
        QTRY_COMPARE(storedRows(table, uuid), 1);
    else
        QCOMPARE(storedRows(QStringLiteral("order"), uuid), 0);
}

void TestMqttSyncDBService::currentShiftRule_data()
{
    QTest::addColumn<QString>("uuid");
    QTest::addColumn<int>("number");
    QTest::addColumn<QString>("type");
    QTest::addColumn<qint64>("closedAt");
    QTest::addColumn<QString>("currentUuid");
    QTest::addColumn<bool>("open");
    QTest::addColumn<int>("shifts");
    const auto row = [](const char *name, const char *uuid, int number, const char *type,
                         qint64 closedAt, const char *current, bool open, int shifts) {
        QTest::newRow(name) << QString::fromUtf8(uuid) << number << QString::fromUtf8(type)
                            << closedAt << QString::fromUtf8(current) << open << shifts;
    };

    // The current shift is "s-7", number 7, general and open.
    row("current shift closed", "s-7", 7, "general", 1700000500, "s-7", false, 1);
    row("newer general shift", "s-8", 8, "general", 0, "s-8", true, 2);
    row("newer shift already closed", "s-8", 8, "general", 1700000500, "s-8", false, 2);
    row("older general shift", "s-6", 6, "general", 0, "s-7", true, 2);
    row("newer shift not general", "s-9", 9, "cashier", 0, "s-7", true, 2);
    row("type differs in case", "s-9", 9, "General", 0, "s-7", true, 2);
}

void TestMqttSyncDBService::currentShiftRule()
{
    QFETCH(QString, uuid);
    QFETCH(int, number);
    QFETCH(QString, type);
    QFETCH(qint64, closedAt);
    QFETCH(QString, currentUuid);
    QFETCH(bool, open);
    QFETCH(int, shifts);

    pair(QStringLiteral("acme"), 7, brokerConfig());
    m_service->run();
    QVERIFY(listening(pointTopic()));

    // Without a current shift any general shift becomes the current one.
    QVERIFY(m_env->shiftUuid.value().isEmpty());
    QVERIFY(publish(pointTopic() + "/shift",
        pushOf(shiftRow(QStringLiteral("s-7"), 7, QStringLiteral("general"), 0))));
    QTRY_COMPARE(m_env->shiftUuid.value(), QStringLiteral("s-7"));
    QCOMPARE(m_env->isShiftOpen.value(), true);

    QSignalSpy uuidChanged(&m_env->shiftUuid, &PrivateEnvVariable::changed);
    QVERIFY(uuidChanged.isValid());
    QVERIFY(publish(pointTopic() + "/shift", pushOf(shiftRow(uuid, number, type, closedAt))));
    QTRY_COMPARE(m_env->shiftModel.rowCount({}), shifts);
    QTRY_COMPARE(m_env->shiftModel.byUuid(uuid).closed_at, closedAt);
    QCOMPARE(m_env->shiftUuid.value(), currentUuid);
    QCOMPARE(m_env->isShiftOpen.value(), open);
    QCOMPARE(uuidChanged.size(), currentUuid == QLatin1String("s-7") ? 0 : 1);
    QTRY_COMPARE(storedRows(QStringLiteral("shift"), uuid), 1);
}

void TestMqttSyncDBService::wrongPasswordRetriesOnTheTimer()
{
    SyncConfig config = brokerConfig(150);
    config.mqtt_password = QStringLiteral("wrong");
    pair(QStringLiteral("acme"), 7, config);
    QSignalSpy changed(m_service.get(), &MqttSyncDBService::connectChanged);
    QVERIFY(changed.isValid());

    QElapsedTimer clock;
    clock.start();
    m_service->run();
    // Every attempt is one Connecting and one Disconnected report; one timer paces them.
    QTRY_VERIFY(changed.size() >= 6);
    QVERIFY(!m_service->isConnected());
    QVERIFY2(changed.size() / 2 <= clock.elapsed() / 150 + 2,
        qPrintable(QString::number(changed.size())));
    for (const LogCapture::Entry &entry : m_log->entries())
        QVERIFY2(!entry.message.contains(QLatin1String("wrong")), qPrintable(entry.message));

    // The right password, once it arrives, is taken up by the next attempt.
    m_env->syncConfig.set(brokerConfig(150));
    QTRY_VERIFY(m_service->isConnected());
    QVERIFY(listening(pointTopic()));
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

    pair(QStringLiteral("acme"), 7, brokerConfig(interval));
    m_service->run();
    QVERIFY(listening(pointTopic()));
    QSignalSpy interrupted(m_service.get(), &MqttSyncDBService::pushesInterrupted);
    QSignalSpy resumed(m_service.get(), &MqttSyncDBService::pushesResumed);
    QVERIFY(interrupted.isValid() && resumed.isValid());
    QElapsedTimer clock;
    QList<qint64> changes;
    connect(m_service.get(), &MqttSyncDBService::connectChanged, this,
        [&] { changes.append(clock.elapsed()); });

    clock.start();
    m_broker.stop();
    // The drop, then a Connecting and a Disconnected report for each attempt.
    QTRY_VERIFY_WITH_TIMEOUT(changes.size() >= 1 + 2 * delays.size(), 10000);
    QCOMPARE(interrupted.size(), 1);
    for (int attempt = 0; attempt < delays.size(); ++attempt) {
        const qint64 waited = changes.at(1 + 2 * attempt) - changes.at(2 * attempt);
        // A coarse timer may fire up to 5 % early.
        QVERIFY2(waited >= delays.at(attempt) * 9 / 10 && waited <= delays.at(attempt) + 400,
            qPrintable(QStringLiteral("attempt %1 after %2 ms").arg(attempt + 1).arg(waited)));
    }

    QVERIFY2(m_broker.start(), qPrintable(m_broker.errorString()));
    QTRY_VERIFY_WITH_TIMEOUT(m_service->isConnected(), 6000);
    QVERIFY(listening(pointTopic()));
    QCOMPARE(resumed.size(), 1);
    QCOMPARE(interrupted.size(), 1);

    // One subscription: the push is handled exactly once.
    QSignalSpy orderInserts(&m_env->orderModel, &QAbstractItemModel::rowsInserted);
    QVERIFY(orderInserts.isValid());
    QVERIFY(publish(pointTopic() + "/order", pushOf(orderRow("o-1", 1))));
    QVERIFY(listening(pointTopic()));
    QCOMPARE(orderInserts.size(), 1);
    QCOMPARE(m_env->orderModel.rowCount({}), 1);
    // Connected: no attempt follows.
    const qsizetype settled = changes.size();
    QTest::qWait(300);
    QCOMPARE(changes.size(), settled);
}

// 70000 would become port 4464 as a 16-bit number.
void TestMqttSyncDBService::portOutOfRangeIsTriedOnce()
{
    SyncConfig config = brokerConfig();
    config.mqtt_port = 65536 + m_broker.port();
    pair(QStringLiteral("acme"), 7, config);
    QSignalSpy changed(m_service.get(), &MqttSyncDBService::connectChanged);
    QVERIFY(changed.isValid());
    m_service->run();
    QTRY_COMPARE(changed.size(), 2);
    QTest::qWait(500);
    QCOMPARE(changed.size(), 2);
    QVERIFY(!m_service->isConnected());
    QVERIFY(warned(*m_log, QStringLiteral("out of range")));
}

void TestMqttSyncDBService::disabledMqttDoesNotConnect()
{
    SyncConfig config = brokerConfig(100);
    config.mqtt_enabled = false;
    pair(QStringLiteral("acme"), 7, config);
    QSignalSpy changed(m_service.get(), &MqttSyncDBService::connectChanged);
    QVERIFY(changed.isValid());
    m_service->run();
    QTest::qWait(400);
    QCOMPARE(changed.size(), 0);
    QVERIFY(!m_service->isConnected());

    // Retrying against a stopped broker, then disabled: the next timeout ends the retries.
    m_env->syncConfig.set(brokerConfig(100));
    m_broker.stop();
    QTRY_VERIFY(changed.size() >= 4);
    m_env->syncConfig.set(config);
    QTest::qWait(250);
    const qsizetype settled = changed.size();
    QTest::qWait(400);
    QCOMPARE(changed.size(), settled);
}

void TestMqttSyncDBService::rePairingMovesTheSubscription_data()
{
    QTest::addColumn<bool>("otherBroker");
    QTest::newRow("same broker") << false;
    QTest::newRow("other broker") << true;
}

void TestMqttSyncDBService::rePairingMovesTheSubscription()
{
    QFETCH(bool, otherBroker);

    pair(QStringLiteral("acme"), 7, brokerConfig());
    m_service->run();
    QVERIFY(listening(pointTopic()));
    const QString oldTopic = pointTopic();

    // The board is wiped: no account, no subscription.
    m_env->domain.set(QString());
    QVERIFY(publish(oldTopic + "/order", pushOf(orderRow("o-wiped", 1))));

    // It is paired with another account, whose broker may be another one.
    MosquittoBroker second(QStringLiteral("beta-board"), QStringLiteral("beta-pass"));
    MosquittoBroker *broker = &m_broker;
    SyncConfig config = brokerConfig();
    if (otherBroker) {
        QVERIFY2(second.start(), qPrintable(second.errorString()));
        broker = &second;
        config.mqtt_port = second.port();
        config.mqtt_login = second.username();
        config.mqtt_password = second.password();
    }
    m_env->domain.set(QStringLiteral("beta"));
    PointConfig point;
    point.id = 9;
    m_env->pointConfig.set(point);
    m_env->syncConfig.set(config);
    m_service->run();
    // At once: the reconnect timer (one minute here) is not waited for.
    QTRY_VERIFY_WITH_TIMEOUT(m_service->isConnected(), 5000);

    // Pushes to the old point, before and after the new one is heard, never arrive.
    QVERIFY(publish(oldTopic + "/order", pushOf(orderRow("o-old", 1))));
    QVERIFY(listening(QStringLiteral("beta/point/9"), broker));
    QVERIFY(publish(oldTopic + "/order", pushOf(orderRow("o-old", 1))));
    QVERIFY(listening(QStringLiteral("beta/point/9"), broker));
    for (const char *uuid : { "o-old", "o-wiped" }) {
        QVERIFY2(!m_env->orderModel.byUuid(uuid).isValid(), uuid);
        QCOMPARE(storedRows(QStringLiteral("order"), uuid), 0);
    }
}

void TestMqttSyncDBService::invalidDomainSubscribesNothing_data()
{
    QTest::addColumn<QString>("domain");
    QTest::newRow("hash") << "ac#me";
    QTest::newRow("whole level wildcard") << "+";
}

void TestMqttSyncDBService::invalidDomainSubscribesNothing()
{
    QFETCH(QString, domain);

    pair(domain, 7, brokerConfig());
    m_service->run();
    QTRY_VERIFY(m_service->isConnected());
    QTRY_VERIFY(warned(*m_log, domain + QStringLiteral("/point/7/#")));
    // Nothing of another account reaches the board, even where "+" would have matched it.
    QVERIFY(publish(QStringLiteral("other/point/7/order"), pushOf(orderRow("o-x", 1))));

    // A valid domain later on is subscribed without a new run().
    m_env->domain.set(QStringLiteral("acme"));
    QVERIFY(listening(pointTopic()));
    QCOMPARE(m_env->orderModel.rowCount({}), 0);
}

void TestMqttSyncDBService::stopKeepsTheServiceDisconnected()
{
    pair(QStringLiteral("acme"), 7, brokerConfig(100));
    m_service->run();
    QVERIFY(listening(pointTopic()));
    QSignalSpy changed(m_service.get(), &MqttSyncDBService::connectChanged);
    QVERIFY(changed.isValid());

    m_service->stop();
    QVERIFY(!m_service->isConnected());
    QCOMPARE(changed.size(), 1);
    // Neither the timer nor new settings bring it back.
    m_env->domain.set(QStringLiteral("other"));
    QTest::qWait(500);
    QCOMPARE(changed.size(), 1);

    m_service->run();
    QTRY_VERIFY(m_service->isConnected());
    QVERIFY(listening(QStringLiteral("other/point/7")));
}

// The whole road of a first start: the push client is started on the first synchronisation's
// finish, and the point and broker that synchronisation stored reach it through the settings
// loader only afterwards.
void TestMqttSyncDBService::boardPairedFromScratchReceivesPushes()
{
    FakeServer server;
    QVERIFY(server.isListening());
    KMAPI api;
    api.useHttps(false);
    api.setHost(server.host());
    QVERIFY(waitFor(api.requestToken(server.domain(), deviceUuid)));

    // Only the compiled broker is known, and it does not answer here.
    SyncConfig compiled = brokerConfig();
    compiled.mqtt_port = FakeServer::unusedPort();
    m_env->syncConfig.set(compiled);
    m_env->domain.set(server.domain());
    ENVService settings(m_env.get());
    HttpSyncDBService sync(&api, m_env.get());
    // As the application core wires them.
    connect(m_env.get(), &AppEnv::updateEnv, &settings, &ENVService::run);
    connect(&sync, &HttpSyncDBService::firstSyncFinished, this, [this] {
        m_env->updateAllModels();
        m_service->run();
    });
    QSignalSpy orderResets(&m_env->orderModel, &QAbstractItemModel::modelReset);
    QSignalSpy receiptResets(&m_env->receiptModel, &QAbstractItemModel::modelReset);
    QVERIFY(orderResets.isValid() && receiptResets.isValid());

    QJsonObject broker = brokerConfig().toJSON();
    broker.insert(QStringLiteral("http_sync_ms"), 600000);
    const QJsonArray config {
        QJsonObject { { "key", "point" }, { "value", QJsonObject { { "id", 7 } } } },
        QJsonObject { { "key", "sync-config" }, { "value", broker } },
    };
    server.enqueue(FakeServer::SyncPath,
        FakeServer::sync({ { "config", config } }, QDateTime::currentSecsSinceEpoch()));
    sync.run();

    QTRY_VERIFY_WITH_TIMEOUT(m_service->isConnected(), 10000);
    QCOMPARE(m_env->pointConfig.value().id, 7);
    // The models have been loaded for the (empty) current shift; pushes come on top.
    QTRY_VERIFY(!orderResets.isEmpty() && !receiptResets.isEmpty());
    const QString topic = server.domain() + QStringLiteral("/point/7");
    QVERIFY(listening(topic));
    QVERIFY(publish(topic + QStringLiteral("/order"), pushOf(orderRow("o-1", 1))));
    QTRY_VERIFY(m_env->orderModel.byUuid("o-1").isValid());
    QTRY_COMPARE(storedRows(QStringLiteral("order"), "o-1"), 1);
    sync.stop();
}

QTEST_GUILESS_MAIN(TestMqttSyncDBService)
#include "tst_mqttsyncdbservice.moc"
