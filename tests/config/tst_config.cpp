#include "config/commonconfig.h"
#include "config/envvariable.h"
#include "config/logconfig.h"
#include "config/pointconfig.h"
#include "config/queueconfig.h"
#include "config/syncconfig.h"
#include "config/timerinterval.h"

#include <QJsonDocument>
#include <QSignalSpy>
#include <QTest>

namespace {

QJsonObject parse(const char *json)
{
    return QJsonDocument::fromJson(json).object();
}

// The JSON form a record gets from a server object: wrong-typed values must read as if absent.
using Reader = QJsonObject (*)(const QJsonObject &);
template <typename Record> QJsonObject formOf(const QJsonObject &json)
{
    return Record(json).toJSON();
}

} // namespace

Q_DECLARE_METATYPE(Reader)

// The configuration records as the server sends them, and the settings variables that hold them.
class TestConfig : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void wrongTypesReadAsAbsent_data();
    void wrongTypesReadAsAbsent();
    void disablePeriod_data();
    void disablePeriod();
    void valuesKeptAsRead();
    void variablesAnnounceRealChangesOnly();
};

void TestConfig::wrongTypesReadAsAbsent_data()
{
    QTest::addColumn<Reader>("read");
    QTest::addColumn<QJsonObject>("json");
    QTest::newRow("point") << Reader(formOf<PointConfig>)
                           << parse(R"({"id":"5","name":1,"address":true})");
    QTest::newRow("terminal") << Reader(formOf<QueueConfig>)
                              << parse(R"({"user_id":"5","is_master":0,"max_api_error":"9",
                                     "show_non_paid_orders":"false"})");
    QTest::newRow("common") << Reader(formOf<CommonConfig>)
                            << parse(R"({"client_id":"3","support_phone":null})");
    QTest::newRow("sync-config") << Reader(formOf<SyncConfig>)
                                 << parse(R"({"mqtt_port":"1884","enabled":"no",
                                        "http_sync_ms":"5"})");
    QTest::newRow("log-config") << Reader(formOf<LogConfig>)
                                << parse(R"({"push_lvl":"1","url":5})");
}

void TestConfig::wrongTypesReadAsAbsent()
{
    QFETCH(Reader, read);
    QFETCH(QJsonObject, json);
    QCOMPARE(read(json), read(QJsonObject()));
}

void TestConfig::disablePeriod_data()
{
    QTest::addColumn<QJsonValue>("days");
    QTest::addColumn<qint64>("seconds");
    QTest::newRow("text") << QJsonValue("3") << qint64(259200);
    QTest::newRow("a JSON number") << QJsonValue(3) << qint64(259200);
    QTest::newRow("beyond 32 bits in seconds") << QJsonValue("30000") << qint64(30000) * 86400;
    QTest::newRow("not a number") << QJsonValue("abc") << qint64(0);
    QTest::newRow("a JSON fraction") << QJsonValue(1.5) << qint64(0);
    QTest::newRow("a JSON number outside int") << QJsonValue(3e9) << qint64(0);
    QTest::newRow("text outside int") << QJsonValue("3000000000") << qint64(0);
}

void TestConfig::disablePeriod()
{
    QFETCH(QJsonValue, days);
    QFETCH(qint64, seconds);
    const CommonConfig common(QJsonObject { { QStringLiteral("disable_period"), days } });
    QCOMPARE(common.disable_period, seconds);
    QCOMPARE(common.toJSON().value(QLatin1String("disable_period")).toInteger(), seconds);
}

// Records keep what the server sent, odd values too; the timers apply their own fallback.
void TestConfig::valuesKeptAsRead()
{
    const QJsonObject queue = parse(R"({"user_id":7,"name":"Bar","is_master":false,"theme":"light",
        "lang":"ru","max_api_error":2,"check_online_timeout":-5,"show_non_paid_orders":false})");
    QCOMPARE(QueueConfig(queue).toJSON(), queue);
    const QJsonObject sync = parse(R"({"enabled":false,"http_enabled":false,"http_sync_ms":5,
        "mqtt_enabled":false,"mqtt_host":"mq","mqtt_port":8883,"mqtt_login":"l",
        "mqtt_password":"p","mqtt_offline_check_timeout":0})");
    QCOMPARE(SyncConfig(sync).toJSON(), sync);
    QCOMPARE(TimerInterval::orDefault(5000, 30000), 5000);
    QCOMPARE(TimerInterval::orDefault(0, 30000), 30000);
    QCOMPARE(TimerInterval::orDefault(-1, 30000), 30000);
}

void TestConfig::variablesAnnounceRealChangesOnly()
{
    EnvVariable<long long> lastUpdate { 0 };
    QSignalSpy updates(&lastUpdate, &PrivateEnvVariable::changed);
    QVERIFY(updates.isValid());
    lastUpdate.set(5000000000LL);
    lastUpdate.set(5000000000LL);
    QCOMPARE(updates.count(), 1);
    QCOMPARE(lastUpdate.value(), 5000000000LL);

    // Records compare by their JSON form; once taken, the whole record is kept.
    EnvVariable<PointConfig> point;
    QSignalSpy pointChanges(&point, &PrivateEnvVariable::changed);
    QVERIFY(pointChanges.isValid());
    PointConfig zoneOnly;
    zoneOnly.timezone = QStringLiteral("Europe/Moscow");
    point.set(zoneOnly);
    QCOMPARE(pointChanges.count(), 0);
    PointConfig moved = zoneOnly;
    moved.address = QStringLiteral("Lenina 1");
    point.set(moved);
    QCOMPARE(pointChanges.count(), 1);
    QCOMPARE(point.value().timezone, QStringLiteral("Europe/Moscow"));
}

QTEST_GUILESS_MAIN(TestConfig)
#include "tst_config.moc"
