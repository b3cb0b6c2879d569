#include "mosquittobroker.h"
#include "testenvironment.h"

#include "shared/mqtt/mqttclient.h"
#include "shared/mqtt/mqttmessage.h"
#include "shared/mqtt/mqttsubscription.h"
#include "shared/mqtt/mqtttopicname.h"

#include <QLoggingCategory>
#include <QPointer>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>
#include <QThread>

using States = QList<MqttClient::ClientState>;

namespace {

States statesOf(const QSignalSpy &spy)
{
    States states;
    for (const QList<QVariant> &arguments : spy)
        states << arguments.at(0).value<MqttClient::ClientState>();
    return states;
}

// One whole MQTT packet as the client sent it (all of ours are shorter than 128 bytes).
QByteArray nextPacket(QTcpSocket &socket)
{
    const auto whole = [&socket] {
        const QByteArray head = socket.peek(2);
        return head.size() == 2 && socket.bytesAvailable() >= 2 + quint8(head[1]);
    };
    return QTest::qWaitFor(whole) ? socket.read(2 + quint8(socket.peek(2)[1])) : QByteArray();
}

QStringList logged; // the client's log lines, checked for passwords at the end
void keepLog(QtMsgType, const QMessageLogContext &, const QString &message)
{
    logged << message;
}

} // namespace

// Topic checks, and MqttClient against a real mosquitto broker that checks credentials.
class TestMqtt : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void cleanupTestCase();
    void topics_data();
    void topics();
    void connectSubscribeReceive_data();
    void connectSubscribeReceive();
    void wireFormat();

private:
    MosquittoBroker m_broker;
};

void TestMqtt::initTestCase()
{
    TestEnvironment::init();
    QVERIFY2(m_broker.start(), qPrintable(m_broker.errorString()));
    QLoggingCategory::setFilterRules(QStringLiteral("km4.mqtt.debug=true"));
    qInstallMessageHandler(keepLog);
}

// Connecting, refusals and disconnecting were written down, and no line holds a password.
void TestMqtt::cleanupTestCase()
{
    qInstallMessageHandler(nullptr);
    QVERIFY(logged.filter("connecting to").size() > 0);
    QCOMPARE(logged.filter("pa55word") + logged.filter(m_broker.password()), QStringList());
}

// The push filter is built from server data, so invalid filters must be caught before use.
void TestMqtt::topics_data()
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
    row("non-ASCII", QStringLiteral("кафе/point/1/#"), QStringLiteral("кафе/point/1/x"), "match");
    row("65535 bytes", QString(65535, 'a'), QString(65535, 'a'), "match");
    row("empty filter", "", "a", "invalid filter");
    row("hash not last", "a/#/c", "a/b/c", "invalid filter");
    row("hash inside level", "a/b#", "a/b", "invalid filter");
    row("plus inside level", "ac+me/point/7/#", "ac+me/point/7/x", "invalid filter");
    row("NUL in filter", QString::fromUtf8("a\0b", 3), "a", "invalid filter");
    row("65536 bytes of UTF-8", QString(32768, QChar(0x0436)), "x", "invalid filter");
    row("empty name", "#", "", "invalid name");
    row("wildcard in name", "a/+", "a/+", "invalid name");
    row("NUL in name", "a/#", QString::fromUtf8("a/\0", 3), "invalid name");
    row("name of 65536 bytes", "#", QString(65536, 'a'), "invalid name");
}

void TestMqtt::topics()
{
    QFETCH(QString, filter);
    QFETCH(QString, topic);
    QFETCH(QString, result);
    const MqttTopicFilter f(filter);
    const MqttTopicName name(topic);
    QCOMPARE(!f.isValid()           ? "invalid filter"
            : !name.isValid()       ? "invalid name"
            : f.match(name)         ? "match"
                                    : "no match",
        result);
}

void TestMqtt::connectSubscribeReceive_data()
{
    QTest::addColumn<QString>("host");
    QTest::addColumn<QString>("username");
    QTest::addColumn<QString>("password");
    QTest::addColumn<bool>("listening");
    QTest::addColumn<bool>("accepted");
    const QString user = m_broker.username(), right = m_broker.password();
    QTest::newRow("right credentials") << "127.0.0.1" << user << right << true << true;
    QTest::newRow("host by name") << "localhost" << user << right << true << true;
    QTest::newRow("wrong password") << "127.0.0.1" << user << "wr0ng-pa55word" << true << false;
    QTest::newRow("no credentials") << "127.0.0.1" << "" << "" << true << false;
    QTest::newRow("no host name") << "" << user << right << true << false;
    QTest::newRow("nothing listening") << "127.0.0.1" << user << right << false << false;
}

// States and messages are reported from the event loop, on the client's thread; settings are
// taken only while disconnected.
void TestMqtt::connectSubscribeReceive()
{
    QFETCH(QString, host);
    QFETCH(QString, username);
    QFETCH(QString, password);
    QFETCH(bool, listening);
    QFETCH(bool, accepted);

    QTcpServer closed;
    QVERIFY(closed.listen(QHostAddress::LocalHost));
    MqttClient client;
    client.setHostname(host);
    client.setPort(listening ? m_broker.port() : closed.serverPort());
    closed.close();
    client.setUsername(username);
    client.setPassword(password);
    int offThread = 0;
    const auto watch = [&] { offThread += QThread::currentThread() != thread(); };
    connect(&client, &MqttClient::stateChanged, this, watch, Qt::DirectConnection);
    QSignalSpy spy(&client, &MqttClient::stateChanged);

    client.connectToHost();
    QCOMPARE(statesOf(spy), States { MqttClient::Connecting });
    client.setPort(1);
    client.connectToHost();
    const auto outcome = accepted ? MqttClient::Connected : MqttClient::Disconnected;
    QTRY_COMPARE(statesOf(spy), States({ MqttClient::Connecting, outcome }));
    if (accepted) {
        MqttSubscription *subscription = client.subscribe(MqttTopicFilter("acme/point/7/#"), 1);
        QVERIFY(subscription);
        connect(subscription, &MqttSubscription::messageReceived, this, watch,
            Qt::DirectConnection);
        QSignalSpy received(subscription, &MqttSubscription::messageReceived);
        QTRY_COMPARE(subscription->state(), MqttSubscription::Subscribed);
        // Binary payload, NUL bytes and UTF-8 arrive byte for byte; one publisher's messages
        // arrive in order, so the other point's message had its chance first.
        const QByteArray payload
            = QByteArray("{\"body\":{}}\0\xff", 13) + QStringLiteral("Готов").toUtf8();
        QVERIFY(m_broker.publish("acme/point/70/order", "other")
            && m_broker.publish("acme/point/7/a/b", payload));
        QTRY_COMPARE(received.size(), 1);
        const MqttMessage message = received.first().first().value<MqttMessage>();
        QCOMPARE(message.topic().name() + ' ' + message.payload(), "acme/point/7/a/b " + payload);

        // Disconnecting ends the subscription; new settings count from then on.
        const QPointer<MqttSubscription> gone(subscription);
        client.disconnectFromHost();
        QTRY_VERIFY(gone.isNull());
        client.setPassword(QStringLiteral("wr0ng-pa55word"));
        spy.clear();
        client.connectToHost();
        QTRY_COMPARE(statesOf(spy), States({ MqttClient::Connecting, MqttClient::Disconnected }));
    }
    QCOMPARE(offThread, 0);
}

// What a broker sees: MQTT 3.1.1, user name and password, clean session, keep-alive 60 s, the
// requested QoS, and an acknowledged QoS 1 message. The client waits for each answer on the
// event loop, so this peer on the same thread can give it.
void TestMqtt::wireFormat()
{
    QTcpServer broker;
    QVERIFY(broker.listen(QHostAddress::LocalHost));
    MqttClient client;
    client.setHostname(QStringLiteral("127.0.0.1"));
    client.setPort(broker.serverPort());
    client.setUsername(QStringLiteral("u"));
    client.setPassword(QStringLiteral("p"));
    client.connectToHost();
    QTRY_VERIFY(broker.hasPendingConnections());
    QTcpSocket &peer = *broker.nextPendingConnection();
    QCOMPARE(nextPacket(peer).mid(2, 10), QByteArray("\0\x04MQTT\x04\xc2\0\x3c", 10));
    QCOMPARE(client.state(), MqttClient::Connecting);
    peer.write(QByteArray("\x20\x02\0\0", 4)); // CONNACK, accepted
    QTRY_COMPARE(client.state(), MqttClient::Connected);

    MqttSubscription *subscription = client.subscribe(MqttTopicFilter("acme/point/7/#"), 1);
    QVERIFY(subscription);
    const QByteArray subscribe = nextPacket(peer);
    QCOMPARE(subscribe.left(2) + subscribe.mid(4), QByteArray("\x82\x13\0\x0e" "acme/point/7/#\x01", 19));
    peer.write("\x90\x03" + subscribe.mid(2, 2) + "\x01"); // SUBACK, QoS 1 granted
    QTRY_COMPARE(subscription->state(), MqttSubscription::Subscribed);
    QSignalSpy received(subscription, &MqttSubscription::messageReceived);
    peer.write(QByteArray("\x32\x13\0\x0e" "acme/point/7/a\0\x07p", 21)); // PUBLISH, QoS 1, id 7
    QCOMPARE(nextPacket(peer), QByteArray("\x40\x02\0\x07", 4)); // PUBACK
    QTRY_COMPARE(received.size(), 1);
}

QTEST_GUILESS_MAIN(TestMqtt)
#include "tst_mqtt.moc"
