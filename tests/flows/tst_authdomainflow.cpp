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
    void initTestCase();
    void init();
    void cleanup();

    void storedDomainLogsIn_data();
    void storedDomainLogsIn();
    void unreachableServer_data();
    void unreachableServer();
    void newDeviceAsksForRegistration();
    void registrationAlreadySent();
    void alreadyRegisteredSwitchesToLogin();
    void registrationTimesOut();
    void emptyDomainAsksNothing_data();
    void emptyDomainAsksNothing();
    void typedDomainIsUsedInOneForm_data();
    void typedDomainIsUsedInOneForm();
    void normalisedForms_data();
    void normalisedForms();

private:
    QVariantList dispatch(const QString &domain);

    std::unique_ptr<FakeServer> server;
    std::unique_ptr<TestCore> core;
};

void tst_AuthDomainFlow::initTestCase()
{
    TestEnvironment::init();
}

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
    (*core)->dispatch(QStringLiteral("auth_domain"),
        QJsonObject { { QStringLiteral("domain"), domain } }, callback.function());
    if (!callback.waitForCalls(1))
        return { QStringLiteral("no answer") };
    if (callback.thread() != QThread::currentThread())
        return { QStringLiteral("answered on another thread") };
    return callback.arguments();
}

void tst_AuthDomainFlow::storedDomainLogsIn_data()
{
    QTest::addColumn<QString>("stored");
    QTest::newRow("same domain") << "127";
    QTest::newRow("domain changed in the field") << "old-cafe";
}

void tst_AuthDomainFlow::storedDomainLogsIn()
{
    QFETCH(QString, stored);
    core->env()->domain.set(stored);
    QSignalSpy logged(core->kmApiService(), &KMApiService::logged);
    QVERIFY(logged.isValid());

    QCOMPARE(dispatch(server->domain()), QVariantList { false });
    QCOMPARE(server->count(FakeServer::TokenPath), 1);
    QCOMPARE(server->count(FakeServer::RegistrationPath), 0);
    QCOMPARE(TestCore::setting(QStringLiteral("domain")), server->domain());
    QCOMPARE(logged.count(), 1);
    // The login starts the first synchronisation.
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
    if (recentSync)
        QCOMPARE(core->env()->isOnline.value(), false);
}

void tst_AuthDomainFlow::newDeviceAsksForRegistration()
{
    QSignalSpy domainChanged(&core->env()->domain, &PrivateEnvVariable::changed);
    QVERIFY(domainChanged.isValid());

    QCOMPARE(dispatch(server->domain()),
        QVariantList { QStringLiteral("Запрос на регистрацию отправлен") });
    QCOMPARE(server->count(FakeServer::RegistrationPath), 1);
    QCOMPARE(server->count(FakeServer::TokenPath), 0);
    QCOMPARE(core->env()->domain.value(), QString());
    QCOMPARE(domainChanged.count(), 0);
    QCOMPARE(TestCore::setting(QStringLiteral("domain")), QString());
}

void tst_AuthDomainFlow::registrationAlreadySent()
{
    server->setAnswer(FakeServer::RegistrationPath,
        FakeServer::error(400, 1002, QStringLiteral("registration pending")));

    const QString text = QStringLiteral("Запрос на регистрацию уже отправлен");
    QCOMPARE(dispatch(server->domain()), QVariantList { text });
    QCOMPARE(server->count(FakeServer::TokenPath), 0);
    // Logged as critical, the way Qt's debug stream writes a string.
    QTRY_COMPARE(TestCore::scalar(QStringLiteral("SELECT COUNT(*) FROM logs WHERE level = 3 AND "
                                                 "message LIKE '%\"%1\"%'")
                                      .arg(text))
                     .toInt(),
        1);
}

void tst_AuthDomainFlow::alreadyRegisteredSwitchesToLogin()
{
    server->setAnswer(FakeServer::RegistrationPath,
        FakeServer::error(400, 1003, QStringLiteral("already registered")));
    QList<QThread *> changedOn;
    QObject receiver;
    connect(
        &core->env()->domain, &PrivateEnvVariable::changed, &receiver,
        [&changedOn] { changedOn.append(QThread::currentThread()); }, Qt::DirectConnection);

    QCOMPARE(dispatch(server->domain()), QVariantList { false });
    QCOMPARE(core->env()->domain.value(), server->domain());
    QCOMPARE(changedOn, QList<QThread *> { QThread::currentThread() });
    QCOMPARE(server->count(FakeServer::RegistrationPath), 1);
    QCOMPARE(server->count(FakeServer::TokenPath), 1);
    QCOMPARE(TestCore::setting(QStringLiteral("domain")), server->domain());
}

void tst_AuthDomainFlow::registrationTimesOut()
{
    AsyncHttpReply::setTimeoutMs(300);
    server->setAnswer(FakeServer::RegistrationPath, FakeServer::silence());
    QCOMPARE(dispatch(server->domain()),
        QVariantList { NetworkException(QNetworkReply::TimeoutError).message() });
}

void tst_AuthDomainFlow::emptyDomainAsksNothing_data()
{
    QTest::addColumn<bool>("stored");
    QTest::addColumn<QString>("domain");
    QTest::newRow("new device, empty") << false << "";
    QTest::newRow("new device, blanks") << false << "  ";
    QTest::newRow("paired device, empty") << true << "";
    // Each of these would address the account "127" under another name.
    QTest::newRow("zero-width space") << false << "\u200b127";
    QTest::newRow("soft hyphen") << true << "127\u00AD";
    QTest::newRow("word joiner inside") << false << "12\u20607";
    QTest::newRow("blank inside") << false << "12 7";
    QTest::newRow("not a host name") << false << "12#7";
}

void tst_AuthDomainFlow::emptyDomainAsksNothing()
{
    QFETCH(bool, stored);
    QFETCH(QString, domain);
    if (stored)
        core->env()->domain.set(server->domain());
    QCOMPARE(dispatch(domain), QVariantList { QStringLiteral("Введите домен") });
    QTest::qWait(200);
    QCOMPARE(server->requests().size(), 0);
}

// What reaches the server, the settings and the push topic is the one normalised form.
void tst_AuthDomainFlow::typedDomainIsUsedInOneForm_data()
{
    QTest::addColumn<QString>("typed");
    QTest::newRow("blanks around") << " 127\t";
    QTest::newRow("full-width digits") << "\uFF11\uFF12\uFF17";
}

void tst_AuthDomainFlow::typedDomainIsUsedInOneForm()
{
    QFETCH(QString, typed);
    server->setAnswer(FakeServer::RegistrationPath,
        FakeServer::error(400, 1003, QStringLiteral("already registered")));

    QCOMPARE(dispatch(typed), QVariantList { false });
    QCOMPARE(core->env()->domain.value(), server->domain());
    QCOMPARE(TestCore::setting(QStringLiteral("domain")), server->domain());
    QCOMPARE(server->count(FakeServer::TokenPath), 1);
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
