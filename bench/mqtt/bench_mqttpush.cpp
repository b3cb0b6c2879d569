#include "mosquittobroker.h"
#include "testdatabase.h"
#include "testenvironment.h"

#include "core/appenv.h"
#include "entities/entitiesrepo.h"
#include "models/ordermodel.h"
#include "models/receiptitemmodel.h"
#include "models/receiptmodel.h"
#include "models/shiftmodel.h"
#include "pages/orderspage/models/inworkordersmodel.h"
#include "pages/orderspage/models/preparingordersmodel.h"
#include "pages/orderspage/models/readyordersmodel.h"
#include "services/syncDB/mqttsyncdbservice.h"

#include <QEventLoop>
#include <QFile>
#include <QFuture>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLoggingCategory>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>

#include <mosquitto.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <thread>
#include <utility>
#include <vector>

using Clock = std::chrono::steady_clock;

namespace {

constexpr int pushes = 1000;
constexpr int orderCount = 2000;
constexpr int itemsPerReceipt = 5; // one receipt per order: 10,000 receipt items
const QString shiftUuid = QStringLiteral("bench-shift");
const QString domain = QStringLiteral("bench");
constexpr int pointId = 42;

QString orderUuid(int i)
{
    return QStringLiteral("order-%1").arg(i);
}

// A plain libmosquitto client on its own network thread: the publisher, and the subscriber that
// shows what the broker alone costs.
class BareClient
{
public:
    explicit BareClient(const MosquittoBroker &broker)
    {
        m_mosq = mosquitto_new(nullptr, true, this);
        mosquitto_username_pw_set(
            m_mosq, broker.username().toUtf8().constData(), broker.password().toUtf8().constData());
        mosquitto_connect_callback_set(m_mosq, [](mosquitto *, void *self, int rc) {
            static_cast<BareClient *>(self)->m_connected = rc == 0;
        });
        mosquitto_subscribe_callback_set(
            m_mosq, [](mosquitto *, void *self, int, int, const int *) {
                static_cast<BareClient *>(self)->m_subscribed = true;
            });
        mosquitto_publish_callback_set(m_mosq,
            [](mosquitto *, void *self, int) { ++static_cast<BareClient *>(self)->m_acked; });
        mosquitto_message_callback_set(
            m_mosq, [](mosquitto *, void *self, const mosquitto_message *) {
                auto *client = static_cast<BareClient *>(self);
                const int index = client->m_received.fetch_add(1);
                if (index < pushes)
                    client->m_times[size_t(index)] = Clock::now();
            });
        m_ok = mosquitto_connect(m_mosq, broker.host().toUtf8().constData(), broker.port(), 60)
                == MOSQ_ERR_SUCCESS
            && mosquitto_loop_start(m_mosq) == MOSQ_ERR_SUCCESS;
    }
    ~BareClient()
    {
        mosquitto_disconnect(m_mosq);
        mosquitto_loop_stop(m_mosq, false);
        mosquitto_destroy(m_mosq);
    }
    bool ready() const { return m_ok && m_connected; }
    bool subscribe(const QString &filter)
    {
        return mosquitto_subscribe(m_mosq, nullptr, filter.toUtf8().constData(), 1)
            == MOSQ_ERR_SUCCESS;
    }
    bool subscribed() const { return m_subscribed; }
    bool publish(const QString &topic, const QByteArray &payload)
    {
        return mosquitto_publish(m_mosq, nullptr, topic.toUtf8().constData(), int(payload.size()),
                   payload.constData(), 1, false)
            == MOSQ_ERR_SUCCESS;
    }
    int received() const { return m_received.load(); }
    // Publications the broker has acknowledged.
    int acked() const { return m_acked.load(); }
    Clock::time_point timeOf(int index) const { return m_times[size_t(index)]; }
    void reset() { m_received = 0; }

private:
    mosquitto *m_mosq = nullptr;
    bool m_ok = false;
    std::atomic<bool> m_connected { false };
    std::atomic<bool> m_subscribed { false };
    std::atomic<int> m_received { 0 };
    std::atomic<int> m_acked { 0 };
    std::array<Clock::time_point, pushes> m_times {};
};

QByteArray orderPush(int index, int round)
{
    const QJsonObject body { { QStringLiteral("id"), index + 1 },
        { QStringLiteral("uuid"), orderUuid(index) }, { QStringLiteral("shift_uuid"), shiftUuid },
        { QStringLiteral("number"), index + 1 },
        { QStringLiteral("status"),
            round % 2 ? QStringLiteral("packaged") : QStringLiteral("new") },
        { QStringLiteral("created_at"), 1700000000 + index } };
    return QJsonDocument(QJsonObject { { QStringLiteral("from"), QStringLiteral("server") },
                             { QStringLiteral("body"), body } })
        .toJson(QJsonDocument::Compact);
}

constexpr int floodPushes = 100000;

// One valid push of the flood: every tenth moves an order between the columns, the others bring
// new receipt items in work onto the shift's receipts.
std::pair<QString, QByteArray> floodPush(int index)
{
    QJsonObject body;
    QString table;
    if (index % 10 == 0) {
        const int order = (index / 10) % orderCount;
        table = QStringLiteral("order");
        body = { { QStringLiteral("id"), order + 1 }, { QStringLiteral("uuid"), orderUuid(order) },
            { QStringLiteral("shift_uuid"), shiftUuid }, { QStringLiteral("number"), order + 1 },
            { QStringLiteral("status"),
                (index / 10) % 2 ? QStringLiteral("packaged") : QStringLiteral("cooking") },
            { QStringLiteral("is_paid"), true },
            { QStringLiteral("created_at"), 1700000000 + order } };
    } else {
        table = QStringLiteral("receipt_item");
        body = { { QStringLiteral("id"), 1000000 + index },
            { QStringLiteral("uuid"), QStringLiteral("flood-%1").arg(index) },
            { QStringLiteral("receipt_uuid"),
                QStringLiteral("receipt-%1").arg(index % orderCount) },
            { QStringLiteral("menu_id"), 7 }, { QStringLiteral("quantity"), 1 },
            { QStringLiteral("in_work"), true },
            { QStringLiteral("status"), QStringLiteral("cooking") },
            { QStringLiteral("created_at"), 1700000000 + index } };
    }
    return { table,
        QJsonDocument(QJsonObject { { QStringLiteral("from"), QStringLiteral("server") },
                          { QStringLiteral("body"), body } })
            .toJson(QJsonDocument::Compact) };
}

// Runs the event loop until the predicate holds or the time is up. QTest::qWaitFor sleeps 10 ms
// between its turns of the loop, which would throttle the pushes it waits for.
template <typename Predicate> bool runUntil(Predicate predicate, int timeoutMs)
{
    QEventLoop loop;
    QTimer check;
    QObject::connect(&check, &QTimer::timeout, &loop, [&] {
        if (predicate())
            loop.quit();
    });
    QTimer::singleShot(timeoutMs, &loop, [&] { loop.exit(1); });
    check.start(20);
    return predicate() || loop.exec() == 0;
}

// Every trace and message line, written and flushed one by one as the program's console writer
// does, into /dev/null; counted.
std::atomic<qint64> consoleLines { 0 };
FILE *consoleSink = nullptr;

void consoleLike(QtMsgType, const QMessageLogContext &, const QString &message)
{
    ++consoleLines;
    const QByteArray line = message.toUtf8() + '\n';
    std::fwrite(line.constData(), 1, size_t(line.size()), consoleSink);
    std::fflush(consoleSink);
}

// Resident memory of this process in MB.
double residentMb()
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return 0;
    for (const QByteArray &line : status.readAll().split('\n')) {
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').constFirst().toDouble() / 1024;
    }
    return 0;
}

double percentile(std::vector<double> values, double share)
{
    std::sort(values.begin(), values.end());
    const size_t rank = size_t(std::max(1.0, std::ceil(share * double(values.size())))) - 1;
    return values[std::min(rank, values.size() - 1)];
}

// The models hold the whole stored shift.
bool shiftLoaded(AppEnv &env)
{
    return QTest::qWaitFor(
        [&] {
            return env.orderModel.rowCount({}) == orderCount
                && env.receiptItemModel.rowCount({}) == orderCount * itemsPerReceipt;
        },
        60000);
}

// Publishes a receipt push after the warm-up's order pushes and waits until the board shows it:
// one client's messages arrive in order, so the board has then handled every warm-up push too.
bool warmUpHandled(BareClient &publisher, const AppEnv &env)
{
    const QString probe = QStringLiteral("warm-up-done");
    const QJsonObject body { { QStringLiteral("uuid"), probe },
        { QStringLiteral("shift_uuid"), shiftUuid }, { QStringLiteral("order_uuid"), probe } };
    return publisher.publish(QStringLiteral("%1/point/%2/receipt").arg(domain).arg(pointId),
               QJsonDocument(QJsonObject { { QStringLiteral("from"), QStringLiteral("server") },
                                 { QStringLiteral("body"), body } })
                   .toJson(QJsonDocument::Compact))
        && QTest::qWaitFor(
            [&] { return env.receiptModel.byUuid(probe).isValid(); }, TestEnvironment::patienceMs);
}

// The environment of a board paired with the bench's point, its pushes coming from `broker`.
void pairWith(AppEnv &env, const MosquittoBroker &broker)
{
    env.domain.set(domain);
    PointConfig point;
    point.id = pointId;
    env.pointConfig.set(point);
    SyncConfig config;
    config.mqtt_host = broker.host();
    config.mqtt_port = broker.port();
    config.mqtt_login = broker.username();
    config.mqtt_password = broker.password();
    env.syncConfig.set(config);
}

} // namespace

// Push-to-model latency through a real broker on loopback, with a busy shift loaded, and a flood
// of pushes published as fast as the broker takes them.
class BenchMqttPush : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void pushToModelChange();
    void flood();
    void cleanupTestCase();

private:
    bool fillShift();

    // Of the last run: Qt Test runs a benchmark once to warm up before the run it measures.
    QString m_figures;
};

void BenchMqttPush::initTestCase()
{
    TestEnvironment::init();
    // The trace lines of every push would measure the terminal, not the push.
    QLoggingCategory::setFilterRules(QStringLiteral("*.debug=false\nkm4.mqtt.warning=true"));
}

bool BenchMqttPush::fillShift()
{
    Shift shift;
    shift.id = 1;
    shift.uuid = shiftUuid;
    shift.type = QStringLiteral("general");
    shift.number = 1;
    shift.created_at = 1700000000;
    QList<Order> orders(orderCount);
    QList<Receipt> receipts(orderCount);
    QList<ReceiptItem> items(orderCount * itemsPerReceipt);
    QList<Order *> orderList;
    QList<Receipt *> receiptList;
    QList<ReceiptItem *> itemList;
    for (int i = 0; i < orderCount; ++i) {
        Order &order = orders[i];
        order.id = i + 1;
        order.uuid = orderUuid(i);
        order.shift_uuid = shiftUuid;
        order.number = i + 1;
        order.status = QStringLiteral("new");
        order.created_at = 1700000000 + i;
        orderList << &order;
        Receipt &receipt = receipts[i];
        receipt.id = i + 1;
        receipt.uuid = QStringLiteral("receipt-%1").arg(i);
        receipt.shift_uuid = shiftUuid;
        receipt.order_uuid = order.uuid;
        receiptList << &receipt;
        for (int k = 0; k < itemsPerReceipt; ++k) {
            ReceiptItem &item = items[i * itemsPerReceipt + k];
            item.id = i * itemsPerReceipt + k + 1;
            item.uuid = QStringLiteral("item-%1-%2").arg(i).arg(k);
            item.receipt_uuid = receipt.uuid;
            item.menu_id = k + 1;
            item.quantity = 1;
            item.in_work = true;
            item.created_at = 1700000000 + i;
            itemList << &item;
        }
    }
    const QList<VoidFuture> writes { EntitiesRepo::insertShift({ &shift }),
        EntitiesRepo::insertOrder(orderList), EntitiesRepo::insertReceipt(receiptList),
        EntitiesRepo::insertReceiptItem(itemList) };
    for (const VoidFuture &write : writes) {
        if (!QTest::qWaitFor([&] { return write.isFinished(); }, 60000))
            return false;
    }
    return true;
}

void BenchMqttPush::pushToModelChange()
{
    MosquittoBroker broker;
    QVERIFY2(broker.start(), qPrintable(broker.errorString()));
    TestDatabase database;
    AppEnv env;
    env.uuid.set(QStringLiteral("bench-board"));
    QVERIFY(fillShift());

    env.updateAllModels();
    QVERIFY(shiftLoaded(env));

    pairWith(env, broker);
    MqttSyncDBService service(&env);
    service.run();

    const QString topic = QStringLiteral("%1/point/%2/order").arg(domain).arg(pointId);
    BareClient publisher(broker);
    BareClient floor(broker);
    QVERIFY(QTest::qWaitFor(
        [&] { return publisher.ready() && floor.ready(); }, TestEnvironment::patienceMs));
    QVERIFY(floor.subscribe(topic));
    QVERIFY(QTest::qWaitFor(
        [&] { return floor.subscribed() && service.isConnected(); }, TestEnvironment::patienceMs));

    Clock::time_point resetAt;
    int resets = 0;
    QEventLoop loop;
    connect(&env.orderModel, &QAbstractItemModel::dataChanged, &loop, [&] {
        resetAt = Clock::now();
        ++resets;
        loop.quit();
    });
    QTimer guard;
    guard.setSingleShot(true);
    connect(&guard, &QTimer::timeout, &loop, [&] { loop.exit(1); });

    // Until the service's subscription is in place, pushes get lost: warm up until one arrives.
    bool warm = false;
    int published = 0;
    for (int attempt = 0; attempt < 50 && !warm; ++attempt) {
        QVERIFY(publisher.publish(topic, orderPush(0, 1)));
        ++published;
        guard.start(200);
        warm = loop.exec() == 0;
    }
    QVERIFY(warm);
    QVERIFY(warmUpHandled(publisher, env));
    QVERIFY(QTest::qWaitFor(
        [&] { return floor.received() >= published; }, TestEnvironment::patienceMs));
    floor.reset();
    resets = 0;

    std::vector<double> model;
    std::vector<double> bare;
    std::vector<Clock::time_point> sent(pushes);
    QBENCHMARK_ONCE
    {
        for (int i = 0; i < pushes; ++i) {
            sent[size_t(i)] = Clock::now();
            QVERIFY(publisher.publish(topic, orderPush(i % orderCount, i)));
            guard.start(TestEnvironment::patienceMs);
            QCOMPARE(loop.exec(), 0);
            model.push_back(
                std::chrono::duration<double, std::micro>(resetAt - sent[size_t(i)]).count());
        }
    }
    QCOMPARE(resets, pushes);
    QVERIFY(
        QTest::qWaitFor([&] { return floor.received() >= pushes; }, TestEnvironment::patienceMs));
    QCOMPARE(floor.received(), pushes);
    for (int i = 0; i < pushes; ++i)
        bare.push_back(
            std::chrono::duration<double, std::micro>(floor.timeOf(i) - sent[size_t(i)]).count());
    QCOMPARE(env.orderModel.rowCount({}), orderCount);

    m_figures += QString::asprintf("MQTT push to the changed OrderModel row, %d pushes, %d orders "
                                   "and %d receipt items loaded:\n"
                                   "  model:             median %8.1f us   p99 %8.1f us\n"
                                   "  bare libmosquitto: median %8.1f us   p99 %8.1f us\n",
        pushes, orderCount, orderCount * itemsPerReceipt, percentile(model, 0.5),
        percentile(model, 0.99), percentile(bare, 0.5), percentile(bare, 0.99));

    // The pushes' database writes finish before the database goes.
    TestDatabase::drainThreadPool();
}

// 100,000 valid pushes published as fast as the broker acknowledges them (a window of 100
// unacknowledged publications), with a busy shift loaded and the broker's own delivery to a bare
// subscriber as the anchor. Done when every pushed row is in its model and in the database.
void BenchMqttPush::flood()
{
    MosquittoBroker broker;
    // The broker holds what its subscribers have not taken yet; by default it drops a QoS 1
    // message once 1,000 wait for one client, which even the bare subscriber runs into here.
    broker.setExtraConfig("max_queued_messages 200000\n");
    QVERIFY2(broker.start(), qPrintable(broker.errorString()));
    TestDatabase database;
    AppEnv env;
    env.uuid.set(QStringLiteral("bench-board"));
    QVERIFY(fillShift());
    // The board's columns follow the models throughout.
    InWorkOrdersModel inWork(&env.receiptItemModel, &env.receiptModel, &env.orderModel, &env);
    PreparingOrdersModel preparing;
    ReadyOrdersModel ready;
    preparing.setSourceModel(&inWork);
    ready.setSourceModel(&inWork);
    env.updateAllModels();
    QVERIFY(shiftLoaded(env));
    const int itemsBefore = env.receiptItemModel.rowCount({});

    pairWith(env, broker);
    MqttSyncDBService service(&env);
    service.run();

    const QString prefix = QStringLiteral("%1/point/%2/").arg(domain).arg(pointId);
    BareClient publisher(broker);
    BareClient floor(broker);
    QVERIFY(QTest::qWaitFor(
        [&] { return publisher.ready() && floor.ready(); }, TestEnvironment::patienceMs));
    QVERIFY(floor.subscribe(prefix + QStringLiteral("#")));
    QVERIFY(QTest::qWaitFor(
        [&] { return floor.subscribed() && service.isConnected(); }, TestEnvironment::patienceMs));
    // Until the service's subscription is in place, pushes get lost: warm up until one arrives.
    QSignalSpy warm(&env.orderModel, &QAbstractItemModel::dataChanged);
    int published = 0;
    for (int attempt = 0; attempt < 50 && warm.isEmpty(); ++attempt) {
        QVERIFY(publisher.publish(prefix + QStringLiteral("order"), orderPush(0, 1)));
        ++published;
        QTest::qWait(100);
    }
    QVERIFY(!warm.isEmpty());
    QVERIFY(warmUpHandled(publisher, env));
    // The bare subscriber takes the receipt push as well.
    QVERIFY(QTest::qWaitFor(
        [&] { return floor.received() >= published + 1; }, TestEnvironment::patienceMs));
    floor.reset();
    const int ackedBefore = publisher.acked();

    QList<std::pair<QString, QByteArray>> messages;
    messages.reserve(floodPushes);
    for (int i = 0; i < floodPushes; ++i) {
        auto push = floodPush(i);
        push.first.prepend(prefix);
        messages.append(push);
    }
    double peakMb = residentMb();
    QTimer sampler;
    int samples = 0;
    connect(&sampler, &QTimer::timeout, [&] {
        peakMb = std::max(peakMb, residentMb());
        if (++samples % 20 == 0)
            std::fprintf(stderr, "acked %d, bare subscriber %d, items shown %d, %.0f MB\n",
                publisher.acked() - ackedBefore, floor.received(),
                env.receiptItemModel.rowCount({}) - itemsBefore, residentMb());
    });
    sampler.start(50);

    consoleSink = std::fopen("/dev/null", "w");
    QVERIFY(consoleSink);
    QLoggingCategory::setFilterRules(QStringLiteral("km4.mqtt.debug=false"));
    const QtMessageHandler previousHandler = qInstallMessageHandler(consoleLike);
    const auto started = Clock::now();
    std::atomic<qint64> publishedMs { -1 };
    std::atomic<qint64> floorMs { -1 };
    std::atomic<bool> publishFailed { false };
    std::thread publishing([&] {
        for (int i = 0; i < floodPushes; ++i) {
            while (i - (publisher.acked() - ackedBefore) >= 100)
                std::this_thread::yield();
            if (!publisher.publish(messages.at(i).first, messages.at(i).second))
                publishFailed = true;
        }
        while (publisher.acked() - ackedBefore < floodPushes)
            std::this_thread::yield();
        publishedMs
            = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - started).count();
        while (floor.received() < floodPushes && Clock::now() - started < std::chrono::seconds(300))
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        floorMs
            = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - started).count();
    });

    const int itemsExpected = itemsBefore + floodPushes - floodPushes / 10;
    const bool shown
        = runUntil([&] { return env.receiptItemModel.rowCount({}) >= itemsExpected; }, 300000);
    const qint64 shownMs
        = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - started).count();
    const QString countItems = QStringLiteral("SELECT count(*) FROM receipt_item");
    const bool stored = runUntil(
        [&] { return TestDatabase::textColumn(countItems).value(0).toInt() >= itemsExpected; },
        300000);
    const qint64 storedMs
        = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - started).count();
    sampler.stop();
    qInstallMessageHandler(previousHandler);
    QLoggingCategory::setFilterRules(QStringLiteral("*.debug=false\nkm4.mqtt.warning=true"));
    std::fclose(consoleSink);
    peakMb = std::max(peakMb, residentMb());
    publishing.join();
    QVERIFY(!publishFailed);

    const QString lastOrder = orderUuid(((floodPushes - 10) / 10) % orderCount);
    m_figures += QString::asprintf(
        "MQTT flood of %d valid pushes (%d orders and %d receipt items loaded):\n"
        "  published and acknowledged in %lld ms, bare subscriber received all in %lld ms\n"
        "  shown in the models after %lld ms (%d of %d new items), stored after %lld ms\n"
        "  board: %.0f pushes/s; bare subscriber: %.0f pushes/s; ratio %.2f\n"
        "  peak resident memory %.0f MB; %.1f console lines per push\n",
        floodPushes, orderCount, orderCount * itemsPerReceipt, qlonglong(publishedMs.load()),
        qlonglong(floorMs.load()), qlonglong(shownMs),
        env.receiptItemModel.rowCount({}) - itemsBefore, itemsExpected - itemsBefore,
        qlonglong(storedMs), floodPushes * 1000.0 / double(storedMs),
        floodPushes * 1000.0 / double(floorMs.load()), double(floorMs.load()) / double(storedMs),
        peakMb, double(consoleLines.load()) / floodPushes);
    QVERIFY(shown);
    QVERIFY(stored);
    QCOMPARE(env.orderModel.byUuid(lastOrder).status, QStringLiteral("packaged"));
    QCOMPARE(inWork.rowCount(), orderCount);
    QCOMPARE(preparing.rowCount() + ready.rowCount(), orderCount);
    QVERIFY(ready.rowCount() > 0);
    TestDatabase::drainThreadPool();
}

void BenchMqttPush::cleanupTestCase()
{
    std::fputs(qPrintable(m_figures), stdout);
    std::fflush(stdout);
}

QTEST_GUILESS_MAIN(BenchMqttPush)
#include "bench_mqttpush.moc"
