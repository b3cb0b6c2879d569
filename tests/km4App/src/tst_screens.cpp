#include "appfonts.h"
#include "screensfixture.h"
#include "testenvironment.h"

#include <QCoreApplication>
#include <QGuiApplication>
#include <QQmlEngine>
#include <QQuickStyle>
#include <QtQuickTest>

class ScreensTestSetup : public QObject
{
    Q_OBJECT

public slots:
    void applicationAvailable()
    {
        QQuickStyle::setStyle(QStringLiteral("Basic"));
        if (!AppFonts::registerOnest())
            qFatal("The typeface files are missing from the resources");
        QCoreApplication::setApplicationVersion(QStringLiteral("1.0.0"));
        QCoreApplication::instance()->setProperty("VERSION_CODE", QStringLiteral("9"));
        TestEnvironment::init();
        fixture.start();
    }

    void qmlEngineAvailable(QQmlEngine *engine)
    {
        engine->addImportPath(QStringLiteral("qrc:/"));
        fixture.setEngine(engine);
    }

    void cleanupTestCase() { fixture.stop(); }

private:
    ScreensFixture fixture;
};

QUICK_TEST_MAIN_WITH_SETUP(tst_screens, ScreensTestSetup)

#include "tst_screens.moc"
