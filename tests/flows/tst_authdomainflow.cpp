#include "fakeserver.h"
#include "jscallback.h"
#include "shared/asynchttpreply.h"
#include "shared/domainname.h"
#include "shared/networkexception.h"
#include "testcore.h"
#include "testenvironment.h"

#include <QDateTime>
#include <QSignalSpy>
#include <QTest>
#include <QThread>

// Pairing through the real point connection service against the server double.
class tst_AuthDomainFlow : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase() { TestEnvironment::init(); }
    void init();
    void cleanup();

    void pairing_data();
    void pairing();
    void unreachableServer_data();
    void unreachableServer();
    void normalisedForms_data();
    void normalisedForms();

private:
    QVariantList dispatch(const QString &domain);

    std::unique_ptr<FakeServer> server;
    std::unique_ptr<TestCore> core;
};

void tst_AuthDomainFlow::init()
{
    server = std::make_unique<FakeServer>();
    QVERIFY(server->isListening());
    core = std::make_unique<TestCore>(*server);
}

void tst_AuthDomainFlow::cleanup()
{
    core.reset();
    server.reset();
    AsyncHttpReply::setTimeoutMs(AsyncHttpReply::defaultTimeoutMs);
}

QVariantList tst_AuthDomainFlow::dispatch(const QString &domain)
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

void tst_AuthDomainFlow::pairing_data()
{
    QTest::addColumn<QString>("stored");
    QTest::addColumn<QString>("typed");
    QTest::addColumn<int>("registration");
    QTest::addColumn<QVariantList>("answer");
    QTest::addColumn<int>("tokens");
    QTest::addColumn<int>("registrations");

    const QVariantList ok { false };
    const QVariantList noDomain { QStringLiteral("Введите домен") };
    QTest::newRow("paired") << "127"
                            << "127" << 0 << ok << 1 << 0;
    QTest::newRow("paired, domain changed in the field") << "old-cafe"
                                                         << "127" << 0 << ok << 1 << 0;
    QTest::newRow("new device") << ""
                                << "127" << int(Accepted)
                                << QVariantList { QStringLiteral(
                                       "Запрос на регистрацию отправлен") }
                                << 0 << 1;
    QTest::newRow("registration pending")
        << ""
        << "127" << int(Pending)
        << QVariantList { QStringLiteral("Запрос на регистрацию уже отправлен") } << 0 << 1;
    QTest::newRow("registration times out")
        << ""
        << "127" << int(Silent)
        << QVariantList { NetworkException(QNetworkReply::TimeoutError).message() } << 0 << 1;
    QTest::newRow("already registered") << ""
                                        << "127" << int(Known) << ok << 1 << 1;
    // What reaches the server, the settings and the push topic is the one normalised form.
    QTest::newRow("blanks around") << ""
                                   << " 127\t" << int(Known) << ok << 1 << 1;
    QTest::newRow("full-width digits") << ""
                                       << "\uFF11\uFF12\uFF17" << int(Known) << ok << 1 << 1;
    // Nothing to ask for; each of the hidden forms would address "127" under another name.
    QTest::newRow("empty") << ""
                           << "" << 0 << noDomain << 0 << 0;
    QTest::newRow("blanks") << ""
                            << "  " << 0 << noDomain << 0 << 0;
    QTest::newRow("paired, empty") << "127"
                                   << "" << 0 << noDomain << 0 << 0;
    QTest::newRow("zero-width space") << ""
                                      << "\u200b127" << 0 << noDomain << 0 << 0;
    QTest::newRow("soft hyphen") << "127"
                                 << "127\u00AD" << 0 << noDomain << 0 << 0;
    QTest::newRow("word joiner inside") << ""
                                        << "12\u20607" << 0 << noDomain << 0 << 0;
    QTest::newRow("blank inside") << ""
                                  << "12 7" << 0 << noDomain << 0 << 0;
    QTest::newRow("not a host name") << ""
                                     << "12#7" << 0 << noDomain << 0 << 0;
}

void tst_AuthDomainFlow::pairing()
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

void tst_AuthDomainFlow::unreachableServer_data()
{
    QTest::addColumn<bool>("recentSync");
    QTest::addColumn<QVariantList>("answer");
    QTest::newRow("no recent synchronisation")
        << false
        << QVariantList { QStringLiteral("Не удалось подключиться к северу."),
               QStringLiteral("Работа в режиме онлайн невозможна.") };
    QTest::newRow("offline work allowed") << true << QVariantList { false };
}

void tst_AuthDomainFlow::unreachableServer()
{
    QFETCH(bool, recentSync);
    QFETCH(QVariantList, answer);
    core->env()->domain.set(server->domain());
    if (recentSync)
        core->env()->lastUpdate.set(QDateTime::currentSecsSinceEpoch() - 60);
    server->setAnswer(FakeServer::TokenPath, FakeServer::closeConnection());

    QCOMPARE(dispatch(server->domain()), answer);
    QCOMPARE(
        TestCore::setting(QStringLiteral("domain")), recentSync ? server->domain() : QString());
    QCOMPARE(core->env()->isOnline.value(), !recentSync);
}

void tst_AuthDomainFlow::normalisedForms_data()
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

void tst_AuthDomainFlow::normalisedForms()
{
    QFETCH(QString, typed);
    QFETCH(QString, normalised);
    QCOMPARE(DomainName::normalised(typed), normalised);
}

QTEST_MAIN(tst_AuthDomainFlow)
#include "tst_authdomainflow.moc"
