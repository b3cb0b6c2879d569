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
static QStringList logged; // the client's log lines, checked for passwords at the end

// Topic checks, and MqttClient against a real mosquitto broker and against a raw peer.
class TestMqtt : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase()
    {
        TestEnvironment::init();
        QVERIFY2(m_broker.start(), qPrintable(m_broker.errorString()));
        QLoggingCategory::setFilterRules(QStringLiteral("km4.mqtt.debug=true"));
        qInstallMessageHandler(
            [](QtMsgType, const QMessageLogContext &, const QString &line) { logged << line; });
    }

    // Connecting, the refusal and disconnecting were written down, and no line holds a password.
    void cleanupTestCase()
    {
        qInstallMessageHandler(nullptr);
        QVERIFY(logged.filter("connecting to").size() > 0);
        QCOMPARE(logged.filter("pa55word") + logged.filter(m_broker.password()), QStringList());
    }

    // The push filter is built from server data, so invalid filters must be caught before use.
    void topics_data()
    {
        QTest::addColumn<QString>("filter");
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("result");
        const auto row
            = [](const char *title, const QString &filter, const QString &name,
                  const char *result) { QTest::newRow(title) << filter << name << result; };
        row("point, deeper", "acme/point/7/#", "acme/point/7/a/b", "match");
        row("point itself", "acme/point/7/#", "acme/point/7", "match");
        row("other point", "acme/point/7/#", "acme/point/70/order", "no match");
        row("plus, empty level", "a/+/c", "a//c", "match");
        row("plus, not two levels", "a/+", "a/b/c", "no match");
        row("hash, not $SYS", "#", "$SYS/broker", "no match");
        row("non-ASCII", QStringLiteral("кафе/point/1/#"), QStringLiteral("кафе/point/1/x"),
            "match");
        row("65535 bytes", QString(65535, 'a'), QString(65535, 'a'), "match");
        row("empty filter", "", "a", "invalid filter");
        row("hash not last", "a/#/c", "a/b/c", "invalid filter");
        row("plus inside level", "ac+me/point/7/#", "ac+me/point/7/x", "invalid filter");
        row("NUL in filter", QString::fromUtf8("a\0b", 3), "a", "invalid filter");
        row("65536 bytes of UTF-8", QString(32768, QChar(0x0436)), "x", "invalid filter");
        row("empty name", "#", "", "invalid name");
        row("wildcard in name", "a/+", "a/+", "invalid name");
        row("NUL in name", "a/#", QString::fromUtf8("a/\0", 3), "invalid name");
    }

    void topics()
    {
        QFETCH(QString, filter);
        QFETCH(QString, name);
        QFETCH(QString, result);
        const MqttTopicFilter f(filter);
        const MqttTopicName n(name);
        QCOMPARE(!f.isValid()  ? "invalid filter"
                : !n.isValid() ? "invalid name"
                : f.match(n)   ? "match"
                               : "no match",
            result);
    }

    // States and messages are reported from the event loop on the client's thread; settings are
    // taken only while disconnected.
    void connectSubscribeReceive()
    {
        MqttClient client;
        client.setHostname(QStringLiteral("localhost")); // may be ::1 first; the broker has IPv4
        client.setPort(m_broker.port());
        client.setUsername(m_broker.username());
        client.setPassword(m_broker.password());
        States states;
        int offThread = 0;
        const auto onThread = [&] { offThread += QThread::currentThread() != thread(); };
        connect(&client, &MqttClient::stateChanged, this, onThread, Qt::DirectConnection);
        connect(&client, &MqttClient::stateChanged, this, [&](auto state) { states << state; });

        client.connectToHost();
        QCOMPARE(states, States { MqttClient::Connecting });
        client.setPort(1);
        client.connectToHost();
        QTRY_COMPARE(states, States({ MqttClient::Connecting, MqttClient::Connected }));
        const QPointer<MqttSubscription> subscription
            = client.subscribe(MqttTopicFilter(QStringLiteral("acme/point/7/#")), 1);
        QVERIFY(subscription);
        connect(
            subscription, &MqttSubscription::messageReceived, this, onThread, Qt::DirectConnection);
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
        client.disconnectFromHost();
        QTRY_VERIFY(subscription.isNull());
        client.setPassword(QStringLiteral("wr0ng-pa55word"));
        client.connectToHost();
        QTRY_COMPARE(states.size(), 5);
        client.setPassword(m_broker.password());
        client.setPort(1); // nothing listens there
        client.connectToHost();
        QTRY_COMPARE(states.size(), 7);
        QCOMPARE(states,
            States({ MqttClient::Connecting, MqttClient::Connected, MqttClient::Disconnected,
                MqttClient::Connecting, MqttClient::Disconnected, MqttClient::Connecting,
                MqttClient::Disconnected }));
        QCOMPARE(offThread, 0);
    }

    // What a broker sees: MQTT 3.1.1, user name and password, clean session, keep-alive 60 s, the
    // requested QoS, a QoS 1 message acknowledged. The client waits for each answer on the event
    // loop, so this peer on the same thread can give it.
    void wireFormat()
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
        QTRY_COMPARE(peer.bytesAvailable(), 43);
        QCOMPARE(peer.readAll().replace(14, 23, "<id>"),
            QByteArray("\x10\x29\0\x04MQTT\x04\xc2\0\x3c\0\x17<id>\0\x01u\0\x01p", 24));
        QCOMPARE(client.state(), MqttClient::Connecting);
        peer.write(QByteArray("\x20\x02\0\0", 4)); // CONNACK, accepted
        QTRY_COMPARE(client.state(), MqttClient::Connected);

        MqttSubscription *subscription
            = client.subscribe(MqttTopicFilter(QStringLiteral("acme/point/7/#")), 1);
        QVERIFY(subscription);
        QTRY_COMPARE(peer.bytesAvailable(), 21);
        const QByteArray subscribe = peer.readAll();
        QCOMPARE(subscribe.left(2) + subscribe.mid(4),
            QByteArray("\x82\x13\0\x0e"
                       "acme/point/7/#\x01",
                19));
        peer.write("\x90\x03" + subscribe.mid(2, 2) + "\x01"); // SUBACK, QoS 1 granted
        QTRY_COMPARE(subscription->state(), MqttSubscription::Subscribed);
        QSignalSpy received(subscription, &MqttSubscription::messageReceived);
        peer.write(QByteArray("\x32\x13\0\x0e"
                              "acme/point/7/a\0\x07p",
            21)); // PUBLISH, QoS 1, id 7
        QTRY_COMPARE(peer.peek(4), QByteArray("\x40\x02\0\x07", 4)); // PUBACK
        QTRY_COMPARE(received.size(), 1);
    }

private:
    MosquittoBroker m_broker;
};

QTEST_GUILESS_MAIN(TestMqtt)
#include "tst_mqtt.moc"
