#include "config/envrepo.h"
#include "fakeserver.h"
#include "flows/flowrunner.h"
#include "flows/iflow.h"
#include "jscallback.h"
#include "shared/asynchttpreply.h"
#include "shared/dbexception.h"
#include "shared/domainname.h"
#include "shared/networkexception.h"
#include "testcore.h"
#include "testenvironment.h"

#include <QDateTime>
#include <QElapsedTimer>
#include <QPromise>
#include <QSignalSpy>
#include <QSqlError>
#include <QSqlQuery>
#include <QTest>
#include <QThread>
#include <QtConcurrent>

#include <functional>
#include <stdexcept>

using FlowRun = std::function<QFuture<QList<QJSValue>>()>;
Q_DECLARE_METATYPE(FlowRun)

namespace {

// A flow that ends the way a test tells it to and counts its own deletion.
class ScriptedFlow : public IFlow
{
public:
    ScriptedFlow(FlowRun ending, int *deletions)
        : IFlow(nullptr, AppServices(), QJsonObject())
        , ending(std::move(ending))
        , deletions(deletions)
    { }
    ~ScriptedFlow() override { ++*deletions; }
    QFuture<QList<QJSValue>> run() override { return ending(); }

private:
    FlowRun ending;
    int *deletions;
};

// A finished future: with the result given, or none, or cancelled.
QFuture<QList<QJSValue>> finished(const QList<QJSValue> &result, bool cancel = false)
{
    QPromise<QList<QJSValue>> promise;
    promise.start();
    if (!result.isEmpty())
        promise.addResult(result);
    if (cancel)
        promise.future().cancel();
    promise.finish();
    return promise.future();
}

} // namespace

// The flows the screens dispatch, through the real core, point connection service and database
// file against the server double.
class tst_Flows : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase() { TestEnvironment::init(); }
    void init();
    void cleanup();

    void runnerAnswersOnceAndDeletesTheFlowOnce_data();
    void runnerAnswersOnceAndDeletesTheFlowOnce();
    void pairing_data();
    void pairing();
    void normalisedForms_data();
    void normalisedForms();
    void wipesTheDataAndUnpairs();
    void noSynchronisationOfTheRemovedAccountFollows();
    void wipeWaitsForASynchronisationUnderWay();
    void aWipeThatLeavesDataAnswersWithAText();
    void aSettingsLoadStartedBeforeTheWipeIsNotApplied();

private:
    QVariantList dispatch(const QString &domain);
    QVariantList wipe();
    bool pair();

    std::unique_ptr<FakeServer> server;
    std::unique_ptr<TestCore> core;
};

void tst_Flows::init()
{
    server = std::make_unique<FakeServer>();
    QVERIFY(server->isListening());
    core = std::make_unique<TestCore>(*server);
}

void tst_Flows::cleanup()
{
    core.reset();
    server.reset();
    AsyncHttpReply::setTimeoutMs(AsyncHttpReply::defaultTimeoutMs);
}

void tst_Flows::runnerAnswersOnceAndDeletesTheFlowOnce_data()
{
    QTest::addColumn<FlowRun>("ending");
    QTest::addColumn<QVariantList>("expected");
    const QVariantList sqlText { QStringLiteral("Синтаксическая ошибка SQL") };
    const QVariantList generic { QStringLiteral("Неизвестная ошибка") };
    const auto ours
        = [] { return DBException(QSqlError(QString(), QString(), QSqlError::StatementError)); };
    QTest::newRow("ready") << FlowRun([] { return finished({ QJSValue(false) }); })
                           << QVariantList { false };
    QTest::newRow("on a pool thread") << FlowRun([] {
        return QtConcurrent::run([] {
            QThread::msleep(50);
            return QList<QJSValue> { QJSValue(QStringLiteral("later")),
                QJSValue(QStringLiteral("on")) };
        });
    }) << QVariantList { QStringLiteral("later"), QStringLiteral("on") };
    QTest::newRow("future fails, ours") << FlowRun([ours] {
        return QtConcurrent::run([ours]() -> QList<QJSValue> { throw ours(); });
    }) << sqlText;
    QTest::newRow("future fails, other") << FlowRun([] {
        return QtConcurrent::run([]() -> QList<QJSValue> { throw std::runtime_error("x"); });
    }) << generic;
    QTest::newRow("future cancelled") << FlowRun([] { return finished({}, true); }) << generic;
    QTest::newRow("future without result") << FlowRun([] { return finished({}); }) << generic;
    QTest::newRow("run throws ours")
        << FlowRun([ours]() -> QFuture<QList<QJSValue>> { throw ours(); }) << sqlText;
    QTest::newRow("run throws other")
        << FlowRun([]() -> QFuture<QList<QJSValue>> { throw std::runtime_error("x"); }) << generic;
}

// Nothing a flow throws leaves the runner: one answer on the GUI thread, one deletion.
void tst_Flows::runnerAnswersOnceAndDeletesTheFlowOnce()
{
    QFETCH(FlowRun, ending);
    QFETCH(QVariantList, expected);
    JsCallback callback;
    int deletions = 0;
    FlowRunner::start(std::make_unique<ScriptedFlow>(ending, &deletions), callback.function());
    QVERIFY(callback.waitForCalls(1));
    QCOMPARE(callback.arguments(), expected);
    QCOMPARE(callback.thread(), QThread::currentThread());
    QCOMPARE(deletions, 1);
    // Without a callback, or with one that throws, the flow goes all the same.
    QJSEngine engine;
    FlowRunner::start(std::make_unique<ScriptedFlow>(ending, &deletions), QJSValue());
    FlowRunner::start(std::make_unique<ScriptedFlow>(ending, &deletions),
        engine.evaluate(QStringLiteral("(function() { throw 'boom'; })")));
    QTRY_COMPARE(deletions, 3);
    QCOMPARE(callback.count(), 1);
}

QVariantList tst_Flows::dispatch(const QString &domain)
{
    JsCallback callback;
    (*core)->dispatch(
        QStringLiteral("auth_domain"), QJsonObject { { "domain", domain } }, callback.function());
    if (!callback.waitForCalls(1))
        return { QStringLiteral("no answer") };
    if (callback.thread() != QThread::currentThread())
        return { QStringLiteral("answered on another thread") };
    return callback.arguments();
}

enum Registration { Accepted = 0, Pending = 1002, Known = 1003, Silent = -1 };

void tst_Flows::pairing_data()
{
    QTest::addColumn<QString>("stored");
    QTest::addColumn<QString>("typed");
    QTest::addColumn<int>("registration");
    QTest::addColumn<QVariantList>("answer");
    QTest::addColumn<int>("tokens");
    QTest::addColumn<int>("registrations");

    const QVariantList ok { false };
    const QVariantList noDomain { QStringLiteral("Введите домен") };
    const auto row = [](const char *tag, const char *stored, const QString &typed, int registration,
                         const QVariantList &answer, int tokens, int asked) {
        QTest::newRow(tag) << QString::fromUtf8(stored) << typed << registration << answer << tokens
                           << asked;
    };
    const QString sent = QStringLiteral("Запрос на регистрацию отправлен");
    const QString pending = QStringLiteral("Запрос на регистрацию уже отправлен");
    const QString timeout = NetworkException(QNetworkReply::TimeoutError).message();
    row("paired", "127", "127", 0, ok, 1, 0);
    row("paired, domain changed in the field", "old-cafe", "127", 0, ok, 1, 0);
    row("new device", "", "127", Accepted, { sent }, 0, 1);
    row("registration pending", "", "127", Pending, { pending }, 0, 1);
    row("registration times out", "", "127", Silent, { timeout }, 0, 1);
    row("already registered", "", "127", Known, ok, 1, 1);
    // What reaches the server, the settings and the push topic is the one normalised form.
    row("blanks around", "", " 127\t", Known, ok, 1, 1);
    row("full-width digits", "", "\uFF11\uFF12\uFF17", Known, ok, 1, 1);
    // Nothing to ask for; each of the hidden forms would address "127" under another name.
    row("empty", "", "", 0, noDomain, 0, 0);
    row("blanks", "", "  ", 0, noDomain, 0, 0);
    row("paired, empty", "127", "", 0, noDomain, 0, 0);
    row("zero-width space", "", "\u200b127", 0, noDomain, 0, 0);
    row("soft hyphen", "127", "127\u00AD", 0, noDomain, 0, 0);
    row("word joiner inside", "", "12\u20607", 0, noDomain, 0, 0);
    row("blank inside", "", "12 7", 0, noDomain, 0, 0);
    row("not a host name", "", "12#7", 0, noDomain, 0, 0);
}

void tst_Flows::pairing()
{
    QFETCH(QString, stored);
    QFETCH(QString, typed);
    QFETCH(int, registration);
    QFETCH(QVariantList, answer);
    QFETCH(int, tokens);
    QFETCH(int, registrations);
    AppEnv *env = core->env();
    env->domain.set(stored);
    if (registration == Silent) {
        AsyncHttpReply::setTimeoutMs(300);
        server->setAnswer(FakeServer::RegistrationPath, FakeServer::silence());
    } else if (registration != Accepted) {
        server->setAnswer(FakeServer::RegistrationPath, FakeServer::error(400, registration, "x"));
    }
    QSignalSpy logged(core->kmApiService(), &KMApiService::logged);
    QList<QThread *> changedOn;
    QObject receiver;
    connect(
        &env->domain, &PrivateEnvVariable::changed, &receiver,
        [&changedOn] { changedOn.append(QThread::currentThread()); }, Qt::DirectConnection);

    QCOMPARE(dispatch(typed), answer);
    QCOMPARE(server->count(FakeServer::TokenPath), tokens);
    QCOMPARE(server->count(FakeServer::RegistrationPath), registrations);
    QCOMPARE(logged.count(), tokens);
    QCOMPARE(TestCore::setting(QStringLiteral("domain")), tokens ? server->domain() : QString());
    // A known device takes the domain on the GUI thread; an unpaired one keeps none.
    if (registration == Known) {
        QCOMPARE(env->domain.value(), server->domain());
        QCOMPARE(changedOn, QList<QThread *> { QThread::currentThread() });
    } else if (!tokens) {
        QCOMPARE(env->domain.value(), stored);
        QVERIFY(changedOn.isEmpty());
    }
    if (answer == QVariantList { QStringLiteral("Введите домен") })
        QVERIFY(server->requests().isEmpty());
    if (tokens) // the login starts the first synchronisation
        QVERIFY(server->waitForRequests(FakeServer::SyncPath, 1));
}

void tst_Flows::normalisedForms_data()
{
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QString>("normalised");
    QTest::newRow("capitals") << "AcMe"
                              << "acme";
    QTest::newRow("roman numeral") << "\u2167"
                                   << "viii";
    QTest::newRow("non-ASCII letters") << "B\u00FCcher"
                                       << "xn--bcher-kva";
    QTest::newRow("ideographic space inside") << "ac\u3000me"
                                              << "";
    QTest::newRow("control character") << "ac\u0007me"
                                       << "";
}

void tst_Flows::normalisedForms()
{
    QFETCH(QString, typed);
    QFETCH(QString, normalised);
    QCOMPARE(DomainName::normalised(typed), normalised);
}

QVariantList tst_Flows::wipe()
{
    JsCallback callback;
    (*core)->dispatch(QStringLiteral("remove_db"), QJsonObject(), callback.function());
    return callback.count() == 1 ? callback.arguments() : QVariantList { "not answered at once" };
}

// Pairs the board with the double and waits for the first synchronisation to end.
bool tst_Flows::pair()
{
    core->env()->domain.set(server->domain());
    QSignalSpy finished(core->httpSyncDBService(), &HttpSyncDBService::syncFinished);
    JsCallback callback;
    (*core)->dispatch(QStringLiteral("auth_domain"), QJsonObject { { "domain", server->domain() } },
        callback.function());
    return callback.waitForCalls(1) && callback.arguments() == QVariantList { false }
    && (finished.count() > 0 || finished.wait(10000));
}

void tst_Flows::wipesTheDataAndUnpairs()
{
    QVERIFY(TestDatabase::exec(QStringLiteral(
        "INSERT INTO shift (uuid, type, number, created_at) VALUES ('S', 'general', 1, 1)")));
    QVERIFY(TestDatabase::exec(
        QStringLiteral("INSERT INTO 'order' (uuid, shift_uuid, number) VALUES ('A', 'S', 1)")));
    QVERIFY(TestDatabase::exec(QStringLiteral(
        "INSERT INTO receipt (uuid, shift_uuid, order_uuid) VALUES ('RA', 'S', 'A')")));
    ENVRepo::insertENV(QStringLiteral("domain"), server->domain());
    AppEnv *env = core->env();
    env->domain.set(server->domain());
    env->lastUpdate.set(1700000000);
    env->isOnline.set(false);

    QCOMPARE(wipe(), QVariantList { false });
    QCOMPARE(env->domain.value(), QString());
    QCOMPARE(env->lastUpdate.value(), 0LL);
    QCOMPARE(env->isOnline.value(), true);
    for (const char *table : { "order", "shift", "config" })
        QCOMPARE(TestCore::count(QLatin1String(table)), 0);
    QCOMPARE(TestCore::count(QStringLiteral("receipt")), 1); // receipts are kept
    QVERIFY(TestCore::count(QStringLiteral("migrations")) > 0);
}

void tst_Flows::noSynchronisationOfTheRemovedAccountFollows()
{
    QVERIFY(pair());
    // Too many failed exchanges took the board offline; the wipe sets it online again.
    core->env()->isOnline.set(false);
    const int syncs = server->count(FakeServer::SyncPath);
    const int logins = server->count(FakeServer::TokenPath);
    QCOMPARE(wipe(), QVariantList { false });
    QTest::qWait(500);
    QCOMPARE(server->count(FakeServer::SyncPath), syncs);
    QCOMPARE(server->count(FakeServer::TokenPath), logins);

    // The next pairing synchronises again, as a first synchronisation.
    QSignalSpy first(core->httpSyncDBService(), &HttpSyncDBService::firstSyncFinished);
    QVERIFY(pair());
    QTRY_COMPARE(first.count(), 1);
}

void tst_Flows::wipeWaitsForASynchronisationUnderWay()
{
    const qint64 stamp = QDateTime::currentSecsSinceEpoch();
    server->enqueue(FakeServer::SyncPath, FakeServer::sync(QJsonObject(), stamp).withDelay(1000));
    core->env()->domain.set(server->domain());
    JsCallback login;
    (*core)->dispatch(QStringLiteral("auth_domain"), QJsonObject { { "domain", server->domain() } },
        login.function());
    QVERIFY(login.waitForCalls(1));
    QVERIFY(server->waitForRequests(FakeServer::SyncPath, 1));

    QElapsedTimer timer;
    timer.start();
    QCOMPARE(wipe(), QVariantList { false });
    QVERIFY(timer.elapsed() >= 500);
    // The time stamp of that synchronisation belonged to the account just removed.
    QTest::qWait(300);
    QCOMPARE(core->env()->lastUpdate.value(), 0LL);
    QCOMPARE(TestCore::setting(QStringLiteral("last_update")), QString());
    QCOMPARE(TestCore::setting(QStringLiteral("domain")), QString());
}

void tst_Flows::aWipeThatLeavesDataAnswersWithAText()
{
    // Something that is no table where the orders belong survives the schema's drop.
    QSqlQuery query(ThreadStorage::instance()->database());
    QVERIFY(query.exec(QStringLiteral("DROP TABLE 'order'")));
    QVERIFY(query.exec(QStringLiteral("CREATE VIEW 'order' AS SELECT 1 AS uuid")));
    QCOMPARE(wipe(), QVariantList { QStringLiteral("Не удалось удалить данные") });
}

// The wiped account's domain must not come back with a load that read it before the wipe.
void tst_Flows::aSettingsLoadStartedBeforeTheWipeIsNotApplied()
{
    AppEnv *env = core->env();
    for (int round = 0; round < 40; ++round) {
        ENVRepo::insertENV(QStringLiteral("domain"), QStringLiteral("wiped-cafe"));
        Q_EMIT env->updateEnv();
        // Now and then the read gets a head start, so that it lands on either side of the wipe.
        if (round % 2)
            QThread::msleep(round % 4 == 1 ? 1 : 5);
        (*core)->dispatch(QStringLiteral("remove_db"));
        TestDatabase::drainThreadPool();
        QTest::qWait(5);
        QCOMPARE(env->domain.value(), QString());
    }
}

QTEST_MAIN(tst_Flows)
#include "tst_flows.moc"
