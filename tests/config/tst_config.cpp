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

} // namespace

// The configuration records as the server sends them, and the settings variables that hold them.
class TestConfig : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void recordsKeepWhatWasRead();
    void disablePeriod_data();
    void disablePeriod();
    void variablesAnnounceRealChangesOnly();
};

// Values are kept as read, odd ones too (the timers apply their own fallback); a value of the
// wrong JSON type reads as if it were absent.
void TestConfig::recordsKeepWhatWasRead()
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

    const QJsonObject none;
    QCOMPARE(PointConfig(parse(R"({"id":"5","name":1,"address":true})")).toJSON(),
        PointConfig(none).toJSON());
    QCOMPARE(
        QueueConfig(parse(R"({"user_id":"5","is_master":0,"show_non_paid_orders":"no"})")).toJSON(),
        QueueConfig(none).toJSON());
    QCOMPARE(CommonConfig(parse(R"({"client_id":"3","support_phone":null})")).toJSON(),
        CommonConfig(none).toJSON());
    QCOMPARE(SyncConfig(parse(R"({"mqtt_port":"1884","enabled":"no"})")).toJSON(),
        SyncConfig(none).toJSON());
    QCOMPARE(LogConfig(parse(R"({"push_lvl":"1","url":5})")).toJSON(), LogConfig(none).toJSON());
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

// Records compare by their JSON form; once taken, the whole record is kept.
void TestConfig::variablesAnnounceRealChangesOnly()
{
    EnvVariable<long long> lastUpdate { 0 };
    EnvVariable<PointConfig> point;
    QSignalSpy updates(&lastUpdate, &PrivateEnvVariable::changed);
    QSignalSpy pointChanges(&point, &PrivateEnvVariable::changed);
    QVERIFY(updates.isValid() && pointChanges.isValid());
    lastUpdate.set(5000000000LL);
    lastUpdate.set(5000000000LL);
    QCOMPARE(updates.count(), 1);
    QCOMPARE(lastUpdate.value(), 5000000000LL);

    PointConfig moved;
    moved.timezone = QStringLiteral("Europe/Moscow");
    point.set(moved);
    QCOMPARE(pointChanges.count(), 0);
    moved.address = QStringLiteral("Lenina 1");
    point.set(moved);
    QCOMPARE(pointChanges.count(), 1);
    QCOMPARE(point.value().timezone, QStringLiteral("Europe/Moscow"));
}

QTEST_GUILESS_MAIN(TestConfig)
#include "tst_config.moc"
