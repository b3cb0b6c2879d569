#include "config/envrepo.h"
#include "core/appenv.h"
#include "services/db/dbservice.h"
#include "services/env/envservice.h"
#include "shared/networkutils.h"

#include "testdatabase.h"
#include "testenvironment.h"

#include <QCoreApplication>
#include <QLoggingCategory>
#include <QSignalSpy>
#include <QSqlQuery>
#include <QSysInfo>
#include <QTest>
#include <QThread>

#include <functional>

namespace {

using Reader = std::function<QString(const AppEnv &)>;

// Lets a load finish: its query on the pool, then its continuation on this thread.
void settle()
{
    TestDatabase::drainThreadPool();
    for (int i = 0; i < 5; ++i)
        QCoreApplication::sendPostedEvents();
}

// The values the command line may set, in one line.
QString commandLineState(const AppEnv &env)
{
    const SyncConfig &sync = env.syncConfig.value();
    return QStringLiteral("host=%1 https=%2 ssl=%3 vk=%4 fs=%5 uuid=%6 mqtt=%7,%8,%9,%10,%11")
        .arg(env.host.isSet() ? env.host.value() : QStringLiteral("-"))
        .arg(env.useHttps.value())
        .arg(env.ignoreSslErrors.value())
        .arg(env.useVirtualKeyboard.value())
        .arg(env.useFullscreen.value())
        .arg(env.uuid.isSet() ? env.uuid.value() : QStringLiteral("-"))
        .arg(sync.mqtt_enabled)
        .arg(sync.mqtt_host)
        .arg(sync.mqtt_port)
        .arg(sync.mqtt_login, sync.mqtt_password);
}

} // namespace

class TestENVService : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();

    void constructionStoresNetworkInfo();
    void rows_data();
    void rows();
    void emptyTableOnlySetsUuid();
    void repeatedLoads();
    void failedLoadAppliesNothingUntilOneSucceeds();
    void commandLine_data();
    void commandLine();
    void mqttOverrideAnnouncedOnlyWhenDifferent();
};

void TestENVService::initTestCase()
{
    TestEnvironment::init();
    QLoggingCategory::setFilterRules(QStringLiteral("default.debug=false"));
}

void TestENVService::constructionStoresNetworkInfo()
{
    AppEnv env;
    QSignalSpy changed(&env, &AppEnv::networkInfoChanged);
    QVERIFY(changed.isValid());
    ENVService service(&env);
    QCOMPARE(changed.count(), 1);
    QCOMPARE(env.property("networkInfo").toJsonArray(), NetworkUtils::selectNetworkParams());
}

void TestENVService::rows_data()
{
    QTest::addColumn<QString>("key");
    QTest::addColumn<QString>("value");
    QTest::addColumn<Reader>("read");
    QTest::addColumn<QString>("expected");

    const Reader domain = [](const AppEnv &e) { return e.domain.value(); };
    const Reader lastUpdate = [](const AppEnv &e) { return QString::number(e.lastUpdate.value()); };
    const Reader point = [](const AppEnv &e) {
        const PointConfig &p = e.pointConfig.value();
        return QStringLiteral("%1 %2 %3 %4").arg(p.id).arg(p.title, p.address, p.timezone);
    };
    const Reader sync = [](const AppEnv &e) { return e.syncConfig.value().mqtt_host; };

    QTest::newRow("domain with a quote") << "domain"
                                         << "o'cafe" << domain << "o'cafe";
    QTest::newRow("key in another case is ignored") << "Domain"
                                                    << "x" << domain << "";
    QTest::newRow("currency") << "currency"
                              << "$" << Reader([](const AppEnv &e) {
                                     return e.property("currency").toString();
                                 })
                              << "$";
    QTest::newRow("last update") << "last_update"
                                 << "1700000000" << lastUpdate << "1700000000";
    QTest::newRow("last update not a number") << "last_update"
                                              << "soon" << lastUpdate << "0";
    QTest::newRow("point")
        << "point"
        << R"({"id":3,"name":"Bar","address":"Main st. 1","timezone":"Asia/Omsk"})" << point
        << "3 Bar Main st. 1 Asia/Omsk";
    QTest::newRow("point bad json") << "point"
                                    << "{broken" << point << "-1   ";
    QTest::newRow("terminal") << "terminal"
                              << R"({"max_api_error":2,"check_online_timeout":500})"
                              << Reader([](const AppEnv &e) {
                                     return QStringLiteral("%1 %2")
                                         .arg(e.queueConfig.value().max_api_error)
                                         .arg(e.queueConfig.value().check_online_timeout);
                                 })
                              << "2 500";
    QTest::newRow("common") << "common"
                            << R"({"disable_period":"2","partner_name":"P"})"
                            << Reader([](const AppEnv &e) {
                                   return QStringLiteral("%1 %2")
                                       .arg(e.commonConfig.value().disable_period)
                                       .arg(e.commonConfig.value().partner_name);
                               })
                            << "172800 P";
    QTest::newRow("log config") << "log-config"
                                << R"({"push_lvl":1})" << Reader([](const AppEnv &e) {
                                       return QString::number(e.logConfig.value().push_lvl);
                                   })
                                << "1";
    QTest::newRow("sync config") << "sync-config"
                                 << R"({"mqtt_host":"mq.example"})" << sync << "mq.example";
    QTest::newRow("sync config not an object") << "sync-config"
                                               << "[1,2]" << sync << DeploymentDefaults::serverHost;
}

void TestENVService::rows()
{
    QFETCH(QString, key);
    QFETCH(QString, value);
    QFETCH(Reader, read);
    QFETCH(QString, expected);

    TestDatabase db;
    ENVRepo::insertENV(key, value);
    AppEnv env;
    env.lastUpdate.set(5);
    SyncConfig held;
    held.mqtt_host = QStringLiteral("held.example");
    env.syncConfig.set(held);
    ENVService service(&env);

    service.run();
    settle();
    QCOMPARE(read(env), expected);
}

void TestENVService::emptyTableOnlySetsUuid()
{
    TestDatabase db;
    AppEnv env;
    ENVService service(&env);
    const QString before = commandLineState(env);
    QSignalSpy domain(&env.domain, &PrivateEnvVariable::changed);
    QSignalSpy currency(&env, &AppEnv::currencyChanged);
    QVERIFY(domain.isValid() && currency.isValid());

    service.run();
    settle();
    QVERIFY(env.uuid.isSet());
    QCOMPARE(env.uuid.value(), QString::fromUtf8(QSysInfo::machineUniqueId()));
    QCOMPARE(commandLineState(env),
        QString(before).replace(
            QStringLiteral("uuid=-"), QStringLiteral("uuid=") + env.uuid.value()));
    QCOMPARE(domain.count(), 0);
    QCOMPARE(currency.count(), 0);
}

void TestENVService::repeatedLoads()
{
    TestDatabase db;
    ENVRepo::insertENV(QStringLiteral("domain"), QStringLiteral("cafe"));
    ENVRepo::insertENV(QStringLiteral("currency"), QStringLiteral("₸"));
    ENVRepo::insertENV(QStringLiteral("point"), QStringLiteral(R"({"id":1,"timezone":"UTC"})"));
    AppEnv env;
    ENVService service(&env);
    QSignalSpy domain(&env.domain, &PrivateEnvVariable::changed);
    QSignalSpy currency(&env, &AppEnv::currencyChanged);
    QSignalSpy point(&env.pointConfig, &PrivateEnvVariable::changed);
    QVERIFY(domain.isValid() && currency.isValid() && point.isValid());
    // The rows are applied on this (the GUI) thread, never on the pool thread that read them.
    QThread *appliedOn = nullptr;
    connect(
        &env.domain, &PrivateEnvVariable::changed, &env.domain,
        [&appliedOn] { appliedOn = QThread::currentThread(); }, Qt::DirectConnection);

    service.run();
    settle();
    QCOMPARE(appliedOn, QThread::currentThread());
    QCOMPARE(domain.count(), 1);
    QCOMPARE(currency.count(), 1);
    QCOMPARE(point.count(), 1);

    // Only the time zone differs: the record's JSON form is the same, so it is not taken.
    ENVRepo::insertENV(
        QStringLiteral("point"), QStringLiteral(R"({"id":1,"timezone":"Asia/Omsk"})"));
    service.run();
    settle();
    QCOMPARE(domain.count(), 1);
    QCOMPARE(currency.count(), 2);
    QCOMPARE(point.count(), 1);
    QCOMPARE(env.pointConfig.value().timezone, QStringLiteral("UTC"));
    QCOMPARE(env.property("currency").toString(), QStringLiteral("₸"));
}

void TestENVService::failedLoadAppliesNothingUntilOneSucceeds()
{
    TestDatabase db(false); // no table config yet
    AppEnv env;
    ENVService service(&env);
    service.run();
    settle();
    QVERIFY(!env.uuid.isSet());

    db.service().run();
    ENVRepo::insertENV(QStringLiteral("domain"), QStringLiteral("cafe"));
    service.run();
    settle();
    QCOMPARE(env.domain.value(), QStringLiteral("cafe"));
    QVERIFY(env.uuid.isSet());
}

void TestENVService::commandLine_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QString>("machineId");
    QTest::addColumn<QString>("state");

    const QString mqttDefault
        = QStringLiteral("1,%1,1883,admin,Plavrek5").arg(DeploymentDefaults::serverHost);
    auto state = [](const QString &host, bool https, bool ssl, bool vk, bool fs,
                     const QString &uuid, const QString &mqtt) {
        return QStringLiteral("host=%1 https=%2 ssl=%3 vk=%4 fs=%5 uuid=%6 mqtt=%7")
            .arg(host)
            .arg(https)
            .arg(ssl)
            .arg(vk)
            .arg(fs)
            .arg(uuid, mqtt);
    };

    QTest::newRow("program name only") << QStringList { "km4" } << "m-1"
                                       << state("-", true, false, false, false, "m-1", mqttDefault);
    QTest::newRow("flags") << QStringList { "km4", "--use-virtual-keyboard", "--use-fullscreen",
        "--ignore-ssl-error", "--use-http" }
                           << "m-1" << state("-", false, true, true, true, "m-1", mqttDefault);
    QTest::newRow("use-http twice") << QStringList { "km4", "--use-http", "--use-http" } << "m-1"
                                    << state("-", false, false, false, false, "m-1", mqttDefault);
    QTest::newRow("host twice: the first wins") << QStringList { "km4", "--host", "a", "--host",
        "b" } << "m-1" << state("a", true, false, false, false, "m-1", mqttDefault);
    QTest::newRow("short host") << QStringList { "km4", "-h", "x.example:8443" } << "m-1"
                                << state("x.example:8443", true, false, false, false, "m-1",
                                       mqttDefault);
    QTest::newRow("host as last argument") << QStringList { "km4", "--use-http",
        "--host" } << "m-1" << state("-", false, false, false, false, "m-1", mqttDefault);
    QTest::newRow("mqtt") << QStringList { "km4", "--mqtt", "h", "1883", "u", "pw" } << "m-1"
                          << state("-", true, false, false, false, "m-1", "1,h,1883,u,pw");
    QTest::newRow("mqtt port not a number") << QStringList { "km4", "--mqtt", "h", "x", "u",
        "pw" } << "m-1" << state("-", true, false, false, false, "m-1", "1,h,0,u,pw");
    QTest::newRow("mqtt with too few values: they are read as options")
        << QStringList { "km4", "--mqtt", "h", "1883", "--use-http" } << "m-1"
        << state("-", false, false, false, false, "m-1", mqttDefault);
    QTest::newRow("values may begin with a dash")
        << QStringList { "km4", "--host", "--use-http", "--uuid", "-u" } << "m-1"
        << state("--use-http", true, false, false, false, "-u", mqttDefault);
    QTest::newRow("uuid") << QStringList { "km4", "--uuid", "abc" } << "m-1"
                          << state("-", true, false, false, false, "abc", mqttDefault);
    QTest::newRow("uuid as last argument") << QStringList { "km4",
        "--uuid" } << "m-1" << state("-", true, false, false, false, "m-1", mqttDefault);
    QTest::newRow("uuid as last argument ends the scan") << QStringList { "km4", "--use-fullscreen",
        "--uuid" } << "m-1" << state("-", true, false, false, true, "m-1", mqttDefault);
    QTest::newRow("empty machine id")
        << QStringList { "km4" } << "" << state("-", true, false, false, false, "", mqttDefault);
    QTest::newRow("unknown and case-different options are skipped")
        << QStringList { "km4", "--HOST", "a", "--verbose", "-H" } << "m-1"
        << state("-", true, false, false, false, "m-1", mqttDefault);
}

void TestENVService::commandLine()
{
    QFETCH(QStringList, arguments);
    QFETCH(QString, machineId);
    QFETCH(QString, state);

    AppEnv env;
    QSignalSpy https(&env.useHttps, &PrivateEnvVariable::changed);
    QVERIFY(https.isValid());
    ENVService::applyArguments(&env, arguments, machineId);
    QCOMPARE(commandLineState(env), state);
    QVERIFY(env.uuid.isSet());
    // A set-once value is announced once, however often the option is given.
    QCOMPARE(https.count(), state.contains(QStringLiteral("https=0")) ? 1 : 0);
}

void TestENVService::mqttOverrideAnnouncedOnlyWhenDifferent()
{
    AppEnv env;
    QSignalSpy sync(&env.syncConfig, &PrivateEnvVariable::changed);
    QVERIFY(sync.isValid());
    const SyncConfig defaults;
    ENVService::applyArguments(&env,
        { "km4", "--mqtt", defaults.mqtt_host, QString::number(defaults.mqtt_port),
            defaults.mqtt_login, defaults.mqtt_password },
        QString());
    QCOMPARE(sync.count(), 0);

    AppEnv other;
    QSignalSpy otherSync(&other.syncConfig, &PrivateEnvVariable::changed);
    QVERIFY(otherSync.isValid());
    ENVService::applyArguments(&other, { "km4", "--mqtt", "h", "1", "u", "p" }, QString());
    QCOMPARE(otherSync.count(), 1);
}

QTEST_GUILESS_MAIN(TestENVService)
#include "tst_envservice.moc"
