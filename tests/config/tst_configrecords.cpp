#include "config/commonconfig.h"
#include "config/deploymentdefaults.h"
#include "config/logconfig.h"
#include "config/pointconfig.h"
#include "config/queueconfig.h"
#include "config/syncconfig.h"
#include "config/timerinterval.h"

#include <QJsonDocument>
#include <QTest>

namespace {

QJsonObject parse(const char *json)
{
    return QJsonDocument::fromJson(json).object();
}

// A record's key and its JSON forms when default-constructed and when read from an empty object.
struct Forms
{
    QString name;
    QJsonObject byDefault;
    QJsonObject fromEmpty;
};

template <typename Record> Forms formsOf()
{
    return { Record().name(), Record().toJSON(), Record(QJsonObject()).toJSON() };
}

} // namespace

Q_DECLARE_METATYPE(Forms)

class TestConfigRecords : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void jsonForms_data();
    void jsonForms();
    void disablePeriod_data();
    void disablePeriod();
    void readingKeepsEveryField();
    void pointEqualityIgnoresTimezone();
    void timerInterval_data();
    void timerInterval();
};

void TestConfigRecords::jsonForms_data()
{
    QTest::addColumn<Forms>("forms");
    QTest::addColumn<QString>("name");
    QTest::addColumn<QJsonObject>("byDefault");
    QTest::addColumn<QJsonObject>("fromEmpty");
    QTest::addColumn<QJsonObject>("fromWrongTypes");

    const QString host = DeploymentDefaults::serverHost;
    const QString phone = DeploymentDefaults::supportPhone;

    const QJsonObject point = QJsonObject({ { "id", -1 }, { "name", "" }, { "address", "" } });
    QTest::newRow("point") << formsOf<PointConfig>() << "point" << point << point
                           << PointConfig(parse(R"({"id":"5","name":1,"address":true})")).toJSON();

    const QJsonObject queue = QJsonObject({ { "user_id", -1 }, { "name", "" },
        { "is_master", true }, { "theme", "dark" }, { "lang", "" }, { "max_api_error", 6 },
        { "check_online_timeout", 60000 }, { "show_non_paid_orders", false } });
    QJsonObject queueFromEmpty = queue;
    queueFromEmpty["show_non_paid_orders"] = true;
    QTest::newRow("terminal") << formsOf<QueueConfig>() << "terminal" << queue << queueFromEmpty
                              << QueueConfig(parse(R"({"user_id":"5","is_master":0,
                                     "max_api_error":"9","show_non_paid_orders":"false"})"))
                                     .toJSON();

    const QJsonObject common
        = QJsonObject({ { "client_id", -1 }, { "domain_id", -1 }, { "partner_email", "" },
            { "partner_name", "" }, { "partner_phone", "" }, { "receipt_image_base64", "" },
            { "support_phone", phone }, { "logo", "" }, { "disable_period", 604800 } });
    QJsonObject commonFromEmpty = common;
    commonFromEmpty["disable_period"] = 0;
    QTest::newRow("common") << formsOf<CommonConfig>() << "common" << common << commonFromEmpty
                            << CommonConfig(parse(R"({"client_id":"3","support_phone":null,
                                   "disable_period":true})"))
                                   .toJSON();

    const QJsonObject sync = QJsonObject({ { "enabled", true }, { "http_enabled", true },
        { "http_sync_ms", 30000 }, { "mqtt_enabled", true }, { "mqtt_host", host },
        { "mqtt_port", 1883 }, { "mqtt_login", "admin" }, { "mqtt_password", "Plavrek5" },
        { "mqtt_offline_check_timeout", 300000 } });
    QJsonObject syncFromEmpty = sync;
    syncFromEmpty["http_sync_ms"] = 0;
    syncFromEmpty["mqtt_password"] = "Trevok4";
    QTest::newRow("sync-config") << formsOf<SyncConfig>() << "sync-config" << sync << syncFromEmpty
                                 << SyncConfig(parse(R"({"mqtt_port":"1884","enabled":"no",
                                        "http_sync_ms":"5"})"))
                                        .toJSON();

    const QJsonObject log = QJsonObject(
        { { "enabled", true }, { "push_lvl", 3 }, { "period_push_ms", 30000 }, { "url", "" } });
    QJsonObject logFromEmpty = log;
    logFromEmpty["period_push_ms"] = 0;
    QTest::newRow("log-config") << formsOf<LogConfig>() << "log-config" << log << logFromEmpty
                                << LogConfig(parse(R"({"push_lvl":"1","url":5})")).toJSON();
}

void TestConfigRecords::jsonForms()
{
    QFETCH(Forms, forms);
    QFETCH(QString, name);
    QFETCH(QJsonObject, byDefault);
    QFETCH(QJsonObject, fromEmpty);
    QFETCH(QJsonObject, fromWrongTypes);

    QCOMPARE(forms.name, name);
    QCOMPARE(forms.byDefault, byDefault);
    QCOMPARE(forms.fromEmpty, fromEmpty);
    // A value of the wrong JSON type reads as the key's JSON default.
    QCOMPARE(fromWrongTypes, fromEmpty);
}

void TestConfigRecords::disablePeriod_data()
{
    QTest::addColumn<QJsonValue>("days");
    QTest::addColumn<qint64>("seconds");
    QTest::newRow("three days") << QJsonValue("3") << qint64(259200);
    QTest::newRow("beyond 32 bits") << QJsonValue("30000") << qint64(30000) * 86400;
    QTest::newRow("empty") << QJsonValue("") << qint64(0);
    QTest::newRow("not a number") << QJsonValue("abc") << qint64(0);
    QTest::newRow("a JSON number") << QJsonValue(3) << qint64(259200);
    QTest::newRow("a JSON fraction") << QJsonValue(1.5) << qint64(0);
    QTest::newRow("a JSON number outside int") << QJsonValue(3e9) << qint64(0);
    QTest::newRow("outside int") << QJsonValue("3000000000") << qint64(0);
    QTest::newRow("negative") << QJsonValue("-1") << qint64(-86400);
}

void TestConfigRecords::disablePeriod()
{
    QFETCH(QJsonValue, days);
    QFETCH(qint64, seconds);
    const CommonConfig common(QJsonObject { { QStringLiteral("disable_period"), days } });
    QCOMPARE(common.disable_period, seconds);
    QCOMPARE(common.toJSON().value(QLatin1String("disable_period")).toInteger(), seconds);
}

void TestConfigRecords::readingKeepsEveryField()
{
    // A negative time-out is kept as read; timers apply their own fallback.
    const QJsonObject queue = parse(R"({"user_id":7,"name":"Bar","is_master":false,"theme":"light",
        "lang":"ru","max_api_error":2,"check_online_timeout":-5,"show_non_paid_orders":false})");
    QCOMPARE(QueueConfig(queue).toJSON(), queue);
    const QJsonObject sync = parse(R"({"enabled":false,"http_enabled":false,"http_sync_ms":5,
        "mqtt_enabled":false,"mqtt_host":"mq","mqtt_port":8883,"mqtt_login":"l",
        "mqtt_password":"p","mqtt_offline_check_timeout":0})");
    QCOMPARE(SyncConfig(sync).toJSON(), sync);
    const PointConfig point(
        parse(R"({"id":4,"name":"Кафе","address":"a","timezone":"Asia/Omsk"})"));
    QCOMPARE(point.toJSON(), parse(R"({"id":4,"name":"Кафе","address":"a"})"));
    QCOMPARE(point.timezone, QStringLiteral("Asia/Omsk"));
}

void TestConfigRecords::pointEqualityIgnoresTimezone()
{
    PointConfig a(parse(R"({"id":1,"name":"n","address":"x","timezone":"Europe/Moscow"})"));
    PointConfig b = a;
    b.timezone = QStringLiteral("Asia/Omsk");
    QVERIFY(a == b);
    b.address = QStringLiteral("y");
    QVERIFY(a != b);
}

void TestConfigRecords::timerInterval_data()
{
    QTest::addColumn<int>("configured");
    QTest::addColumn<int>("interval");
    QTest::newRow("configured") << 5000 << 5000;
    QTest::newRow("missing key reads as zero") << 0 << 30000;
    QTest::newRow("negative") << -1 << 30000;
}

void TestConfigRecords::timerInterval()
{
    QFETCH(int, configured);
    QFETCH(int, interval);
    QCOMPARE(TimerInterval::orDefault(configured, 30000), interval);
}

QTEST_GUILESS_MAIN(TestConfigRecords)
#include "tst_configrecords.moc"
