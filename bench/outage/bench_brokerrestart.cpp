#include "fakeserver.h"
#include "futurewait.h"
#include "mosquittobroker.h"
#include "testcore.h"
#include "testenvironment.h"

#include <QDateTime>
#include <QElapsedTimer>
#include <QJsonArray>
#include <QJsonDocument>
#include <QLoggingCategory>
#include <QMap>
#include <QRandomGenerator>
#include <QTest>

#include <algorithm>
#include <cstdio>
#include <vector>

namespace {

constexpr int rounds = 50;
constexpr int initialOrders = 20;
constexpr int changesPerGap = 6;
const QString pointTopic = QStringLiteral("127/point/7");

struct ServerOrder
{
    QString status;
    qint64 deletedAt = 0;
};

QJsonObject shiftRow()
{
    return { { "id", 1 }, { "uuid", "s-1" }, { "type", "general" }, { "number", 1 },
        { "created_at", QDateTime::currentSecsSinceEpoch() - 3600 } };
}

QJsonObject orderRow(const QString &uuid, const ServerOrder &order)
{
    return { { "uuid", uuid }, { "shift_uuid", "s-1" }, { "number", uuid.mid(2).toInt() },
        { "status", order.status }, { "created_at", QDateTime::currentSecsSinceEpoch() - 600 },
        { "updated_at", QDateTime::currentSecsSinceEpoch() },
        { "deleted_at", order.deletedAt ? QJsonValue(order.deletedAt) : QJsonValue() } };
}

double percentile(std::vector<double> values, double share)
{
    if (values.empty())
        return 0;
    std::sort(values.begin(), values.end());
    const size_t rank = size_t(std::max(1.0, std::ceil(share * double(values.size())))) - 1;
    return values[std::min(rank, values.size() - 1)];
}

} // namespace

// The broker is killed and restarted again and again under the whole core. While it is down the
// server changes orders and its pushes are lost; after each restart the board must reconnect
// promptly and show every order as the server has it once the catch-up is over.
class BenchBrokerRestart : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase()
    {
        TestEnvironment::init();
        QLoggingCategory::setFilterRules(QStringLiteral("*.debug=false"));
    }
    void killAndRestart();

private:
    // Orders of the model that differ from the server's state.
    int wrongOrders(AppEnv *env) const;

    QMap<QString, ServerOrder> serverOrders;
};

int BenchBrokerRestart::wrongOrders(AppEnv *env) const
{
    int wrong = 0;
    for (auto it = serverOrders.cbegin(); it != serverOrders.cend(); ++it) {
        const Order shown = env->orderModel.byUuid(it.key());
        const bool right
            = it->deletedAt ? !shown.isValid() : shown.isValid() && shown.status == it->status;
        if (!right)
            ++wrong;
    }
    return wrong;
}

void BenchBrokerRestart::killAndRestart()
{
    FakeServer server;
    QVERIFY(server.isListening());
    MosquittoBroker broker;
    QVERIFY2(broker.start(), qPrintable(broker.errorString()));
    TestCore core(server);
    AppEnv *env = core.env();

    SyncConfig settings;
    settings.http_sync_ms = 600000;
    settings.mqtt_host = broker.host();
    settings.mqtt_port = broker.port();
    settings.mqtt_login = broker.username();
    settings.mqtt_password = broker.password();
    settings.mqtt_offline_check_timeout = 0; // the compiled five minutes
    QJsonArray orders;
    for (int i = 1; i <= initialOrders; ++i) {
        const QString uuid = QStringLiteral("o-%1").arg(i);
        serverOrders.insert(uuid, { QStringLiteral("cooking"), 0 });
        orders.append(orderRow(uuid, serverOrders.value(uuid)));
    }
    const QJsonArray config {
        QJsonObject { { "key", "point" }, { "value", QJsonObject { { "id", 7 } } } },
        QJsonObject { { "key", "sync-config" }, { "value", settings.toJSON() } },
    };
    server.enqueue(FakeServer::SyncPath,
        FakeServer::sync(
            { { "config", config }, { "shift", QJsonArray { shiftRow() } }, { "order", orders } },
            QDateTime::currentSecsSinceEpoch()));
    env->domain.set(server.domain());
    (void)core.kmApiService()->requestToken(server.domain());
    QTRY_VERIFY_WITH_TIMEOUT(core.mqttSyncDBService()->isConnected(), TestEnvironment::patienceMs);
    QTRY_COMPARE_WITH_TIMEOUT(wrongOrders(env), 0, TestEnvironment::patienceMs);

    std::vector<double> reconnectMs;
    std::vector<double> consistentMs;
    int lostPushes = 0;
    int wrongAfterCatchUp = 0;
    int nextOrder = initialOrders + 1;
    auto *random = QRandomGenerator::global();
    for (int round = 0; round < rounds; ++round) {
        broker.stop();
        QTRY_VERIFY_WITH_TIMEOUT(
            !core.mqttSyncDBService()->isConnected(), TestEnvironment::patienceMs);

        // The server moves on: statuses change, an order is deleted, new ones come in.
        QJsonArray changed;
        for (int change = 0; change < changesPerGap; ++change) {
            QString uuid;
            ServerOrder order { QStringLiteral("cooking"), 0 };
            const QStringList live = [&] {
                QStringList uuids;
                for (auto it = serverOrders.cbegin(); it != serverOrders.cend(); ++it)
                    if (!it->deletedAt)
                        uuids.append(it.key());
                return uuids;
            }();
            const int kind = change % 3;
            if (kind == 0 || live.isEmpty()) {
                uuid = QStringLiteral("o-%1").arg(nextOrder++);
            } else {
                uuid = live.at(random->bounded(int(live.size())));
                order = serverOrders.value(uuid);
                if (kind == 1)
                    order.status = order.status == QLatin1String("ready")
                        ? QStringLiteral("cooking")
                        : QStringLiteral("ready");
                else
                    order.deletedAt = QDateTime::currentSecsSinceEpoch();
            }
            serverOrders.insert(uuid, order);
            const QJsonObject row = orderRow(uuid, order);
            changed.append(row);
            const QByteArray push = QJsonDocument(
                QJsonObject { { "from", "server" },
                    { "body", row } }).toJson(QJsonDocument::Compact);
            if (!broker.publish(pointTopic + QStringLiteral("/order"), push))
                ++lostPushes;
        }
        server.setAnswer(FakeServer::SyncPath,
            FakeServer::sync({ { "shift", QJsonArray { shiftRow() } }, { "order", changed } },
                QDateTime::currentSecsSinceEpoch()));

        QVERIFY2(broker.start(), qPrintable(broker.errorString()));
        QElapsedTimer back;
        back.start();
        QTRY_VERIFY_WITH_TIMEOUT(
            core.mqttSyncDBService()->isConnected(), TestEnvironment::patienceMs);
        reconnectMs.push_back(double(back.elapsed()));
        (void)QTest::qWaitFor([&] { return wrongOrders(env) == 0; }, TestEnvironment::patienceMs);
        consistentMs.push_back(double(back.elapsed()));
        wrongAfterCatchUp += wrongOrders(env);
    }

    std::printf("broker restarts: %d, order changes while down: %d (pushes lost: %d)\n", rounds,
        rounds * changesPerGap, lostPushes);
    std::printf("reconnect after the broker accepts, ms: min %.0f median %.0f p95 %.0f max %.0f\n",
        percentile(reconnectMs, 0), percentile(reconnectMs, 0.5), percentile(reconnectMs, 0.95),
        percentile(reconnectMs, 1));
    std::printf("board consistent after the broker accepts, ms: median %.0f p95 %.0f max %.0f\n",
        percentile(consistentMs, 0.5), percentile(consistentMs, 0.95), percentile(consistentMs, 1));
    std::printf(
        "orders wrong after catch-up: %d of %d\n", wrongAfterCatchUp, int(serverOrders.size()));
    QCOMPARE(wrongAfterCatchUp, 0);
}

QTEST_MAIN(BenchBrokerRestart)
#include "bench_brokerrestart.moc"
