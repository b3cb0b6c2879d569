#include "quicksetup.h"

#include <QtQuickTest>

// Loads the kit's QML test cases with the module and its typeface available as in the program.
class UiKitTestSetup : public QObject
{
    Q_OBJECT

public slots:
    void applicationAvailable() { QuickSetup::prepareApplication(); }
    void qmlEngineAvailable(QQmlEngine *engine) { QuickSetup::prepareEngine(engine); }
};

QUICK_TEST_MAIN_WITH_SETUP(tst_uikit, UiKitTestSetup)

#include "tst_uikit.moc"
