#include "appfonts.h"

#include <QGuiApplication>
#include <QQmlEngine>
#include <QQuickStyle>
#include <QtQuickTest>

// Loads the kit's QML test cases with the module and its typeface available as in the program.
class UiKitTestSetup : public QObject
{
    Q_OBJECT

public slots:
    void applicationAvailable()
    {
        QQuickStyle::setStyle(QStringLiteral("Basic"));
        if (!AppFonts::registerOnest())
            qFatal("The typeface files are missing from the resources");
    }

    void qmlEngineAvailable(QQmlEngine *engine) { engine->addImportPath(QStringLiteral("qrc:/")); }
};

QUICK_TEST_MAIN_WITH_SETUP(tst_uikit, UiKitTestSetup)

#include "tst_uikit.moc"
