#include "config/envrepo.h"
#include "core/appenv.h"
#include "services/db/dbservice.h"
#include "services/env/envservice.h"

#include "futurewait.h"
#include "testdatabase.h"
#include "testenvironment.h"

#include <QLoggingCategory>
#include <QSignalSpy>
#include <QSysInfo>
#include <QTest>
#include <QThread>

namespace {

// Whether the stored settings were loaded and applied, once the load has finished.
bool load(ENVService &service)
{
    QFuture<bool> loading = service.load();
    return waitFor(loading) && loading.result();
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

// The given state ("field=value ...") with the given fields changed.
QString withChanges(const QString &state, const QString &changes)
{
    QStringList fields = state.split(' ');
    for (const QString &change : changes.split(' ', Qt::SkipEmptyParts))
        for (QString &field : fields)
            if (field.section('=', 0, 0) == change.section('=', 0, 0))
                field = change;
    return fields.join(' ');
}

} // namespace

// The settings loader: stored rows into the environment, and the command line.
class TestENVService : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();

    void rows_data();
    void rows();
    void loadsApplyChangesOnTheGuiThread();
    void commandLine_data();
    void commandLine();
};

void TestENVService::initTestCase()
{
    TestEnvironment::init();
    QLoggingCategory::setFilterRules(QStringLiteral("default.debug=false"));
}

void TestENVService::rows_data()
{
    QTest::addColumn<QString>("key");
    QTest::addColumn<QString>("value");
    QTest::addColumn<QString>("changes"); // fields that differ from the held values

    const auto row
        = [](const char *name, const char *key, const char *value, const QString &changes) {
              QTest::newRow(name) << QString::fromUtf8(key) << QString::fromUtf8(value) << changes;
          };
    row("domain with a quote", "domain", "o'cafe", "domain=o'cafe");
    row("key in another case is ignored", "Domain", "x", "");
    row("last update beyond 32 bits", "last_update", "5000000000", "update=5000000000");
    row("last update not a number", "last_update", "soon", "update=0");
    row("point", "point", R"({"id":3,"name":"Bar","timezone":"Asia/Omsk"})",
        "point=3,Bar,Asia/Omsk");
    row("point bad json", "point", "{broken", "");
    row("terminal", "terminal", R"({"max_api_error":2})", "errors=2");
    row("common", "common", R"({"disable_period":"2"})", "period=172800");
    row("log config", "log-config", R"({"push_lvl":1})", "push=1");
    row("sync config not an object", "sync-config", "[1,2]",
        "mqtt=" + DeploymentDefaults::serverHost);
}

void TestENVService::rows()
{
    QFETCH(QString, key);
    QFETCH(QString, value);
    QFETCH(QString, changes);

    TestDatabase db;
    ENVRepo::insertENV(key, value);
    AppEnv env;
    env.lastUpdate.set(5);
    SyncConfig held;
    held.mqtt_host = QStringLiteral("held.example");
    env.syncConfig.set(held);
    ENVService service(&env);
    QVERIFY(load(service));
    const PointConfig &p = env.pointConfig.value();
    QCOMPARE(
        QStringLiteral("domain=%1 update=%2 point=%3,%4,%5 errors=%6 period=%7 push=%8 mqtt=%9")
            .arg(env.domain.value())
            .arg(env.lastUpdate.value())
            .arg(p.id)
            .arg(p.title, p.timezone)
            .arg(env.queueConfig.value().max_api_error)
            .arg(env.commonConfig.value().disable_period)
            .arg(env.logConfig.value().push_lvl)
            .arg(env.syncConfig.value().mqtt_host),
        withChanges("domain= update=5 point=-1,, errors=6 period=604800 push=3 mqtt=held.example",
            changes));
}

// Rows are read on a pool thread and applied on this (the GUI) thread; a failed load applies
// nothing, and a repeated load announces only what changed.
void TestENVService::loadsApplyChangesOnTheGuiThread()
{
    TestDatabase db(false); // no table config yet
    AppEnv env;
    ENVService service(&env);
    QVERIFY(!load(service));
    QVERIFY(!env.uuid.isSet());

    db.service().run();
    ENVRepo::insertENV(QStringLiteral("domain"), QStringLiteral("cafe"));
    ENVRepo::insertENV(QStringLiteral("currency"), QStringLiteral("₸"));
    QSignalSpy domain(&env.domain, &PrivateEnvVariable::changed);
    QSignalSpy currency(&env, &AppEnv::currencyChanged);
    QVERIFY(domain.isValid() && currency.isValid());
    QThread *appliedOn = nullptr;
    connect(
        &env.domain, &PrivateEnvVariable::changed, &env.domain,
        [&appliedOn] { appliedOn = QThread::currentThread(); }, Qt::DirectConnection);
    QVERIFY(load(service));
    QCOMPARE(appliedOn, QThread::currentThread());
    QCOMPARE(env.domain.value(), QStringLiteral("cafe"));
    QCOMPARE(env.uuid.value(), QString::fromUtf8(QSysInfo::machineUniqueId()));

    ENVRepo::insertENV(QStringLiteral("currency"), QStringLiteral("$"));
    QVERIFY(load(service));
    QCOMPARE(domain.count(), 1);
    QCOMPARE(currency.count(), 2);
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
    row("flags",
        { "--use-virtual-keyboard", "--use-fullscreen", "--ignore-ssl-error", "--use-http" },
        "https=0 ssl=1 vk=1 fs=1");
    row("use-http twice", { "--use-http", "--use-http" }, "https=0");
    row("host twice: the first wins", { "-h", "a:8443", "--host", "b" }, "host=a:8443");
    row("host as last argument", { "--use-http", "--host" }, "https=0");
    row("mqtt", { "--mqtt", "h", "1883", "u", "pw" }, "mqtt=1,h,1883,u,pw");
    row("mqtt equal to the compiled one", compiledMqtt, "");
    row("mqtt port not a number", { "--mqtt", "h", "x", "u", "pw" }, "mqtt=1,h,0,u,pw");
    row("mqtt with too few values: they are read as options",
        { "--mqtt", "h", "1883", "--use-http" }, "https=0");
    row("empty machine id", {}, "uuid=", "");
    row("unknown and case-different options are skipped", { "--HOST", "a", "--verbose", "-H" }, "");
}

void TestENVService::commandLine()
{
    QFETCH(QStringList, arguments);
    QFETCH(QString, machineId);
    QFETCH(QString, changes);

    const QString state = withChanges(
        QStringLiteral("host=- https=1 ssl=0 vk=0 fs=0 uuid=m-1 mqtt=1,%1,1883,admin,Plavrek5")
            .arg(DeploymentDefaults::serverHost),
        changes);

    AppEnv env;
    QSignalSpy https(&env.useHttps, &PrivateEnvVariable::changed);
    QSignalSpy sync(&env.syncConfig, &PrivateEnvVariable::changed);
    QVERIFY(https.isValid() && sync.isValid());
    ENVService::applyArguments(&env, arguments, machineId);
    QCOMPARE(commandLineState(env), state);
    // A set-once value is announced once, however often it is given; broker settings equal to the
    // held ones are not announced at all.
    QCOMPARE(https.count(), changes.contains(QStringLiteral("https=0")) ? 1 : 0);
    QCOMPARE(sync.count(), changes.contains(QStringLiteral("mqtt=")) ? 1 : 0);
}

QTEST_GUILESS_MAIN(TestENVService)
#include "tst_envservice.moc"
