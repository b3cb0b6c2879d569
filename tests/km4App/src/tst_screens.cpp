#include "../quicksetup.h"
#include "screensfixture.h"
#include "testenvironment.h"

#include <QCoreApplication>
#include <QtQuickTest>

class ScreensTestSetup : public QObject
{
    Q_OBJECT

public slots:
    void applicationAvailable()
    {
        QuickSetup::prepareApplication();
        QCoreApplication::setApplicationVersion(QStringLiteral("1.0.0"));
        QCoreApplication::instance()->setProperty("VERSION_CODE", QStringLiteral("9"));
        TestEnvironment::init();
        fixture.start();
    }

    void qmlEngineAvailable(QQmlEngine *engine)
    {
        QuickSetup::prepareEngine(engine);
        fixture.setEngine(engine);
    }

    void cleanupTestCase() { fixture.stop(); }

private:
    ScreensFixture fixture;
};

QUICK_TEST_MAIN_WITH_SETUP(tst_screens, ScreensTestSetup)

#include "tst_screens.moc"
