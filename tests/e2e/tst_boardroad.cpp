#include "appfonts.h"
#include "mosquittobroker.h"
#include "pointsimulator.h"
#include "qmlappcore.h"
#include "testcore.h"
#include "testenvironment.h"

#include <QQmlApplicationEngine>
#include <QQmlContext>
#include <QQuickItem>
#include <QQuickStyle>
#include <QQuickWindow>
#include <QSignalSpy>
#include <QTest>

// The whole road in one process, with the real window, a real core, the simulator's server and a
// real broker, driven as a person drives it: sign in, the board follows the kitchen's pushes,
// support opens the panel and wipes the board, and it is paired again.
class TestBoardRoad : public QObject
{
    Q_OBJECT

    FakeServer server;
    MosquittoBroker broker;
    std::unique_ptr<PointSimulator> simulator;
    std::unique_ptr<BasicTestCore<QmlAppCore>> core;
    std::unique_ptr<QQmlApplicationEngine> engine;
    QQuickWindow *window
        = nullptr; // members go in reverse order: the engine first, the server last

    template <typename T = QQuickItem> T *part(const char *name) const
    {
        QObject *found = window->findChild<QObject *>(QLatin1String(name));
        return qobject_cast<T *>(
            found ? found : window->contentItem()->findChild<QObject *>(QLatin1String(name)));
    }

    QString page() const
    {
        return part<QObject>("pageStack")->property("currentItem").value<QObject *>()->objectName();
    }

    void click(QQuickItem *target)
    {
        QTRY_VERIFY_WITH_TIMEOUT(
            target->isVisible() && target->isEnabled(), TestEnvironment::patienceMs);
        QTest::mouseClick(window, Qt::LeftButton, Qt::NoModifier,
            target->mapToScene(QPointF(target->width() / 2, target->height() / 2)).toPoint());
    }

    // The delegates of a column, first to last.
    QList<QQuickItem *> numbers(const char *panel) const
    {
        QQuickItem *grid = part(panel)->findChild<QQuickItem *>(QStringLiteral("grid"));
        QList<QQuickItem *> out;
        for (int i = 0; i < grid->property("count").toInt(); ++i) {
            out.append(nullptr);
            QMetaObject::invokeMethod(
                grid, "itemAtIndex", Q_RETURN_ARG(QQuickItem *, out.last()), Q_ARG(int, i));
        }
        return out;
    }

    // Both columns' numbers as shown, and as the kitchen has them.
    QList<QList<int>> board() const
    {
        QList<QList<int>> out;
        for (const char *panel : { "preparingPanel", "readyPanel" }) {
            out.append(QList<int>());
            for (const QQuickItem *delegate : numbers(panel))
                out.last().append(delegate ? delegate->property("text").toInt() : -1);
        }
        return out;
    }

    QList<QList<int>> kitchen() const
    {
        return { simulator->preparingNumbers(), simulator->readyNumbers() };
    }

    // Types the domain on the login page; the loading page shows, then the board with pushes.
    void signIn()
    {
        QCOMPARE(page(), QStringLiteral("authPage"));
        // A page stack that is still moving takes no clicks.
        QTRY_VERIFY_WITH_TIMEOUT(
            !part<QObject>("pageStack")->property("busy").toBool(), TestEnvironment::patienceMs);
        auto *field = part("domainInput")->property("textField").value<QQuickItem *>();
        click(field);
        QTRY_VERIFY_WITH_TIMEOUT(field->hasActiveFocus(), TestEnvironment::patienceMs);
        for (const QChar c : simulator->domain())
            QTest::keyClick(window, c.toLatin1());
        QSignalSpy loading(part("loadingPage"), &QQuickItem::visibleChanged);
        QTest::keyClick(window, Qt::Key_Return);
        QTRY_COMPARE_WITH_TIMEOUT(
            page(), QStringLiteral("ordersPage"), TestEnvironment::patienceMs);
        QVERIFY(!loading.isEmpty());
        QTRY_VERIFY_WITH_TIMEOUT(
            core->mqttSyncDBService()->isConnected(), TestEnvironment::patienceMs);
        QTRY_COMPARE_WITH_TIMEOUT(board(), kitchen(), TestEnvironment::patienceMs);
    }

private slots:
    void initTestCase()
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
        engine = std::make_unique<QQmlApplicationEngine>();
        engine->addImportPath(QStringLiteral("qrc:/"));
        engine->rootContext()->setContextProperty(QStringLiteral("appCore"), &**core);
        engine->load(QUrl(QStringLiteral("qrc:/km4App/Main.qml")));
        QCOMPARE(engine->rootObjects().size(), 1);
        window = qobject_cast<QQuickWindow *>(engine->rootObjects().constFirst());
        QVERIFY(window);
        window->requestActivate();
        QVERIFY(QTest::qWaitForWindowActive(window, TestEnvironment::patienceMs));
    }

    void signInFollowPushesWipeAndSignInAgain()
    {
        signIn();
        // The kitchen works on: orders come, get ready and are picked up.
        for (int i = 0; i < 8; ++i) {
            QVERIFY2(simulator->step(), qPrintable(broker.errorString()));
            QTRY_COMPARE_WITH_TIMEOUT(board(), kitchen(), TestEnvironment::patienceMs);
        }
        const QList<QQuickItem *> ready = numbers("readyPanel");
        QVERIFY(ready.size() >= 2);
        QVERIFY(ready.last()->height() > ready.first()->height());

        // Support: "*" opens the panel with the board's identifiers, domain and networks.
        QTest::keyClick(window, '*');
        QObject *panel = part<QObject>("supportDialog");
        QTRY_VERIFY_WITH_TIMEOUT(panel->property("opened").toBool(), TestEnvironment::patienceMs);
        QCOMPARE((QStringList { panel->property("idc").toString(),
                     panel->property("idq").toString(), panel->property("domain").toString() }),
            (QStringList { QString::number(PointSimulator::clientId),
                QString::number(PointSimulator::queueId), simulator->domain() }));
        const QString networks = part<QObject>("networksFact")->property("value").toString();
        for (const QVariant &network : core->env()->networkInfo.toVariantList())
            QVERIFY(networks.contains(network.toMap().value("ip").toString()));

        // The wipe is offered only after its countdown, and leads back to an empty login page.
        click(part("removeButton"));
        QObject *confirm = part<QObject>("confirmDialog");
        QTRY_VERIFY_WITH_TIMEOUT(confirm->property("opened").toBool(), TestEnvironment::patienceMs);
        QVERIFY(!part("acceptButton")->isEnabled());
        click(part("acceptButton")); // waits for the countdown
        QTRY_COMPARE_WITH_TIMEOUT(page(), QStringLiteral("authPage"), TestEnvironment::patienceMs);
        QTRY_VERIFY_WITH_TIMEOUT(
            !panel->property("visible").toBool() && !confirm->property("visible").toBool(),
            TestEnvironment::patienceMs);
        QCOMPARE(part("domainInput")->property("text").toString(), QString());
        // Nothing of the account stays.
        QCOMPARE((QVariantList { TestCore::count("order"), TestCore::count("shift"),
                     TestCore::count("receipt"), TestCore::count("receipt_item"),
                     TestCore::setting("domain") }),
            (QVariantList { 0, 0, 0, 0, QString() }));

        // Paired again, the board follows the same kitchen.
        signIn();
        QVERIFY(simulator->step());
        QTRY_COMPARE_WITH_TIMEOUT(board(), kitchen(), TestEnvironment::patienceMs);
    }
};

QTEST_MAIN(TestBoardRoad)
#include "tst_boardroad.moc"
