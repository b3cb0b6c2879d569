#include "mosquittobroker.h"
#include "testenvironment.h"

#include "shared/mqtt/mqttclient.h"
#include "shared/mqtt/mqttmessage.h"
#include "shared/mqtt/mqttsubscription.h"
#include "shared/mqtt/mqtttopicname.h"

#include <QHostInfo>
#include <QLoggingCategory>
#include <QPointer>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>

using States = QList<MqttClient::ClientState>;

static QStringList logged; // the client's log lines

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

    // The push filter is built from server data, so invalid filters must be caught before use.
    void topics_data()
    {
        QTest::addColumn<QString>("filter");
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("result");
        // clang-format off
        QTest::newRow("point, deeper") << "acme/point/7/#" << "acme/point/7/a/b" << "match";
        QTest::newRow("point itself") << "acme/point/7/#" << "acme/point/7" << "match";
        QTest::newRow("other point") << "acme/point/7/#" << "acme/point/70/order" << "no match";
        QTest::newRow("plus, empty level") << "a/+/c" << "a//c" << "match";
        QTest::newRow("hash, not $SYS") << "#" << "$SYS/broker" << "no match";
        QTest::newRow("65535 bytes") << QString(65535, 'a') << QString(65535, 'a') << "match";
        QTest::newRow("empty filter") << "" << "a" << "invalid filter";
        QTest::newRow("hash not last") << "a/#/c" << "a/b/c" << "invalid filter";
        QTest::newRow("plus inside level") << "ac+me/point/7/#" << "a" << "invalid filter";
        QTest::newRow("65536 bytes of UTF-8") << QString(32768, u'ж') << "a" << "invalid filter";
        QTest::newRow("empty name") << "#" << "" << "invalid name";
        QTest::newRow("wildcard in name") << "a/+" << "a/+" << "invalid name";
        QTest::newRow("NUL in name") << "a/#" << QString::fromUtf8("a/\0", 3) << "invalid name";
        // clang-format on
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

    // The outcome of a connect is reported from the event loop; settings are taken only while
    // disconnected.
    void connectSubscribeReceive()
    {
        MqttClient client;
        client.setHostname(QStringLiteral("localhost")); // may be ::1 first; the broker has IPv4
        client.setPort(m_broker.port());
        client.setUsername(m_broker.username());
        client.setPassword(m_broker.password());
        States states;
        connect(&client, &MqttClient::stateChanged, this, [&](auto state) { states << state; });

        client.connectToHost();
        QCOMPARE(states, States { MqttClient::Connecting });
        client.setPort(1);
        client.connectToHost();
        QTRY_COMPARE_WITH_TIMEOUT(states, States({ MqttClient::Connecting, MqttClient::Connected }),
            TestEnvironment::patienceMs);
        const QPointer<MqttSubscription> subscription
            = client.subscribe(MqttTopicFilter(QStringLiteral("acme/point/7/#")), 1);
        QVERIFY(subscription);
        QSignalSpy received(subscription, &MqttSubscription::messageReceived);
        QTRY_COMPARE_WITH_TIMEOUT(
            subscription->state(), MqttSubscription::Subscribed, TestEnvironment::patienceMs);
        // Binary payload, NUL bytes and UTF-8 arrive byte for byte; one publisher's messages
        // arrive in order, so the other point's message had its chance first.
        const QByteArray payload
            = QByteArray("{\"body\":{}}\0\xff", 13) + QStringLiteral("Готов").toUtf8();
        QVERIFY(m_broker.publish("acme/point/70/order", "other")
            && m_broker.publish("acme/point/7/a/b", payload));
        QTRY_COMPARE_WITH_TIMEOUT(received.size(), 1, TestEnvironment::patienceMs);
        const MqttMessage message = received.first().first().value<MqttMessage>();
        QCOMPARE(message.topic().name() + ' ' + message.payload(), "acme/point/7/a/b " + payload);

        // Disconnecting ends the subscription; new settings count from then on.
        client.disconnectFromHost();
        QTRY_VERIFY_WITH_TIMEOUT(subscription.isNull(), TestEnvironment::patienceMs);
        client.setHostname(QString());
        client.connectToHost();
        QCOMPARE(states.size(), 4); // even this failure comes from the event loop
        QTRY_COMPARE_WITH_TIMEOUT(states.mid(2),
            States({ MqttClient::Disconnected, MqttClient::Connecting, MqttClient::Disconnected }),
            TestEnvironment::patienceMs);
        QCOMPARE(logged.filter(m_broker.password()), QStringList()); // no password in the log
    }

    // Deleted while it looks up the host, or by a handler of its own message inside its read
    // loop, the client leaves nothing behind that could fire later.
    void destroyedWhileBusyIsSafe()
    {
        for (const bool fromMessage : { false, true }) {
            auto *client = new MqttClient;
            const QPointer<MqttClient> guard(client);
            client->setHostname(QStringLiteral("localhost"));
            client->setPort(m_broker.port());
            client->setUsername(m_broker.username());
            client->setPassword(m_broker.password());
            client->connectToHost();
            if (!fromMessage) {
                delete client;
                // The lookup's answer, for a client that is gone: one asked for the same name
                // later is answered after it.
                bool answered = false;
                QHostInfo::lookupHost(QStringLiteral("localhost"), this,
                    [&answered](const QHostInfo &) { answered = true; });
                QTRY_VERIFY_WITH_TIMEOUT(answered, TestEnvironment::patienceMs);
                continue;
            }
            QTRY_COMPARE_WITH_TIMEOUT(
                client->state(), MqttClient::Connected, TestEnvironment::patienceMs);
            MqttSubscription *subscription
                = client->subscribe(MqttTopicFilter(QStringLiteral("destroy/#")), 1);
            QTRY_COMPARE_WITH_TIMEOUT(
                subscription->state(), MqttSubscription::Subscribed, TestEnvironment::patienceMs);
            connect(subscription, &MqttSubscription::messageReceived, this,
                [client] { delete client; });
            QVERIFY(m_broker.publish("destroy/a", "1") && m_broker.publish("destroy/b", "2"));
            QTRY_VERIFY_WITH_TIMEOUT(guard.isNull(), TestEnvironment::patienceMs);
            QCoreApplication::processEvents();
        }
    }

    // What a broker sees: MQTT 3.1.1, user name and password, clean session, keep-alive 10 s, the
    // requested QoS, a QoS 1 message acknowledged. The client waits for each answer on the event
    // loop, so this peer on the same thread can give it; each answer says the broker was heard.
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
        QTRY_VERIFY_WITH_TIMEOUT(broker.hasPendingConnections(), TestEnvironment::patienceMs);
        QTcpSocket &peer = *broker.nextPendingConnection();
        QTRY_COMPARE_WITH_TIMEOUT(peer.bytesAvailable(), 43, TestEnvironment::patienceMs);
        QCOMPARE(peer.readAll().replace(14, 23, "<id>"),
            QByteArray("\x10\x29\0\x04MQTT\x04\xc2\0\x0a\0\x17<id>\0\x01u\0\x01p", 24));
        QCOMPARE(client.state(), MqttClient::Connecting);
        QSignalSpy heard(&client, &MqttClient::heardFromBroker);
        auto heardAgain = [&heard, before = qsizetype(0)]() mutable {
            return std::exchange(before, heard.size()) < heard.size();
        };
        peer.write(QByteArray("\x20\x02\0\0", 4)); // CONNACK, accepted
        QTRY_COMPARE_WITH_TIMEOUT(
            client.state(), MqttClient::Connected, TestEnvironment::patienceMs);
        QVERIFY(heardAgain());

        MqttSubscription *subscription
            = client.subscribe(MqttTopicFilter(QStringLiteral("acme/point/7/#")), 1);
        QVERIFY(subscription);
        QTRY_COMPARE_WITH_TIMEOUT(peer.bytesAvailable(), 21, TestEnvironment::patienceMs);
        const QByteArray subscribe = peer.readAll();
        QCOMPARE(subscribe.left(2) + subscribe.mid(4),
            QByteArray("\x82\x13\0\x0e"
                       "acme/point/7/#\x01",
                19));
        peer.write("\x90\x03" + subscribe.mid(2, 2) + "\x01"); // SUBACK, QoS 1 granted
        QTRY_COMPARE_WITH_TIMEOUT(
            subscription->state(), MqttSubscription::Subscribed, TestEnvironment::patienceMs);
        QVERIFY(heardAgain());
        QSignalSpy received(subscription, &MqttSubscription::messageReceived);
        peer.write(QByteArray("\x32\x13\0\x0e"
                              "acme/point/7/a\0\x07p",
            21)); // PUBLISH, QoS 1, id 7
        QTRY_COMPARE_WITH_TIMEOUT(
            peer.peek(4), QByteArray("\x40\x02\0\x07", 4), TestEnvironment::patienceMs); // PUBACK
        QTRY_COMPARE_WITH_TIMEOUT(received.size(), 1, TestEnvironment::patienceMs);
        QVERIFY(heardAgain());
    }

private:
    MosquittoBroker m_broker;
};

QTEST_GUILESS_MAIN(TestMqtt)
#include "tst_mqtt.moc"
