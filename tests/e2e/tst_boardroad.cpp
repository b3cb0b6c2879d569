#include "appfonts.h"
#include "fakeserver.h"
#include "mosquittobroker.h"
#include "pointsimulator.h"
#include "qmlappcore.h"
#include "testcore.h"
#include "testenvironment.h"

#include <QGuiApplication>
#include <QQmlApplicationEngine>
#include <QQmlContext>
#include <QQuickItem>
#include <QQuickStyle>
#include <QQuickWindow>
#include <QSignalSpy>
#include <QTest>

#include <memory>

// The whole road in one process, with the real window, a real core, the simulator's server and a
// real broker, driven as a person drives it: sign in, the board follows the kitchen's pushes,
// support opens the panel and wipes the board, and it is paired again.
class TestBoardRoad : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void signInFollowPushesWipeAndSignInAgain();

private:
    QObject *part(const QString &name) const;
    QQuickItem *item(const QString &name) const;
    QString page() const;
    void click(QQuickItem *target);
    // Types the domain on the login page and waits for the board and its pushes.
    [[nodiscard]] QString signIn(); // what went wrong, if anything
    // The delegate of a column at `index` (from the end when negative), null past the end.
    QQuickItem *number(const QString &panel, int index) const;
    // The numbers a column shows, in the order it shows them.
    QStringList column(const QString &panel) const;

    FakeServer server;
    MosquittoBroker broker;
    std::unique_ptr<PointSimulator> simulator;
    std::unique_ptr<BasicTestCore<QmlAppCore>> core;
    std::unique_ptr<QQmlApplicationEngine> engine;
    QQuickWindow *window = nullptr;
};

namespace {

QStringList texts(const QList<int> &numbers)
{
    QStringList out;
    for (int number : numbers)
        out.append(QString::number(number));
    return out;
}

} // namespace

void TestBoardRoad::initTestCase()
{
    TestEnvironment::init();
    QQuickStyle::setStyle(QStringLiteral("Basic"));
    QVERIFY(AppFonts::registerOnest());
    QVERIFY2(broker.start(), qPrintable(broker.errorString()));
    simulator = std::make_unique<PointSimulator>(&server, &broker, 1000);
    // Orders already open before the board signs in come with the first synchronisation.
    for (int i = 0; i < 3; ++i)
        QVERIFY(simulator->step());

    core = std::make_unique<BasicTestCore<QmlAppCore>>(server);
    // The compiled-in broker stands for one that is not there; the first synchronisation names
    // the real one.
    SyncConfig compiled = core->env()->syncConfig.value();
    compiled.mqtt_host = broker.host();
    compiled.mqtt_port = FakeServer::unusedPort();
    core->env()->syncConfig.set(compiled);
    engine = std::make_unique<QQmlApplicationEngine>();
    engine->addImportPath(QStringLiteral("qrc:/"));
    engine->rootContext()->setContextProperty(QStringLiteral("appCore"), &**core);
    engine->load(QUrl(QStringLiteral("qrc:/km4App/Main.qml")));
    QCOMPARE(engine->rootObjects().size(), 1);
    window = qobject_cast<QQuickWindow *>(engine->rootObjects().constFirst());
    QVERIFY(window);
    window->requestActivate();
    QVERIFY(QTest::qWaitForWindowActive(window));
}

void TestBoardRoad::cleanupTestCase()
{
    engine.reset();
    core.reset();
    simulator.reset();
}

QObject *TestBoardRoad::part(const QString &name) const
{
    QObject *found = window->findChild<QObject *>(name);
    return found ? found : window->contentItem()->findChild<QObject *>(name);
}

QQuickItem *TestBoardRoad::item(const QString &name) const
{
    return qobject_cast<QQuickItem *>(part(name));
}

QString TestBoardRoad::page() const
{
    const auto *current
        = part(QStringLiteral("pageStack"))->property("currentItem").value<QObject *>();
    return current ? current->objectName() : QString();
}

void TestBoardRoad::click(QQuickItem *target)
{
    QVERIFY(target);
    QTRY_VERIFY(target->isVisible() && target->isEnabled());
    const QPointF center = target->mapToScene(QPointF(target->width() / 2, target->height() / 2));
    QTest::mouseClick(window, Qt::LeftButton, Qt::NoModifier, center.toPoint());
}

QString TestBoardRoad::signIn()
{
    if (page() != QLatin1String("authPage"))
        return QStringLiteral("not on the login page");
    // A page stack that is still moving takes no clicks.
    if (!QTest::qWaitFor(
            [this] { return !part(QStringLiteral("pageStack"))->property("busy").toBool(); }))
        return QStringLiteral("the pages keep moving");
    auto *field = item(QStringLiteral("domainInput"))->property("textField").value<QQuickItem *>();
    click(field);
    if (!QTest::qWaitFor([field] { return field->hasActiveFocus(); }))
        return QStringLiteral("the domain field takes no focus");
    for (const QChar c : simulator->domain())
        QTest::keyClick(window, c.toLatin1());
    QSignalSpy loading(item(QStringLiteral("loadingPage")), &QQuickItem::visibleChanged);
    QTest::keyClick(window, Qt::Key_Return);
    // The loading page shows while the first synchronisation runs, then the board.
    if (!QTest::qWaitFor([this] { return page() == QLatin1String("ordersPage"); }, 15000))
        return QStringLiteral("no board but ") + page();
    if (loading.isEmpty())
        return QStringLiteral("the loading page was never shown");
    if (!QTest::qWaitFor([this] { return core->mqttSyncDBService()->isConnected(); }, 10000))
        return QStringLiteral("no pushes");
    return {};
}

QQuickItem *TestBoardRoad::number(const QString &panel, int index) const
{
    QQuickItem *grid = item(panel)->findChild<QQuickItem *>(QStringLiteral("grid"));
    if (index < 0)
        index += grid->property("count").toInt();
    QQuickItem *delegate = nullptr;
    QMetaObject::invokeMethod(
        grid, "itemAtIndex", Q_RETURN_ARG(QQuickItem *, delegate), Q_ARG(int, index));
    return delegate;
}

QStringList TestBoardRoad::column(const QString &panel) const
{
    QStringList out;
    for (int i = 0; QQuickItem *delegate = number(panel, i); ++i)
        out.append(delegate->property("text").toString());
    return out;
}

void TestBoardRoad::signInFollowPushesWipeAndSignInAgain()
{
    QCOMPARE(signIn(), QString());
    QTRY_COMPARE(column("preparingPanel"), texts(simulator->preparingNumbers()));

    // The kitchen works on: orders come, get ready and are picked up.
    for (int i = 0; i < 12; ++i) {
        QVERIFY2(simulator->step(), qPrintable(broker.errorString()));
        QTRY_COMPARE(column("preparingPanel"), texts(simulator->preparingNumbers()));
        QTRY_COMPARE(column("readyPanel"), texts(simulator->readyNumbers()));
    }
    const QStringList ready = column("readyPanel");
    QVERIFY2(ready.size() >= 2, qPrintable(ready.join(' ')));
    QVERIFY(number("readyPanel", -1)->height() > number("readyPanel", 0)->height());
    QVERIFY(TestCore::count(QStringLiteral("order")) >= 6);

    // Support: "*" opens the panel with the board's identifiers, domain and networks.
    QTest::keyClick(window, '*');
    QObject *panel = part(QStringLiteral("supportDialog"));
    QTRY_VERIFY(panel->property("opened").toBool());
    QCOMPARE(panel->property("idc").toString(), QString::number(PointSimulator::clientId));
    QCOMPARE(panel->property("idq").toString(), QString::number(PointSimulator::queueId));
    QCOMPARE(panel->property("domain").toString(), simulator->domain());
    const QString networks = part(QStringLiteral("networksFact"))->property("value").toString();
    for (const QVariant &network : core->env()->networkInfo.toVariantList())
        QVERIFY2(networks.contains(network.toMap().value("ip").toString()), qPrintable(networks));

    // The wipe is offered only after its countdown, and leads back to an empty login page.
    click(item(QStringLiteral("removeButton")));
    QObject *confirm = part(QStringLiteral("confirmDialog"));
    QTRY_VERIFY(confirm->property("opened").toBool());
    QVERIFY(!item(QStringLiteral("acceptButton"))->isEnabled());
    QTRY_VERIFY_WITH_TIMEOUT(item(QStringLiteral("acceptButton"))->isEnabled(), 8000);
    click(item(QStringLiteral("acceptButton")));
    QTRY_COMPARE(page(), QStringLiteral("authPage"));
    QTRY_VERIFY(!panel->property("visible").toBool() && !confirm->property("visible").toBool());
    QCOMPARE(item(QStringLiteral("domainInput"))->property("text").toString(), QString());
    // Receipts and their items stay: the wipe leaves them by design.
    QCOMPARE(TestCore::count(QStringLiteral("order")), 0);
    QCOMPARE(TestCore::count(QStringLiteral("shift")), 0);
    QCOMPARE(TestCore::setting(QStringLiteral("domain")), QString());

    // Paired again, the board follows the same kitchen.
    QCOMPARE(signIn(), QString());
    QVERIFY(simulator->step());
    QTRY_COMPARE(column("preparingPanel"), texts(simulator->preparingNumbers()));
    QTRY_COMPARE(column("readyPanel"), texts(simulator->readyNumbers()));
}

QTEST_MAIN(TestBoardRoad)
#include "tst_boardroad.moc"
