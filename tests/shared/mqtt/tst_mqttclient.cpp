#include "mosquittobroker.h"
#include "testenvironment.h"

#include "shared/mqtt/mqttclient.h"
#include "shared/mqtt/mqttmessage.h"
#include "shared/mqtt/mqttsubscription.h"

#include <QLoggingCategory>
#include <QPointer>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>
#include <QThread>
#include <QElapsedTimer>
#include <QTimer>

#include <memory>

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

using States = QList<MqttClient::ClientState>;

namespace {

States statesOf(const QSignalSpy &spy)
{
    States states;
    for (const QList<QVariant> &arguments : spy)
        states << arguments.at(0).value<MqttClient::ClientState>();
    return states;
}

QStringList topicsOf(const QSignalSpy &spy)
{
    QStringList topics;
    for (const QList<QVariant> &arguments : spy)
        topics << arguments.at(0).value<MqttMessage>().topic().name();
    return topics;
}

// Counts every signal of a client and its subscriptions that arrives on another thread than
// the one the client lives on.
struct ThreadWatch
{
    int offThread = 0;
    int seen = 0;
    template <typename Sender, typename Signal> void watch(Sender *owner, Signal signal)
    {
        QObject::connect(
            owner, signal, owner,
            [this, owner] {
                ++seen;
                if (QThread::currentThread() != owner->thread())
                    ++offThread;
            },
            Qt::DirectConnection);
    }
};

// A listening socket on 127.0.0.1 whose accept queue is full, so the kernel drops every further
// SYN: a client connecting to it waits for a TCP answer that never comes.
class UnansweringHost
{
public:
    UnansweringHost()
    {
        m_listener = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in address {};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof address;
        if (m_listener < 0 || ::bind(m_listener, reinterpret_cast<sockaddr *>(&address), length) != 0
            || ::listen(m_listener, 0) != 0
            || ::getsockname(m_listener, reinterpret_cast<sockaddr *>(&address), &length) != 0)
            return;
        m_port = ntohs(address.sin_port);
        // A backlog of 0 still queues one connection; a few more make sure the queue is full.
        for (int i = 0; i < 3; ++i) {
            auto filler = std::make_unique<QTcpSocket>();
            filler->connectToHost(QHostAddress::LocalHost, m_port);
            m_fillers.push_back(std::move(filler));
        }
        QTest::qWait(200);
    }
    ~UnansweringHost()
    {
        m_fillers.clear();
        if (m_listener >= 0)
            ::close(m_listener);
    }
    quint16 port() const { return m_port; }

private:
    int m_listener = -1;
    quint16 m_port = 0;
    std::vector<std::unique_ptr<QTcpSocket>> m_fillers;
};

// Collects every message written through Qt's logging while it exists.
class LogCapture
{
public:
    LogCapture()
    {
        lines.clear();
        m_previous = qInstallMessageHandler(&LogCapture::handler);
    }
    ~LogCapture() { qInstallMessageHandler(m_previous); }
    static inline QStringList lines;

private:
    static void handler(QtMsgType, const QMessageLogContext &context, const QString &message)
    {
        lines << QString::fromLatin1(context.category ? context.category : "") + QLatin1Char(' ')
                + message;
    }
    QtMessageHandler m_previous = nullptr;
};

} // namespace

// MqttClient against a real mosquitto broker that checks credentials.
class TestMqttClient : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void cleanup();

    void connectReportsStates_data();
    void connectReportsStates();
    void subscribeReceivesWithQos1_data();
    void subscribeReceivesWithQos1();
    void subscribeRefusesWhenItCannot_data();
    void subscribeRefusesWhenItCannot();
    void subscriptionsShareAFilterAndEndAlone();
    void busyClientKeepsItsSession();
    void brokerLossAndRestartAndDisconnect();
    void slowHostDoesNotBlockTheEventLoop_data();
    void slowHostDoesNotBlockTheEventLoop();
    void passwordNeverLogged();
    void destroyedWhileBusyIsSafe_data();
    void destroyedWhileBusyIsSafe();

private:
    std::unique_ptr<MqttClient> newClient(const QString &username, const QString &password);
    std::unique_ptr<MqttClient> connectedClient();
    MqttSubscription *subscribed(MqttClient &client, const QString &filter);

    MosquittoBroker m_broker;
};

void TestMqttClient::initTestCase()
{
    TestEnvironment::init();
    qRegisterMetaType<MqttClient::ClientState>();
    qRegisterMetaType<MqttSubscription::SubscriptionState>();
    qRegisterMetaType<MqttMessage>();
    QVERIFY2(m_broker.start(), qPrintable(m_broker.errorString()));
}

void TestMqttClient::cleanup()
{
    // A test that stopped the broker must not leave the next one without it.
    if (!m_broker.isRunning())
        QVERIFY2(m_broker.start(), qPrintable(m_broker.errorString()));
}

std::unique_ptr<MqttClient> TestMqttClient::newClient(
    const QString &username, const QString &password)
{
    auto client = std::make_unique<MqttClient>();
    client->setHostname(m_broker.host());
    client->setPort(m_broker.port());
    client->setUsername(username);
    client->setPassword(password);
    return client;
}

std::unique_ptr<MqttClient> TestMqttClient::connectedClient()
{
    auto client = newClient(m_broker.username(), m_broker.password());
    client->connectToHost();
    if (!QTest::qWaitFor([&] { return client->state() == MqttClient::Connected; }, 5000))
        return nullptr;
    return client;
}

MqttSubscription *TestMqttClient::subscribed(MqttClient &client, const QString &filter)
{
    MqttSubscription *subscription = client.subscribe(MqttTopicFilter(filter), 1);
    if (!subscription
        || !QTest::qWaitFor(
            [&] { return subscription->state() == MqttSubscription::Subscribed; }, 5000))
        return nullptr;
    return subscription;
}

void TestMqttClient::connectReportsStates_data()
{
    QTest::addColumn<QString>("host");
    QTest::addColumn<QString>("username");
    QTest::addColumn<QString>("password");
    QTest::addColumn<bool>("brokerPort");
    QTest::addColumn<States>("states");

    const QString user = QStringLiteral("km4-board");
    const QString right = QStringLiteral("s3cret'\"pass");
    const States accepted { MqttClient::Connecting, MqttClient::Connected };
    const States refused { MqttClient::Connecting, MqttClient::Disconnected };
    QTest::newRow("right credentials") << "127.0.0.1" << user << right << true << accepted;
    QTest::newRow("host by name") << "localhost" << user << right << true << accepted;
    QTest::newRow("wrong password") << "127.0.0.1" << user << "s3cret" << true << refused;
    // Without a user name no credentials are sent at all.
    QTest::newRow("no credentials") << "127.0.0.1" << "" << "" << true << refused;
    QTest::newRow("no host name") << "" << user << right << true << refused;
    QTest::newRow("nothing listening") << "127.0.0.1" << user << right << false << refused;
}

void TestMqttClient::connectReportsStates()
{
    QFETCH(QString, host);
    QFETCH(QString, username);
    QFETCH(QString, password);
    QFETCH(bool, brokerPort);
    QFETCH(States, states);

    quint16 port = m_broker.port();
    if (!brokerPort) {
        QTcpServer closed;
        QVERIFY(closed.listen(QHostAddress::LocalHost, 0));
        port = closed.serverPort();
    }
    auto client = newClient(username, password);
    client->setHostname(host);
    client->setPort(port);
    ThreadWatch threads;
    threads.watch(client.get(), &MqttClient::stateChanged);
    QSignalSpy spy(client.get(), &MqttClient::stateChanged);
    QVERIFY(spy.isValid());

    client->connectToHost();
    // Only Connecting is reported from inside connectToHost(); the outcome comes later.
    QCOMPARE(statesOf(spy), States { MqttClient::Connecting });

    QTRY_COMPARE(spy.size(), states.size());
    QCOMPARE(statesOf(spy), states);
    QCOMPARE(client->state(), states.constLast());
    QCOMPARE(threads.offThread, 0);
    QCOMPARE(threads.seen, states.size());

    // The refusal is final: the client does not try again by itself.
    if (states.constLast() == MqttClient::Disconnected)
        QVERIFY(!spy.wait(300));
}

void TestMqttClient::subscribeReceivesWithQos1_data()
{
    QTest::addColumn<QString>("filter");
    QTest::addColumn<QString>("topic");
    QTest::addColumn<bool>("reaches");
    // Published after the message under test; it always reaches the subscription, and since
    // one publisher's messages arrive in order, the first one had its chance once it is in.
    QTest::addColumn<QString>("marker");

    QTest::newRow("exact") << "acme/point/7/order"
                           << "acme/point/7/order" << true << "acme/point/7/order";
    QTest::newRow("hash deeper") << "acme/point/7/#"
                                 << "acme/point/7/a/b/shift" << true << "acme/point/7/end";
    QTest::newRow("hash point itself") << "acme/point/7/#"
                                       << "acme/point/7" << true << "acme/point/7/end";
    QTest::newRow("hash other point") << "acme/point/7/#"
                                      << "acme/point/70/order" << false << "acme/point/7/end";
    QTest::newRow("plus") << "acme/point/+/order"
                          << "acme/point/9/order" << true << "acme/point/1/order";
    QTest::newRow("plus too deep") << "acme/+"
                                   << "acme/point/9" << false << "acme/end";
}

void TestMqttClient::subscribeReceivesWithQos1()
{
    QFETCH(QString, filter);
    QFETCH(QString, topic);
    QFETCH(bool, reaches);
    QFETCH(QString, marker);

    auto client = connectedClient();
    QVERIFY(client);
    ThreadWatch threads;
    MqttSubscription *subscription = subscribed(*client, filter);
    QVERIFY(subscription);
    threads.watch(subscription, &MqttSubscription::messageReceived);
    threads.watch(subscription, &MqttSubscription::stateChanged);
    QSignalSpy received(subscription, &MqttSubscription::messageReceived);
    QVERIFY(received.isValid());

    // Binary payload, NUL bytes and UTF-8 must arrive byte for byte.
    const QByteArray payload
        = QByteArray("{\"from\":\"x\",\"body\":{}}\0\xff", 25) + QStringLiteral("Готов").toUtf8();
    QVERIFY2(m_broker.publish(topic, payload, 1), qPrintable(m_broker.errorString()));
    QVERIFY2(m_broker.publish(marker, "marker", 1), qPrintable(m_broker.errorString()));

    QTRY_VERIFY(!received.isEmpty()
        && received.constLast().at(0).value<MqttMessage>().payload() == "marker");
    const QStringList expected = reaches ? QStringList { topic, marker } : QStringList { marker };
    QCOMPARE(topicsOf(received), expected);
    if (reaches)
        QCOMPARE(received.constFirst().at(0).value<MqttMessage>().payload(), payload);
    QCOMPARE(threads.offThread, 0);
    QVERIFY(threads.seen >= expected.size());
}

void TestMqttClient::subscribeRefusesWhenItCannot_data()
{
    QTest::addColumn<QString>("filter");
    QTest::addColumn<bool>("connected");

    QTest::newRow("valid, not connected") << "acme/point/7/#" << false;
    QTest::newRow("empty") << "" << true;
    QTest::newRow("plus inside level") << "ac+me/point/7/#" << true;
}

void TestMqttClient::subscribeRefusesWhenItCannot()
{
    QFETCH(QString, filter);
    QFETCH(bool, connected);

    std::unique_ptr<MqttClient> client
        = connected ? connectedClient() : newClient(m_broker.username(), m_broker.password());
    QVERIFY(client);
    QVERIFY(!client->subscribe(MqttTopicFilter(filter), 1));
    QCOMPARE(client->findChildren<MqttSubscription *>().size(), 0);
    QCOMPARE(client->state(), connected ? MqttClient::Connected : MqttClient::Disconnected);
}

void TestMqttClient::subscriptionsShareAFilterAndEndAlone()
{
    auto client = connectedClient();
    QVERIFY(client);
    QPointer<MqttSubscription> gone = subscribed(*client, QStringLiteral("gone/#"));
    MqttSubscription *kept = subscribed(*client, QStringLiteral("kept/#"));
    QVERIFY(gone && kept);
    QCOMPARE(client->subscribe(MqttTopicFilter(QStringLiteral("kept/#")), 1), kept);
    QSignalSpy goneReceived(gone.data(), &MqttSubscription::messageReceived);
    QSignalSpy keptReceived(kept, &MqttSubscription::messageReceived);
    QVERIFY(goneReceived.isValid() && keptReceived.isValid());

    gone->unsubscribe();
    QCOMPARE(gone->state(), MqttSubscription::Unsubscribed);
    QVERIFY(m_broker.publish(QStringLiteral("gone/x"), "lost"));
    QVERIFY(m_broker.publish(QStringLiteral("kept/x"), "once"));
    QVERIFY(m_broker.publish(QStringLiteral("kept/y"), "marker"));
    QTRY_COMPARE(topicsOf(keptReceived), (QStringList { "kept/x", "kept/y" }));
    QCOMPARE(goneReceived.size(), 0);
    QTRY_VERIFY(gone.isNull());
}

// While a session is being set up or is up, neither new settings nor a second connect disturb it.
void TestMqttClient::busyClientKeepsItsSession()
{
    auto client = newClient(m_broker.username(), m_broker.password());
    QSignalSpy spy(client.get(), &MqttClient::stateChanged);
    QVERIFY(spy.isValid());
    client->connectToHost();
    client->connectToHost();
    QCOMPARE(statesOf(spy), States { MqttClient::Connecting });
    client->setPort(1);
    client->setUsername(QStringLiteral("other"));
    QTRY_COMPARE(client->state(), MqttClient::Connected);
    MqttSubscription *subscription = subscribed(*client, QStringLiteral("busy/#"));
    QVERIFY(subscription);

    client->setHostname(QStringLiteral("example.invalid"));
    client->setPassword(QStringLiteral("other"));
    client->connectToHost();
    QCOMPARE(client->port(), m_broker.port());
    QCOMPARE(client->password(), m_broker.password());
    QSignalSpy received(subscription, &MqttSubscription::messageReceived);
    QVERIFY(received.isValid());
    QVERIFY(m_broker.publish(QStringLiteral("busy/x"), "still here"));
    QTRY_COMPARE(received.size(), 1);
    QCOMPARE(statesOf(spy), (States { MqttClient::Connecting, MqttClient::Connected }));

    // Once disconnected, settings are taken again.
    client->disconnectFromHost();
    client->setPassword(QStringLiteral("wrong"));
    spy.clear();
    client->connectToHost();
    QTRY_COMPARE(statesOf(spy), (States { MqttClient::Connecting, MqttClient::Disconnected }));
}

void TestMqttClient::brokerLossAndRestartAndDisconnect()
{
    auto client = connectedClient();
    QVERIFY(client);
    QPointer<MqttSubscription> before = subscribed(*client, QStringLiteral("restart/#"));
    QVERIFY(before);
    QSignalSpy spy(client.get(), &MqttClient::stateChanged);
    QVERIFY(spy.isValid());

    m_broker.stop();
    QTRY_COMPARE(statesOf(spy), States { MqttClient::Disconnected });
    QTRY_VERIFY(before.isNull());

    QVERIFY2(m_broker.start(), qPrintable(m_broker.errorString()));
    // The client never reconnects by itself.
    QVERIFY(!spy.wait(300));
    client->connectToHost();
    QTRY_COMPARE(statesOf(spy),
        (States { MqttClient::Disconnected, MqttClient::Connecting, MqttClient::Connected }));

    MqttSubscription *after = subscribed(*client, QStringLiteral("restart/#"));
    QVERIFY(after);
    QSignalSpy received(after, &MqttSubscription::messageReceived);
    QVERIFY(received.isValid());
    QVERIFY(m_broker.publish(QStringLiteral("restart/order"), "once"));
    QVERIFY(m_broker.publish(QStringLiteral("restart/marker"), "marker"));
    QTRY_COMPARE(topicsOf(received), (QStringList { "restart/order", "restart/marker" }));
    QCOMPARE(client->findChildren<MqttSubscription *>().size(), 1);

    // Disconnecting on purpose ends the subscriptions the same way, and only once.
    QPointer<MqttSubscription> ended(after);
    spy.clear();
    client->disconnectFromHost();
    QCOMPARE(after->state(), MqttSubscription::Unsubscribed);
    client->disconnectFromHost();
    QCOMPARE(statesOf(spy), States { MqttClient::Disconnected });
    QTRY_VERIFY(ended.isNull());
    QVERIFY(!client->subscribe(MqttTopicFilter(QStringLiteral("restart/#")), 1));
}

void TestMqttClient::slowHostDoesNotBlockTheEventLoop_data()
{
    QTest::addColumn<bool>("acceptsTcp");
    // Accepts the TCP connection and then never answers the MQTT CONNECT.
    QTest::newRow("silent broker") << true;
    QTest::newRow("unanswered TCP handshake") << false;
}

void TestMqttClient::slowHostDoesNotBlockTheEventLoop()
{
    QFETCH(bool, acceptsTcp);

    QTcpServer silent;
    QVERIFY(silent.listen(QHostAddress::LocalHost, 0));
    QSignalSpy accepted(&silent, &QTcpServer::newConnection);
    QVERIFY(accepted.isValid());
    UnansweringHost host;
    QVERIFY(host.port() != 0);
    if (!acceptsTcp) {
        QTcpSocket probe;
        probe.connectToHost(QHostAddress::LocalHost, host.port());
        QVERIFY2(!probe.waitForConnected(300), "the host answered the TCP handshake");
    }

    int ticks = 0;
    QTimer ticker;
    ticker.setInterval(5);
    connect(&ticker, &QTimer::timeout, this, [&ticks] { ++ticks; });
    ticker.start();

    auto client = newClient(m_broker.username(), m_broker.password());
    client->setPort(acceptsTcp ? silent.serverPort() : host.port());
    QSignalSpy spy(client.get(), &MqttClient::stateChanged);
    QVERIFY(spy.isValid());
    QElapsedTimer clock;
    clock.start();
    client->connectToHost();
    QVERIFY2(clock.elapsed() < 100, "connectToHost() waited for the host");

    QTcpSocket *peer = nullptr;
    if (acceptsTcp) {
        QVERIFY(accepted.wait(5000));
        peer = silent.nextPendingConnection();
        QVERIFY(peer);
        // The CONNECT packet arrives while the event loop keeps running timers.
        QTRY_VERIFY(peer->bytesAvailable() > 0);
        QCOMPARE(quint8(peer->peek(1).at(0)), quint8(0x10));
    }
    const int ticksBefore = ticks;
    QTRY_VERIFY(ticks >= ticksBefore + 40);
    QCOMPARE(statesOf(spy), States { MqttClient::Connecting });

    std::unique_ptr<QSignalSpy> peerClosed(
        peer ? new QSignalSpy(peer, &QTcpSocket::disconnected) : nullptr);
    client->disconnectFromHost();
    QCOMPARE(statesOf(spy), (States { MqttClient::Connecting, MqttClient::Disconnected }));
    if (peerClosed)
        QVERIFY(peerClosed->wait(5000));
}

void TestMqttClient::passwordNeverLogged()
{
    QLoggingCategory::setFilterRules(QStringLiteral("km4.mqtt.debug=true"));
    const QString wrong = QStringLiteral("wr0ng-pa55word");
    {
        LogCapture capture;
        auto refused = newClient(m_broker.username(), wrong);
        refused->connectToHost();
        QTRY_COMPARE(refused->state(), MqttClient::Disconnected);

        auto accepted = connectedClient();
        QVERIFY(accepted);
        accepted->disconnectFromHost();

        UnansweringHost host;
        auto waiting = newClient(m_broker.username(), m_broker.password());
        waiting->setPort(host.port());
        waiting->connectToHost();
        QTest::qWait(100);
        waiting.reset();

        const QStringList lines = LogCapture::lines;
        // Connecting, the refusal and disconnecting were all written down...
        QVERIFY2(lines.size() >= 4, qPrintable(lines.join(QLatin1Char('\n'))));
        QVERIFY(lines.filter(QStringLiteral("km4.mqtt")).size() >= 4);
        // ...and no line holds either password.
        QCOMPARE(lines.filter(wrong), QStringList());
        QCOMPARE(lines.filter(m_broker.password()), QStringList());
    }
    QLoggingCategory::setFilterRules(QString());
}

void TestMqttClient::destroyedWhileBusyIsSafe_data()
{
    QTest::addColumn<QString>("moment");
    QTest::newRow("resolving") << "resolving";
    QTest::newRow("waiting for CONNACK") << "connack";
    QTest::newRow("connected") << "connected";
    QTest::newRow("in stateChanged") << "stateChanged";
    QTest::newRow("in messageReceived") << "messageReceived";
}

void TestMqttClient::destroyedWhileBusyIsSafe()
{
    QFETCH(QString, moment);

    QTcpServer silent;
    QVERIFY(silent.listen(QHostAddress::LocalHost, 0));
    MqttClient *client = newClient(m_broker.username(), m_broker.password()).release();
    QPointer<MqttClient> guard(client);
    if (moment == QLatin1String("connack"))
        client->setPort(silent.serverPort());

    if (moment == QLatin1String("stateChanged")) {
        connect(client, &MqttClient::stateChanged, this, [client](MqttClient::ClientState s) {
            if (s == MqttClient::Connected)
                delete client;
        });
    }
    client->connectToHost();

    if (moment == QLatin1String("resolving")) {
        delete client;
    } else if (moment == QLatin1String("connack")) {
        QSignalSpy accepted(&silent, &QTcpServer::newConnection);
        QVERIFY(accepted.isValid());
        QVERIFY(accepted.wait(5000));
        QTcpSocket *peer = silent.nextPendingConnection();
        QTRY_VERIFY(peer->bytesAvailable() > 0);
        QSignalSpy peerClosed(peer, &QTcpSocket::disconnected);
        delete client;
        QVERIFY(peerClosed.wait(5000));
    } else if (moment == QLatin1String("connected")) {
        QTRY_COMPARE(client->state(), MqttClient::Connected);
        QVERIFY(subscribed(*client, QStringLiteral("destroy/#")));
        delete client;
    } else if (moment == QLatin1String("stateChanged")) {
        QTRY_VERIFY(guard.isNull());
    } else {
        QTRY_COMPARE(client->state(), MqttClient::Connected);
        MqttSubscription *subscription = subscribed(*client, QStringLiteral("destroy/#"));
        QVERIFY(subscription);
        connect(
            subscription, &MqttSubscription::messageReceived, this, [client] { delete client; });
        QVERIFY(m_broker.publish(QStringLiteral("destroy/a"), "first"));
        QVERIFY(m_broker.publish(QStringLiteral("destroy/b"), "second"));
        QTRY_VERIFY(guard.isNull());
    }
    QVERIFY(guard.isNull());
    // Nothing of the destroyed client is left to fire; the broker still serves new clients.
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    QCoreApplication::processEvents();
    auto next = connectedClient();
    QVERIFY(next);
}

QTEST_GUILESS_MAIN(TestMqttClient)
#include "tst_mqttclient.moc"
