#include "appfonts.h"
#include "screensfixture.h"
#include "testenvironment.h"

#include <QQuickStyle>
#include <QtQuickTest>

// The kit and the program's window offscreen, with the Basic style, the typeface and the module's
// import path as in the program, over a real core and the server double.
class ScreensTestSetup : public QObject
{
    Q_OBJECT

public slots:
    void applicationAvailable()
    {
        QQuickStyle::setStyle(QStringLiteral("Basic"));
        (void)AppFonts::registerOnest(); // checked by tst_km4appmodule
        TestEnvironment::init();
        fixture = std::make_unique<ScreensFixture>();
    }

    void qmlEngineAvailable(QQmlEngine *engine)
    {
        engine->addImportPath(QStringLiteral("qrc:/"));
        fixture->setEngine(engine);
    }

    // The core goes before the server double, and both before the application.
    void cleanupTestCase() { fixture.reset(); }

private:
    std::unique_ptr<ScreensFixture> fixture;
};

QUICK_TEST_MAIN_WITH_SETUP(tst_screens, ScreensTestSetup)

#include "tst_screens.moc"
