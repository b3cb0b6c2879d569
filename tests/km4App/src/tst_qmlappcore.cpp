#include "fakeserver.h"
#include "qmlappcore.h"
#include "services/kmapi/timezoneapi.h"
#include "testdatabase.h"
#include "testenvironment.h"

#include <QCoreApplication>
#include <QFile>
#include <QQmlComponent>
#include <QQmlContext>
#include <QQmlEngine>
#include <QSqlDatabase>
#include <QTest>
#include <QThreadPool>

// The root object as the screens see it: published to a real QML engine as "appCore".
class tst_QmlAppCore : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void cleanupTestCase();
    void screensReachEverythingThroughAppCore();
    void dispatchFromQml();

private:
    std::unique_ptr<QObject> create(const QByteArray &qml);

    std::unique_ptr<FakeServer> server;
    std::unique_ptr<QmlAppCore> core;
    std::unique_ptr<QQmlEngine> engine;
};

void tst_QmlAppCore::initTestCase()
{
    QCoreApplication::setApplicationVersion(QStringLiteral("1.0.0"));
    QCoreApplication::instance()->setProperty("VERSION_CODE", QStringLiteral("9"));
    TestEnvironment::init();
    QFile::remove(TestDatabase::path());
    server = std::make_unique<FakeServer>();
    TimezoneApi::setServiceHost(server->timeZoneHost());
    core = std::make_unique<QmlAppCore>();
    core->appEnv()->host.set(server->host());
    core->appEnv()->useHttps.set(false);
    engine = std::make_unique<QQmlEngine>();
    engine->rootContext()->setContextProperty(QStringLiteral("appCore"), core.get());
}

void tst_QmlAppCore::cleanupTestCase()
{
    engine.reset();
    core.reset();
    server.reset();
    QSqlDatabase::removeDatabase(QLatin1String(QSqlDatabase::defaultConnection));
}

std::unique_ptr<QObject> tst_QmlAppCore::create(const QByteArray &qml)
{
    QQmlComponent component(engine.get());
    component.setData(qml, QUrl(QStringLiteral("qrc:/test.qml")));
    std::unique_ptr<QObject> object(component.create());
    if (!object)
        qWarning() << component.errorString();
    return object;
}

void tst_QmlAppCore::screensReachEverythingThroughAppCore()
{
    core->appEnv()->domain.set(QStringLiteral("cafe"));
    const auto object = create(R"(
        import QtQuick
        QtObject {
            property string domain: appCore.qmlEnv.domain
            property string version: appCore.authPage.longVersionString
            property int ready: appCore.ordersPage.readyOrdersModel.rowCount()
            property bool hasSync: appCore.syncDBService !== null
            property bool hasEnv: appCore.env !== null
        })");
    QVERIFY(object);
    QCOMPARE(object->property("domain").toString(), QStringLiteral("cafe"));
    QCOMPARE(object->property("version").toString(), QStringLiteral("1.0.0-9-stable"));
    QCOMPARE(object->property("ready").toInt(), 0);
    QVERIFY(object->property("hasSync").toBool());
    QVERIFY(object->property("hasEnv").toBool());

    core->appEnv()->domain.set(QStringLiteral("bistro"));
    QCOMPARE(object->property("domain").toString(), QStringLiteral("bistro"));
}

void tst_QmlAppCore::dispatchFromQml()
{
    const auto object = create(R"(
        import QtQuick
        QtObject {
            property var answer: []
            property var unknown: []
            Component.onCompleted: {
                appCore.dispatch("remove_db", {}, function() { answer = Array.from(arguments) })
                appCore.dispatch("Remove_db", {}, function(text) { unknown = [text] })
                appCore.dispatch("remove_db")
            }
        })");
    QVERIFY(object);
    QCOMPARE(object->property("answer").toList(), QVariantList { false });
    QCOMPARE(object->property("unknown").toList(),
        QVariantList { QStringLiteral("Неизвестное действие") });
    QCOMPARE(core->appEnv()->domain.value(), QString());
}

QTEST_MAIN(tst_QmlAppCore)
#include "tst_qmlappcore.moc"
