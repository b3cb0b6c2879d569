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
using Client = std::unique_ptr<MqttClient>;

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
int offThread = 0;
template <typename Sender, typename Signal> void watchThread(Sender *owner, Signal signal)
{
    QObject::connect(
        owner, signal, owner, [owner] { offThread += QThread::currentThread() != owner->thread(); },
        Qt::DirectConnection);
}

// A listening socket on 127.0.0.1 whose accept queue is full, so the kernel drops every further
// SYN: a client connecting to it waits for a TCP answer that never comes.
class UnansweringHost
{
public:
    UnansweringHost()
    {
        sockaddr_in address {};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof address;
        if (::bind(m_listener, reinterpret_cast<sockaddr *>(&address), length) != 0
            || ::listen(m_listener, 0) != 0
            || ::getsockname(m_listener, reinterpret_cast<sockaddr *>(&address), &length) != 0)
            return;
        // A backlog of 0 still queues one connection; a few more make sure the queue is full.
        for (QTcpSocket &filler : m_fillers)
            filler.connectToHost(QHostAddress::LocalHost, ntohs(address.sin_port));
        QTcpSocket probe;
        probe.connectToHost(QHostAddress::LocalHost, ntohs(address.sin_port));
        if (!probe.waitForConnected(100))
            port = ntohs(address.sin_port);
    }
    ~UnansweringHost() { ::close(m_listener); }
    quint16 port = 0; // 0 when the queue could not be filled

private:
    int m_listener = ::socket(AF_INET, SOCK_STREAM, 0);
    QTcpSocket m_fillers[3];
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
    void topicFilter_data();
    void topicFilter();
    void connectReportsStates_data();
    void connectReportsStates();
    void subscriptionDelivers_data();
    void subscriptionDelivers();
    void busyClientKeepsItsSession();
    void brokerLossAndRestartAndDisconnect();
    void slowHostDoesNotBlockTheEventLoop_data();
    void slowHostDoesNotBlockTheEventLoop();
    void passwordNeverLogged();
    void destroyedWhileBusyIsSafe_data();
    void destroyedWhileBusyIsSafe();

private:
    Client newClient(const QString &password, quint16 port = 0);
    Client connectedClient();
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

Client TestMqtt::newClient(const QString &password, quint16 port)
{
    auto client = std::make_unique<MqttClient>();
    client->setHostname(m_broker.host());
    client->setPort(port ? port : m_broker.port());
    client->setUsername(m_broker.username());
    client->setPassword(password);
    return client;
}

Client TestMqtt::connectedClient()
{
    Client client = newClient(m_broker.password());
    client->connectToHost();
    const bool up = QTest::qWaitFor([&] { return client->state() == MqttClient::Connected; });
    return up ? std::move(client) : nullptr;
}

MqttSubscription *TestMqtt::subscribed(MqttClient &client, const QString &filter)
{
    MqttSubscription *s = client.subscribe(MqttTopicFilter(filter), 1);
    return s && QTest::qWaitFor([s] { return s->state() == MqttSubscription::Subscribed; })
        ? s
        : nullptr;
}

// The push filter is built from server data, so invalid filters must be caught before use.
void TestMqtt::topicFilter_data()
{
    QTest::addColumn<QString>("filter");
    QTest::addColumn<QString>("topic");
    QTest::addColumn<QString>("result");
    const auto row = [](const char *name, const QString &filter, const QString &topic,
                         const char *result) { QTest::newRow(name) << filter << topic << result; };
    row("point, deeper", "acme/point/7/#", "acme/point/7/a/b", "match");
    row("point itself", "acme/point/7/#", "acme/point/7", "match");
    row("other point", "acme/point/7/#", "acme/point/70/order", "no match");
    row("other domain", "acme/point/7/#", "acme2/point/7/order", "no match");
    row("plus, empty level", "a/+/c", "a//c", "match");
    row("plus, not two levels", "a/+", "a/b/c", "no match");
    row("plus, not the leading slash", "+", "/a", "no match");
    row("hash, not $SYS", "#", "$SYS/broker", "no match");
    row("wildcard in topic", "a/+", "a/+", "no match");
    row("non-ASCII", QStringLiteral("кафе/point/1/#"), QStringLiteral("кафе/point/1/x"), "match");
    row("empty", "", "", "invalid");
    row("hash not last", "a/#/c", "a/b/c", "invalid");
    row("hash inside level", "a/b#", "a/b#", "invalid");
    row("plus inside level", "ac+me/point/7/#", "ac+me/point/7/x", "invalid");
    row("NUL character", QString::fromUtf8("a\0b", 3), QString::fromUtf8("a\0b", 3), "invalid");
    row("65535 bytes", QString(65535, 'a'), QString(65535, 'a'), "match");
    row("65536 bytes of UTF-8", QString(32768, QChar(0x0436)), "x", "invalid");
}

void TestMqtt::topicFilter()
{
    QFETCH(QString, filter);
    QFETCH(QString, topic);
    QFETCH(QString, result);
    const MqttTopicFilter f(filter);
    QCOMPARE(!f.isValid()                   ? "invalid"
            : f.match(MqttTopicName(topic)) ? "match"
                                            : "no match",
        result);
}

void TestMqtt::connectReportsStates_data()
{
    QTest::addColumn<QString>("host");
    QTest::addColumn<QString>("username");
    QTest::addColumn<QString>("password");
    QTest::addColumn<bool>("listening");
    QTest::addColumn<bool>("accepted");
    const QString user = QStringLiteral("km4-board"), right = QStringLiteral("s3cret'\"pass");
    QTest::newRow("right credentials") << "127.0.0.1" << user << right << true << true;
    QTest::newRow("host by name") << "localhost" << user << right << true << true;
    QTest::newRow("wrong password") << "127.0.0.1" << user << "s3cret" << true << false;
    QTest::newRow("no credentials") << "127.0.0.1"
                                    << ""
                                    << "" << true << false;
    QTest::newRow("no host name") << "" << user << right << true << false;
    QTest::newRow("nothing listening") << "127.0.0.1" << user << right << false << false;
}

// States are reported from the event loop, on the client's thread.
void TestMqtt::connectReportsStates()
{
    QFETCH(QString, host);
    QFETCH(QString, username);
    QFETCH(QString, password);
    QFETCH(bool, listening);
    QFETCH(bool, accepted);

    QTcpServer closed;
    QVERIFY(closed.listen(QHostAddress::LocalHost));
    Client client = newClient(password, listening ? 0 : closed.serverPort());
    closed.close();
    client->setHostname(host);
    client->setUsername(username);
    offThread = 0;
    watchThread(client.get(), &MqttClient::stateChanged);
    QSignalSpy spy(client.get(), &MqttClient::stateChanged);
    QVERIFY(spy.isValid());

    client->connectToHost();
    QCOMPARE(statesOf(spy), States { MqttClient::Connecting });
    const auto outcome = accepted ? MqttClient::Connected : MqttClient::Disconnected;
    QTRY_COMPARE(statesOf(spy), States({ MqttClient::Connecting, outcome }));
    QCOMPARE(offThread, 0);
}

void TestMqtt::subscriptionDelivers_data()
{
    QTest::addColumn<QString>("topic");
    QTest::addColumn<bool>("reaches");
    QTest::newRow("deeper") << "acme/point/7/a/b/shift" << true;
    QTest::newRow("other point") << "acme/point/70/order" << false;
}

void TestMqtt::subscriptionDelivers()
{
    QFETCH(QString, topic);
    QFETCH(bool, reaches);

    Client client = connectedClient();
    QVERIFY(client);
    MqttSubscription *subscription = subscribed(*client, QStringLiteral("acme/point/7/#"));
    QVERIFY(subscription);
    offThread = 0;
    watchThread(subscription, &MqttSubscription::messageReceived);
    QSignalSpy received(subscription, &MqttSubscription::messageReceived);
    QVERIFY(received.isValid());

    // Binary payload, NUL bytes and UTF-8 arrive byte for byte. The marker always reaches the
    // subscription; one publisher's messages arrive in order, so the first had its chance.
    const QByteArray payload
        = QByteArray("{\"body\":{}}\0\xff", 13) + QStringLiteral("Готов").toUtf8();
    QVERIFY(m_broker.publish(topic, payload) && m_broker.publish("acme/point/7/end", "marker"));
    QTRY_VERIFY(topicsOf(received).contains("acme/point/7/end"));
    QCOMPARE(topicsOf(received),
        reaches ? QStringList({ topic, "acme/point/7/end" }) : QStringList({ "acme/point/7/end" }));
    QCOMPARE(received.first().at(0).value<MqttMessage>().payload(), reaches ? payload : "marker");
    QCOMPARE(offThread, 0);
}

// While a session is being set up or is up, neither new settings nor a second connect disturb
// it; a filter is subscribed once, and one subscription ends without the others.
void TestMqtt::busyClientKeepsItsSession()
{
    Client client = newClient(m_broker.password());
    QVERIFY(!client->subscribe(MqttTopicFilter(QStringLiteral("kept/#")), 1)); // not connected
    QSignalSpy spy(client.get(), &MqttClient::stateChanged);
    QVERIFY(spy.isValid());
    client->connectToHost();
    client->connectToHost();
    client->setPort(1);
    QTRY_COMPARE(client->state(), MqttClient::Connected);
    client->setPassword(QStringLiteral("other"));
    client->connectToHost();
    QCOMPARE(client->port(), m_broker.port());
    QCOMPARE(client->password(), m_broker.password());
    QVERIFY(!client->subscribe(MqttTopicFilter(QStringLiteral("ac+me/point/7/#")), 1));

    QPointer<MqttSubscription> gone = subscribed(*client, QStringLiteral("gone/#"));
    MqttSubscription *kept = subscribed(*client, QStringLiteral("kept/#"));
    QVERIFY(gone && kept);
    QCOMPARE(client->subscribe(MqttTopicFilter(QStringLiteral("kept/#")), 1), kept);
    QSignalSpy keptReceived(kept, &MqttSubscription::messageReceived);
    QSignalSpy goneReceived(gone.data(), &MqttSubscription::messageReceived);
    QVERIFY(keptReceived.isValid() && goneReceived.isValid());
    gone->unsubscribe();
    QVERIFY(m_broker.publish("gone/x", "lost") && m_broker.publish("kept/x", "marker"));
    QTRY_COMPARE(topicsOf(keptReceived), QStringList { "kept/x" });
    QCOMPARE(goneReceived.size(), 0);
    QTRY_VERIFY(gone.isNull());
    QCOMPARE(client->findChildren<MqttSubscription *>().size(), 1);
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
    Client client = connectedClient();
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
    QVERIFY(m_broker.publish("restart/order", "once"));
    QTRY_COMPARE(topicsOf(received), QStringList { "restart/order" });

    // Disconnecting on purpose ends the subscriptions the same way, and only once.
    spy.clear();
    client->disconnectFromHost();
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
    UnansweringHost host;
    QVERIFY(silent.listen(QHostAddress::LocalHost) && host.port != 0);
    int ticks = 0;
    QTimer ticker;
    connect(&ticker, &QTimer::timeout, this, [&ticks] { ++ticks; });
    ticker.start(5);

    Client client = newClient(m_broker.password(), acceptsTcp ? silent.serverPort() : host.port);
    QSignalSpy spy(client.get(), &MqttClient::stateChanged);
    QVERIFY(spy.isValid());
    QElapsedTimer clock;
    clock.start();
    client->connectToHost();
    QVERIFY2(clock.elapsed() < 100, "connectToHost() waited for the host");
    if (acceptsTcp) {
        QTRY_VERIFY(silent.hasPendingConnections());
        QTcpSocket *peer = silent.nextPendingConnection();
        QTRY_COMPARE(peer->peek(1), QByteArray("\x10")); // CONNECT
    }
    const int ticksBefore = ticks;
    QTRY_VERIFY(ticks >= ticksBefore + 40);
    client->disconnectFromHost();
    QCOMPARE(statesOf(spy), States({ MqttClient::Connecting, MqttClient::Disconnected }));
}

void TestMqtt::passwordNeverLogged()
{
    QLoggingCategory::setFilterRules(QStringLiteral("km4.mqtt.debug=true"));
    const QtMessageHandler previous = qInstallMessageHandler(captureLog);
    Client refused = newClient(QStringLiteral("wr0ng-pa55word"));
    refused->connectToHost();
    QTRY_COMPARE(refused->state(), MqttClient::Disconnected);
    Client accepted = connectedClient();
    QVERIFY(accepted);
    accepted->disconnectFromHost();
    UnansweringHost host;
    newClient(m_broker.password(), host.port)->connectToHost();
    qInstallMessageHandler(previous);
    QLoggingCategory::setFilterRules(QString());

    // Connecting, the refusal and disconnecting were written down, and no line holds a password.
    QVERIFY2(logLines.filter("km4.mqtt").size() >= 4, qPrintable(logLines.join('\n')));
    QCOMPARE(
        logLines.filter("wr0ng-pa55word") + logLines.filter(m_broker.password()), QStringList());
}

void TestMqtt::destroyedWhileBusyIsSafe_data()
{
    QTest::addColumn<QString>("moment");
    for (const char *moment : { "resolving", "connack", "connected", "stateChanged", "message" })
        QTest::newRow(moment) << moment;
}

void TestMqtt::destroyedWhileBusyIsSafe()
{
    QFETCH(QString, moment);
    QTcpServer silent; // takes the connection and never answers CONNECT
    QVERIFY(silent.listen(QHostAddress::LocalHost));
    MqttClient *client
        = newClient(m_broker.password(), moment == "connack" ? silent.serverPort() : 0).release();
    QPointer<MqttClient> guard(client);
    connect(client, &MqttClient::stateChanged, this, [client, moment](MqttClient::ClientState s) {
        if (moment == "stateChanged" && s == MqttClient::Connected)
            delete client;
    });
    client->connectToHost();

    if (moment == "resolving") {
        delete client;
    } else if (moment == "connack") {
        QTRY_VERIFY(silent.hasPendingConnections());
        QTcpSocket *peer = silent.nextPendingConnection();
        QTRY_VERIFY(peer->bytesAvailable() > 0);
        QSignalSpy peerClosed(peer, &QTcpSocket::disconnected);
        delete client;
        QVERIFY(peerClosed.wait(5000));
    } else if (moment != "stateChanged") {
        QTRY_COMPARE(client->state(), MqttClient::Connected);
        MqttSubscription *subscription = subscribed(*client, QStringLiteral("destroy/#"));
        QVERIFY(subscription);
        connect(
            subscription, &MqttSubscription::messageReceived, this, [client] { delete client; });
        if (moment == "connected")
            delete client;
        else
            QVERIFY(
                m_broker.publish("destroy/a", "first") && m_broker.publish("destroy/b", "second"));
    }
    QTRY_VERIFY(guard.isNull());
    // Nothing of the destroyed client is left to fire; the broker still serves new clients.
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    QCoreApplication::processEvents();
    QVERIFY(connectedClient());
}

QTEST_GUILESS_MAIN(TestMqtt)
#include "tst_mqtt.moc"
