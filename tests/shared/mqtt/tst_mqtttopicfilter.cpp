#include "shared/mqtt/mqtttopicfilter.h"
#include "shared/mqtt/mqtttopicname.h"

#include <QTest>

// Topic filters and names as MQTT 3.1.1 defines them: what is valid, and which names a filter
// reaches. The push client builds its filter from server data, so invalid ones must be caught.
class TestMqttTopicFilter : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void filterValidity_data();
    void filterValidity();
    void match_data();
    void match();
    void topicName_data();
    void topicName();
};

void TestMqttTopicFilter::filterValidity_data()
{
    QTest::addColumn<QString>("filter");
    QTest::addColumn<bool>("valid");

    QTest::newRow("plain") << "acme/point/7/order" << true;
    QTest::newRow("multi-level alone") << "#" << true;
    QTest::newRow("point filter") << "acme/point/7/#" << true;
    QTest::newRow("plus in the middle") << "acme/+/7/order" << true;
    QTest::newRow("empty level") << "a//b" << true;
    QTest::newRow("non-ASCII") << QStringLiteral("кафе/point/1/#") << true;
    QTest::newRow("empty") << "" << false;
    QTest::newRow("hash not last") << "a/#/c" << false;
    QTest::newRow("hash inside level") << "a#" << false;
    QTest::newRow("hash after text") << "a/b#" << false;
    QTest::newRow("plus before text") << "a/+b" << false;
    QTest::newRow("domain with plus") << "ac+me/point/7/#" << false;
    QTest::newRow("domain with hash") << "ac#me/point/7/#" << false;
    QTest::newRow("NUL character") << QString::fromUtf8("a\0b", 3) << false;
    QTest::newRow("65535 bytes") << QString(65535, QLatin1Char('a')) << true;
    QTest::newRow("65536 bytes") << QString(65536, QLatin1Char('a')) << false;
    QTest::newRow("65536 bytes of UTF-8") << QString(32768, QChar(0x0436)) << false;
}

void TestMqttTopicFilter::filterValidity()
{
    QFETCH(QString, filter);
    QFETCH(bool, valid);
    QCOMPARE(MqttTopicFilter(filter).isValid(), valid);
}

void TestMqttTopicFilter::match_data()
{
    QTest::addColumn<QString>("filter");
    QTest::addColumn<QString>("topic");
    QTest::addColumn<bool>("matches");

    QTest::newRow("same") << "a/b/c" << "a/b/c" << true;
    QTest::newRow("filter longer") << "a/b/c" << "a/b" << false;
    QTest::newRow("topic longer") << "a/b" << "a/b/c" << false;
    QTest::newRow("case matters") << "a/B" << "a/b" << false;
    QTest::newRow("plus one level") << "a/+/c" << "a/x/c" << true;
    QTest::newRow("plus empty level") << "a/+/c" << "a//c" << true;
    QTest::newRow("plus not two levels") << "a/+" << "a/b/c" << false;
    QTest::newRow("plus plus leading slash") << "+/+" << "/a" << true;
    QTest::newRow("plus not leading slash") << "+" << "/a" << false;
    QTest::newRow("hash matches parent") << "a/#" << "a" << true;
    QTest::newRow("hash matches deeper") << "a/#" << "a/b/c" << true;
    QTest::newRow("hash not prefix of level") << "a/#" << "ab" << false;
    QTest::newRow("hash everything") << "#" << "a/b" << true;
    QTest::newRow("hash not $SYS") << "#" << "$SYS/broker" << false;
    QTest::newRow("plus not $SYS") << "+/broker" << "$SYS/broker" << false;
    QTest::newRow("explicit $SYS") << "$SYS/#" << "$SYS/broker" << true;
    QTest::newRow("other point") << "acme/point/7/#" << "acme/point/70/order" << false;
    QTest::newRow("other domain") << "acme/point/7/#" << "acme2/point/7/order" << false;
    QTest::newRow("invalid filter") << "a/#/c" << "a/b/c" << false;
    QTest::newRow("wildcard in topic") << "a/+" << "a/+" << false;
    QTest::newRow("empty topic") << "#" << "" << false;
}

void TestMqttTopicFilter::match()
{
    QFETCH(QString, filter);
    QFETCH(QString, topic);
    QFETCH(bool, matches);
    QCOMPARE(MqttTopicFilter(filter).match(MqttTopicName(topic)), matches);
}

void TestMqttTopicFilter::topicName_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<bool>("valid");
    QTest::addColumn<QStringList>("levels");

    QTest::newRow("three levels") << "a/b/c" << true << QStringList { "a", "b", "c" };
    QTest::newRow("one level") << "order" << true << QStringList { "order" };
    QTest::newRow("empty middle") << "a//b" << true << QStringList { "a", "", "b" };
    QTest::newRow("leading slash") << "/a" << true << QStringList { "", "a" };
    QTest::newRow("trailing slash") << "a/" << true << QStringList { "a", "" };
    QTest::newRow("empty") << "" << false << QStringList { "" };
    QTest::newRow("plus") << "a/+" << false << QStringList { "a", "+" };
    QTest::newRow("hash") << "a/#" << false << QStringList { "a", "#" };
}

void TestMqttTopicFilter::topicName()
{
    QFETCH(QString, name);
    QFETCH(bool, valid);
    QFETCH(QStringList, levels);
    const MqttTopicName topic(name);
    QCOMPARE(topic.isValid(), valid);
    QCOMPARE(topic.levels(), levels);
    QCOMPARE(topic.name(), name);
}

QTEST_GUILESS_MAIN(TestMqttTopicFilter)
#include "tst_mqtttopicfilter.moc"
