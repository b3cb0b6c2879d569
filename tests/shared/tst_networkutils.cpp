#include "shared/networkutils.h"

#include <QJsonObject>
#include <QNetworkInterface>
#include <QTest>

class TestNetworkUtils : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void stringToBytes_data();
    void stringToBytes();
    void addresses_data();
    void addresses();
    void incrementIPv4_data();
    void incrementIPv4();
    void selectNetworkParams();
};

void TestNetworkUtils::stringToBytes_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("bytes");
    QTest::newRow("address") << "192.168.1.20" << "192.168.1.20";
    QTest::newRow("extra parts ignored") << "1.2.3.4.5" << "1.2.3.4";
    // Short texts: the missing parts are 0, never read past what was given.
    QTest::newRow("two parts") << "10.1" << "10.1.0.0";
    QTest::newRow("empty") << "" << "0.0.0.0";
    QTest::newRow("empty parts") << "1..3." << "1.0.3.0";
    QTest::newRow("lowest 8 bits") << "256.257.511.4294967295" << "0.1.255.255";
    QTest::newRow("beyond 32 bits") << "4294967296.1.1.1" << "0.1.1.1";
    QTest::newRow("not numbers") << "a.-1.x2.3" << "0.0.0.3";
}

void TestNetworkUtils::stringToBytes()
{
    QFETCH(QString, text);
    QFETCH(QString, bytes);
    unsigned char out[5] = { 9, 9, 9, 9, 0xAB };
    NetworkUtils::stringToBytes(text, out);
    QCOMPARE(NetworkUtils::bytesToString(out), bytes);
    QCOMPARE(out[4], 0xAB); // nothing written past the four bytes
}

void TestNetworkUtils::addresses_data()
{
    QTest::addColumn<QString>("first");
    QTest::addColumn<QString>("second");
    QTest::addColumn<QString>("network");
    QTest::addColumn<QString>("broadcast");
    QTest::newRow("class C") << "192.168.1.20" << "255.255.255.0" << "192.168.1.0" << "192.168.1.20";
    QTest::newRow("zeros taken from second") << "10.0.0.0" << "1.2.3.4" << "0.0.0.0" << "10.2.3.4";
    QTest::newRow("short mask") << "172.16.5.9" << "255.255" << "172.16.0.0" << "172.16.5.9";
}

void TestNetworkUtils::addresses()
{
    QFETCH(QString, first);
    QFETCH(QString, second);
    QFETCH(QString, network);
    QFETCH(QString, broadcast);
    QCOMPARE(NetworkUtils::getNetworkAddress(first, second), network);
    QCOMPARE(NetworkUtils::getBroadcastAddress(first, second), broadcast);
}

void TestNetworkUtils::incrementIPv4_data()
{
    QTest::addColumn<QString>("address");
    QTest::addColumn<QString>("next");
    QTest::newRow("last byte") << "10.0.0.1" << "10.0.0.2";
    QTest::newRow("carry into third") << "10.0.0.255" << "10.0.1.0";
    QTest::newRow("carry into first") << "10.255.255.255" << "11.0.0.0";
    QTest::newRow("no next") << "255.255.255.255" << "";
    QTest::newRow("not IPv4") << "::1" << "";
    QTest::newRow("null") << "" << "";
}

void TestNetworkUtils::incrementIPv4()
{
    QFETCH(QString, address);
    QFETCH(QString, next);
    const QHostAddress result = NetworkUtils::incrementIPv4(QHostAddress(address));
    QCOMPARE(result.isNull(), next.isEmpty());
    if (!next.isEmpty())
        QCOMPARE(result.toString(), next);
}

void TestNetworkUtils::selectNetworkParams()
{
    // What this machine has is not known in advance; every entry must still be an IPv4 address of
    // one of its interfaces other than loopback, with exactly the three keys.
    const QJsonArray params = NetworkUtils::selectNetworkParams();
    for (const QJsonValue &value : params) {
        const QJsonObject entry = value.toObject();
        QCOMPARE(entry.keys(),
            (QStringList { QStringLiteral("ip"), QStringLiteral("mask"), QStringLiteral("name") }));
        const QHostAddress ip(entry.value(QLatin1String("ip")).toString());
        QCOMPARE(ip.protocol(), QAbstractSocket::IPv4Protocol);
        QVERIFY(!ip.isLoopback());
        QVERIFY(QNetworkInterface::interfaceFromName(entry.value(QLatin1String("name")).toString())
                    .isValid());
        QVERIFY(!QHostAddress(entry.value(QLatin1String("mask")).toString()).isNull());
    }
}

QTEST_GUILESS_MAIN(TestNetworkUtils)
#include "tst_networkutils.moc"
