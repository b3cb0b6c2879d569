#include "mosquittobroker.h"
#include "testenvironment.h"

#include "shared/mqtt/mqttclient.h"
#include "shared/mqtt/mqttmessage.h"
#include "shared/mqtt/mqttsubscription.h"
#include "shared/mqtt/mqtttopicname.h"

#include <QElapsedTimer>
#include <QLoggingCategory>
#include <QPointer>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>
#include <QThread>
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

// Counts the signals of an object that arrive on another thread than the object's own.
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
                offThread += QThread::currentThread() != owner->thread();
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
        if (m_listener < 0
            || ::bind(m_listener, reinterpret_cast<sockaddr *>(&address), length) != 0
            || ::listen(m_listener, 0) != 0
            || ::getsockname(m_listener, reinterpret_cast<sockaddr *>(&address), &length) != 0)
            return;
        // A backlog of 0 still queues one connection; a few more make sure the queue is full.
        for (int i = 0; i < 3; ++i) {
            m_fillers.push_back(std::make_unique<QTcpSocket>());
            m_fillers.back()->connectToHost(QHostAddress::LocalHost, ntohs(address.sin_port));
        }
        QTcpSocket probe;
        probe.connectToHost(QHostAddress::LocalHost, ntohs(address.sin_port));
        if (!probe.waitForConnected(300))
            m_port = ntohs(address.sin_port);
    }
    ~UnansweringHost()
    {
        m_fillers.clear();
        if (m_listener >= 0)
            ::close(m_listener);
    }
    quint16 port() const { return m_port; } // 0 when the queue could not be filled

private:
    int m_listener = -1;
    quint16 m_port = 0;
    std::vector<std::unique_ptr<QTcpSocket>> m_fillers;
};

QStringList logLines;
void captureLog(QtMsgType, const QMessageLogContext &context, const QString &message)
{
    logLines << QString::fromLatin1(context.category) + QLatin1Char(' ') + message;
}

} // namespace

// Topic checks, and MqttClient against a real mosquitto broker that checks credentials.
class TestMqtt : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void cleanup();

    void topicFilter_data();
    void topicFilter();
    void connectReportsStates_data();
    void connectReportsStates();
    void subscriptionDelivers_data();
    void subscriptionDelivers();
    void subscribeRefusedWhenItCannot();
    void busyClientKeepsItsSession();
    void brokerLossAndRestartAndDisconnect();
    void slowHostDoesNotBlockTheEventLoop_data();
    void slowHostDoesNotBlockTheEventLoop();
    void passwordNeverLogged();
    void destroyedWhileBusyIsSafe_data();
    void destroyedWhileBusyIsSafe();

private:
    std::unique_ptr<MqttClient> newClient(const QString &password);
    std::unique_ptr<MqttClient> connectedClient();
    MqttSubscription *subscribed(MqttClient &client, const QString &filter);

    MosquittoBroker m_broker;
};

void TestMqtt::initTestCase()
{
    TestEnvironment::init();
    qRegisterMetaType<MqttClient::ClientState>();
    qRegisterMetaType<MqttMessage>();
    QVERIFY2(m_broker.start(), qPrintable(m_broker.errorString()));
}

void TestMqtt::cleanup()
{
    if (!m_broker.isRunning()) // a test that stopped it must not leave the next one without it
        QVERIFY2(m_broker.start(), qPrintable(m_broker.errorString()));
}

std::unique_ptr<MqttClient> TestMqtt::newClient(const QString &password)
{
    auto client = std::make_unique<MqttClient>();
    client->setHostname(m_broker.host());
    client->setPort(m_broker.port());
    client->setUsername(m_broker.username());
    client->setPassword(password);
    return client;
}

std::unique_ptr<MqttClient> TestMqtt::connectedClient()
{
    auto client = newClient(m_broker.password());
    client->connectToHost();
    if (!QTest::qWaitFor([&] { return client->state() == MqttClient::Connected; }, 5000))
        return nullptr;
    return client;
}

MqttSubscription *TestMqtt::subscribed(MqttClient &client, const QString &filter)
{
    MqttSubscription *subscription = client.subscribe(MqttTopicFilter(filter), 1);
    if (!subscription
        || !QTest::qWaitFor(
            [&] { return subscription->state() == MqttSubscription::Subscribed; }, 5000))
        return nullptr;
    return subscription;
}

// The push filter is built from server data, so invalid filters must be caught before use.
void TestMqtt::topicFilter_data()
{
    QTest::addColumn<QString>("filter");
    QTest::addColumn<QString>("topic");
    QTest::addColumn<bool>("valid");
    QTest::addColumn<bool>("matches");

    const auto row
        = [](const char *name, const QString &filter, const QString &topic, bool valid,
              bool matches) { QTest::newRow(name) << filter << topic << valid << matches; };
    row("point, deeper", "acme/point/7/#", "acme/point/7/a/b", true, true);
    row("point itself", "acme/point/7/#", "acme/point/7", true, true);
    row("other point", "acme/point/7/#", "acme/point/70/order", true, false);
    row("other domain", "acme/point/7/#", "acme2/point/7/order", true, false);
    row("case matters", "a/B", "a/b", true, false);
    row("plus, empty level", "a/+/c", "a//c", true, true);
    row("plus, not two levels", "a/+", "a/b/c", true, false);
    row("plus, leading slash", "+/+", "/a", true, true);
    row("plus, not the leading slash", "+", "/a", true, false);
    row("hash, not $SYS", "#", "$SYS/broker", true, false);
    row("explicit $SYS", "$SYS/#", "$SYS/broker", true, true);
    row("wildcard in topic", "a/+", "a/+", true, false);
    row("empty topic", "#", "", true, false);
    row("non-ASCII", QStringLiteral("кафе/point/1/#"), QStringLiteral("кафе/point/1/x"), true,
        true);
    row("empty", "", "x", false, false);
    row("hash not last", "a/#/c", "a/b/c", false, false);
    row("hash inside level", "a/b#", "a/b#", false, false);
    row("plus inside level", "ac+me/point/7/#", "ac+me/point/7/x", false, false);
    row("hash in domain", "ac#me/point/7/#", "ac#me/point/7/x", false, false);
    row("NUL character", QString::fromUtf8("a\0b", 3), QString::fromUtf8("a\0b", 3), false, false);
    row("65535 bytes", QString(65535, QLatin1Char('a')), QString(65535, QLatin1Char('a')), true,
        true);
    row("65536 bytes of UTF-8", QString(32768, QChar(0x0436)), "x", false, false);
}

void TestMqtt::topicFilter()
{
    QFETCH(QString, filter);
    QFETCH(QString, topic);
    QFETCH(bool, valid);
    QFETCH(bool, matches);
    QCOMPARE(MqttTopicFilter(filter).isValid(), valid);
    QCOMPARE(MqttTopicFilter(filter).match(MqttTopicName(topic)), matches);
}

void TestMqtt::connectReportsStates_data()
{
    QTest::addColumn<QString>("host");
    QTest::addColumn<QString>("username");
    QTest::addColumn<QString>("password");
    QTest::addColumn<bool>("brokerPort");
    QTest::addColumn<bool>("accepted");

    const QString user = QStringLiteral("km4-board");
    const QString right = QStringLiteral("s3cret'\"pass");
    QTest::newRow("right credentials") << "127.0.0.1" << user << right << true << true;
    QTest::newRow("host by name") << "localhost" << user << right << true << true;
    QTest::newRow("wrong password") << "127.0.0.1" << user << "s3cret" << true << false;
    QTest::newRow("no credentials") << "127.0.0.1"
                                    << ""
                                    << "" << true << false;
    QTest::newRow("no host name") << "" << user << right << true << false;
    QTest::newRow("nothing listening") << "127.0.0.1" << user << right << false << false;
}

// States are reported from the event loop, on the client's thread; a refusal is final.
void TestMqtt::connectReportsStates()
{
    QFETCH(QString, host);
    QFETCH(QString, username);
    QFETCH(QString, password);
    QFETCH(bool, brokerPort);
    QFETCH(bool, accepted);

    auto client = newClient(password);
    client->setHostname(host);
    client->setUsername(username);
    if (!brokerPort) {
        QTcpServer closed;
        QVERIFY(closed.listen(QHostAddress::LocalHost, 0));
        client->setPort(closed.serverPort());
    }
    ThreadWatch threads;
    threads.watch(client.get(), &MqttClient::stateChanged);
    QSignalSpy spy(client.get(), &MqttClient::stateChanged);
    QVERIFY(spy.isValid());

    client->connectToHost();
    QCOMPARE(statesOf(spy), States { MqttClient::Connecting });
    const States states { MqttClient::Connecting,
        accepted ? MqttClient::Connected : MqttClient::Disconnected };
    QTRY_COMPARE(statesOf(spy), states);
    QCOMPARE(client->state(), states.constLast());
    QCOMPARE(threads.offThread, 0);
    if (!accepted)
        QVERIFY(!spy.wait(300)); // no retry of its own
}

void TestMqtt::subscriptionDelivers_data()
{
    QTest::addColumn<QString>("filter");
    QTest::addColumn<QString>("topic");
    QTest::addColumn<bool>("reaches");
    QTest::newRow("exact") << "acme/point/7/order"
                           << "acme/point/7/order" << true;
    QTest::newRow("hash deeper") << "acme/point/7/#"
                                 << "acme/point/7/a/b/shift" << true;
    QTest::newRow("hash other point") << "acme/point/7/#"
                                      << "acme/point/70/order" << false;
}

void TestMqtt::subscriptionDelivers()
{
    QFETCH(QString, filter);
    QFETCH(QString, topic);
    QFETCH(bool, reaches);

    auto client = connectedClient();
    QVERIFY(client);
    MqttSubscription *subscription = subscribed(*client, filter);
    QVERIFY(subscription);
    ThreadWatch threads;
    threads.watch(subscription, &MqttSubscription::messageReceived);
    QSignalSpy received(subscription, &MqttSubscription::messageReceived);
    QVERIFY(received.isValid());

    // Binary payload, NUL bytes and UTF-8 arrive byte for byte. The marker always reaches the
    // subscription; one publisher's messages arrive in order, so the first had its chance.
    const QByteArray payload
        = QByteArray("{\"from\":\"x\",\"body\":{}}\0\xff", 25) + QStringLiteral("Готов").toUtf8();
    const QString marker = filter.endsWith('#') ? filter.chopped(1) + "end" : filter;
    QVERIFY2(m_broker.publish(topic, payload, 1), qPrintable(m_broker.errorString()));
    QVERIFY2(m_broker.publish(marker, "marker", 1), qPrintable(m_broker.errorString()));

    QTRY_VERIFY(!received.isEmpty()
        && received.constLast().at(0).value<MqttMessage>().payload() == "marker");
    QCOMPARE(topicsOf(received), reaches ? QStringList({ topic, marker }) : QStringList { marker });
    if (reaches)
        QCOMPARE(received.constFirst().at(0).value<MqttMessage>().payload(), payload);
    QCOMPARE(threads.offThread, 0);
}

void TestMqtt::subscribeRefusedWhenItCannot()
{
    auto idle = newClient(m_broker.password());
    QVERIFY(!idle->subscribe(MqttTopicFilter(QStringLiteral("acme/point/7/#")), 1));
    auto client = connectedClient();
    QVERIFY(client);
    QVERIFY(!client->subscribe(MqttTopicFilter(QStringLiteral("ac+me/point/7/#")), 1));
    QVERIFY(!client->subscribe(MqttTopicFilter(QString()), 1));
    QCOMPARE(client->findChildren<MqttSubscription *>().size(), 0);
    QCOMPARE(client->state(), MqttClient::Connected);
}

// While a session is being set up or is up, neither new settings nor a second connect disturb
// it; a filter is subscribed once, and one subscription ends without the others.
void TestMqtt::busyClientKeepsItsSession()
{
    auto client = newClient(m_broker.password());
    QSignalSpy spy(client.get(), &MqttClient::stateChanged);
    QVERIFY(spy.isValid());
    client->connectToHost();
    client->connectToHost();
    client->setPort(1);
    client->setUsername(QStringLiteral("other"));
    QTRY_COMPARE(client->state(), MqttClient::Connected);
    client->setPassword(QStringLiteral("other"));
    client->connectToHost();
    QCOMPARE(client->port(), m_broker.port());
    QCOMPARE(client->password(), m_broker.password());

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
    QTRY_COMPARE(topicsOf(keptReceived), QStringList({ "kept/x", "kept/y" }));
    QCOMPARE(goneReceived.size(), 0);
    QTRY_VERIFY(gone.isNull());
    QCOMPARE(statesOf(spy), States({ MqttClient::Connecting, MqttClient::Connected }));

    // Once disconnected, settings are taken again.
    client->disconnectFromHost();
    client->setPassword(QStringLiteral("wrong"));
    spy.clear();
    client->connectToHost();
    QTRY_COMPARE(statesOf(spy), States({ MqttClient::Connecting, MqttClient::Disconnected }));
}

void TestMqtt::brokerLossAndRestartAndDisconnect()
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
    QVERIFY(!spy.wait(300)); // it never reconnects by itself
    client->connectToHost();
    QTRY_COMPARE(client->state(), MqttClient::Connected);

    QPointer<MqttSubscription> after = subscribed(*client, QStringLiteral("restart/#"));
    QVERIFY(after);
    QSignalSpy received(after.data(), &MqttSubscription::messageReceived);
    QVERIFY(received.isValid());
    QVERIFY(m_broker.publish(QStringLiteral("restart/order"), "once"));
    QTRY_COMPARE(topicsOf(received), QStringList { "restart/order" });
    QCOMPARE(client->findChildren<MqttSubscription *>().size(), 1);

    // Disconnecting on purpose ends the subscriptions the same way, and only once.
    spy.clear();
    client->disconnectFromHost();
    QCOMPARE(after->state(), MqttSubscription::Unsubscribed);
    client->disconnectFromHost();
    QCOMPARE(statesOf(spy), States { MqttClient::Disconnected });
    QTRY_VERIFY(after.isNull());
    QVERIFY(!client->subscribe(MqttTopicFilter(QStringLiteral("restart/#")), 1));
}

void TestMqtt::slowHostDoesNotBlockTheEventLoop_data()
{
    QTest::addColumn<bool>("acceptsTcp");
    QTest::newRow("silent broker") << true; // takes the TCP connection, never answers CONNECT
    QTest::newRow("unanswered TCP handshake") << false;
}

void TestMqtt::slowHostDoesNotBlockTheEventLoop()
{
    QFETCH(bool, acceptsTcp);
    QTcpServer silent;
    QVERIFY(silent.listen(QHostAddress::LocalHost, 0));
    UnansweringHost host;
    QVERIFY(host.port() != 0);
    int ticks = 0;
    QTimer ticker;
    connect(&ticker, &QTimer::timeout, this, [&ticks] { ++ticks; });
    ticker.start(5);

    auto client = newClient(m_broker.password());
    client->setPort(acceptsTcp ? silent.serverPort() : host.port());
    QSignalSpy spy(client.get(), &MqttClient::stateChanged);
    QVERIFY(spy.isValid());
    QElapsedTimer clock;
    clock.start();
    client->connectToHost();
    QVERIFY2(clock.elapsed() < 100, "connectToHost() waited for the host");

    std::unique_ptr<QSignalSpy> peerClosed;
    if (acceptsTcp) {
        QTRY_VERIFY(silent.hasPendingConnections());
        QTcpSocket *peer = silent.nextPendingConnection();
        QTRY_VERIFY(peer->bytesAvailable() > 0);
        QCOMPARE(quint8(peer->peek(1).at(0)), quint8(0x10)); // CONNECT
        peerClosed = std::make_unique<QSignalSpy>(peer, &QTcpSocket::disconnected);
    }
    const int ticksBefore = ticks;
    QTRY_VERIFY(ticks >= ticksBefore + 40);
    QCOMPARE(statesOf(spy), States { MqttClient::Connecting });

    client->disconnectFromHost();
    QCOMPARE(statesOf(spy), States({ MqttClient::Connecting, MqttClient::Disconnected }));
    if (peerClosed)
        QVERIFY(peerClosed->wait(5000));
}

void TestMqtt::passwordNeverLogged()
{
    QLoggingCategory::setFilterRules(QStringLiteral("km4.mqtt.debug=true"));
    logLines.clear();
    const QtMessageHandler previous = qInstallMessageHandler(captureLog);
    const QString wrong = QStringLiteral("wr0ng-pa55word");
    auto refused = newClient(wrong);
    refused->connectToHost();
    QTRY_COMPARE(refused->state(), MqttClient::Disconnected);
    auto accepted = connectedClient();
    QVERIFY(accepted);
    accepted->disconnectFromHost();
    UnansweringHost host;
    auto waiting = newClient(m_broker.password());
    waiting->setPort(host.port());
    waiting->connectToHost();
    waiting.reset();
    qInstallMessageHandler(previous);
    QLoggingCategory::setFilterRules(QString());

    // Connecting, the refusal and disconnecting were written down, and no line holds a password.
    QVERIFY2(
        logLines.filter(QStringLiteral("km4.mqtt")).size() >= 4, qPrintable(logLines.join('\n')));
    QCOMPARE(logLines.filter(wrong), QStringList());
    QCOMPARE(logLines.filter(m_broker.password()), QStringList());
}

void TestMqtt::destroyedWhileBusyIsSafe_data()
{
    QTest::addColumn<QString>("moment");
    QTest::newRow("resolving") << "resolving";
    QTest::newRow("waiting for CONNACK") << "connack";
    QTest::newRow("connected") << "connected";
    QTest::newRow("in stateChanged") << "stateChanged";
    QTest::newRow("in messageReceived") << "messageReceived";
}

void TestMqtt::destroyedWhileBusyIsSafe()
{
    QFETCH(QString, moment);
    QTcpServer silent;
    QVERIFY(silent.listen(QHostAddress::LocalHost, 0));
    MqttClient *client = newClient(m_broker.password()).release();
    QPointer<MqttClient> guard(client);
    if (moment == "connack")
        client->setPort(silent.serverPort());
    if (moment == "stateChanged") {
        connect(client, &MqttClient::stateChanged, this, [client](MqttClient::ClientState s) {
            if (s == MqttClient::Connected)
                delete client;
        });
    }
    client->connectToHost();

    if (moment == "resolving") {
        delete client;
    } else if (moment == "connack") {
        QTRY_VERIFY(silent.hasPendingConnections());
        QTcpSocket *peer = silent.nextPendingConnection();
        QTRY_VERIFY(peer->bytesAvailable() > 0);
        QSignalSpy peerClosed(peer, &QTcpSocket::disconnected);
        QVERIFY(peerClosed.isValid());
        delete client;
        QVERIFY(peerClosed.wait(5000));
    } else if (moment != "stateChanged") {
        QTRY_COMPARE(client->state(), MqttClient::Connected);
        MqttSubscription *subscription = subscribed(*client, QStringLiteral("destroy/#"));
        QVERIFY(subscription);
        if (moment == "connected") {
            delete client;
        } else {
            connect(subscription, &MqttSubscription::messageReceived, this,
                [client] { delete client; });
            QVERIFY(m_broker.publish(QStringLiteral("destroy/a"), "first"));
            QVERIFY(m_broker.publish(QStringLiteral("destroy/b"), "second"));
        }
    }
    QTRY_VERIFY(guard.isNull());
    // Nothing of the destroyed client is left to fire; the broker still serves new clients.
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    QCoreApplication::processEvents();
    QVERIFY(connectedClient());
}

QTEST_GUILESS_MAIN(TestMqtt)
#include "tst_mqtt.moc"
