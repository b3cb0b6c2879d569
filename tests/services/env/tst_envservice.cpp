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
    const Reader currency = [](const AppEnv &e) { return e.property("currency").toString(); };
    const Reader lastUpdate = [](const AppEnv &e) { return QString::number(e.lastUpdate.value()); };
    const Reader point = [](const AppEnv &e) {
        const PointConfig &p = e.pointConfig.value();
        return QStringLiteral("%1 %2 %3 %4").arg(p.id).arg(p.title, p.address, p.timezone);
    };
    const Reader queue = [](const AppEnv &e) {
        const QueueConfig &q = e.queueConfig.value();
        return QStringLiteral("%1 %2").arg(q.max_api_error).arg(q.check_online_timeout);
    };
    const Reader common = [](const AppEnv &e) {
        const CommonConfig &c = e.commonConfig.value();
        return QStringLiteral("%1 %2").arg(c.disable_period).arg(c.partner_name);
    };
    const Reader log
        = [](const AppEnv &e) { return QString::number(e.logConfig.value().push_lvl); };
    const Reader sync = [](const AppEnv &e) { return e.syncConfig.value().mqtt_host; };
    const auto row = [](const char *name, const char *key, const char *value, const Reader &read,
                         const QString &expected) {
        QTest::newRow(name) << QString::fromUtf8(key) << QString::fromUtf8(value) << read
                            << expected;
    };

    row("domain with a quote", "domain", "o'cafe", domain, "o'cafe");
    row("key in another case is ignored", "Domain", "x", domain, "");
    row("currency", "currency", "$", currency, "$");
    row("last update", "last_update", "1700000000", lastUpdate, "1700000000");
    row("last update not a number", "last_update", "soon", lastUpdate, "0");
    row("point", "point", R"({"id":3,"name":"Bar","address":"Main st. 1","timezone":"Asia/Omsk"})",
        point, "3 Bar Main st. 1 Asia/Omsk");
    row("point bad json", "point", "{broken", point, "-1   ");
    row("terminal", "terminal", R"({"max_api_error":2,"check_online_timeout":500})", queue,
        "2 500");
    row("common", "common", R"({"disable_period":"2","partner_name":"P"})", common, "172800 P");
    row("log config", "log-config", R"({"push_lvl":1})", log, "1");
    row("sync config", "sync-config", R"({"mqtt_host":"mq.example"})", sync, "mq.example");
    row("sync config not an object", "sync-config", "[1,2]", sync, DeploymentDefaults::serverHost);
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
    QTest::addColumn<QString>("changes"); // fields that differ from the defaults

    const QStringList compiledMqtt { "--mqtt", DeploymentDefaults::serverHost, "1883", "admin",
        "Plavrek5" };
    const auto row = [](const char *name, const QStringList &arguments, const char *changes,
                         const char *machineId = "m-1") {
        QTest::newRow(name) << QStringList { "km4" } + arguments << QString::fromUtf8(machineId)
                            << QString::fromUtf8(changes);
    };

    row("program name only", {}, "");
    row("flags",
        { "--use-virtual-keyboard", "--use-fullscreen", "--ignore-ssl-error", "--use-http" },
        "https=0 ssl=1 vk=1 fs=1");
    row("use-http twice", { "--use-http", "--use-http" }, "https=0");
    row("host twice: the first wins", { "--host", "a", "--host", "b" }, "host=a");
    row("short host", { "-h", "x.example:8443" }, "host=x.example:8443");
    row("host as last argument", { "--use-http", "--host" }, "https=0");
    row("mqtt", { "--mqtt", "h", "1883", "u", "pw" }, "mqtt=1,h,1883,u,pw");
    row("mqtt equal to the compiled one", compiledMqtt, "");
    row("mqtt port not a number", { "--mqtt", "h", "x", "u", "pw" }, "mqtt=1,h,0,u,pw");
    row("mqtt with too few values: they are read as options",
        { "--mqtt", "h", "1883", "--use-http" }, "https=0");
    row("values may begin with a dash", { "--host", "--use-http", "--uuid", "-u" },
        "host=--use-http uuid=-u");
    row("uuid", { "--uuid", "abc" }, "uuid=abc");
    row("uuid as last argument ends the scan", { "--use-fullscreen", "--uuid" }, "fs=1");
    row("empty machine id", {}, "uuid=", "");
    row("unknown and case-different options are skipped", { "--HOST", "a", "--verbose", "-H" }, "");
}

void TestENVService::commandLine()
{
    QFETCH(QStringList, arguments);
    QFETCH(QString, machineId);
    QFETCH(QString, changes);

    QStringList state = QStringLiteral("host=- https=1 ssl=0 vk=0 fs=0 uuid=m-1 "
                                       "mqtt=1,%1,1883,admin,Plavrek5")
                            .arg(DeploymentDefaults::serverHost)
                            .split(' ');
    for (const QString &change : changes.split(' ', Qt::SkipEmptyParts))
        for (QString &field : state)
            if (field.section('=', 0, 0) == change.section('=', 0, 0))
                field = change;

    AppEnv env;
    QSignalSpy https(&env.useHttps, &PrivateEnvVariable::changed);
    QSignalSpy sync(&env.syncConfig, &PrivateEnvVariable::changed);
    QVERIFY(https.isValid() && sync.isValid());
    ENVService::applyArguments(&env, arguments, machineId);
    QCOMPARE(commandLineState(env), state.join(' '));
    QVERIFY(env.uuid.isSet());
    // A set-once value is announced once, however often the option is given; broker settings
    // equal to the held ones are not announced at all.
    QCOMPARE(https.count(), changes.contains(QStringLiteral("https=0")) ? 1 : 0);
    QCOMPARE(sync.count(), changes.contains(QStringLiteral("mqtt=")) ? 1 : 0);
}

QTEST_GUILESS_MAIN(TestENVService)
#include "tst_envservice.moc"
