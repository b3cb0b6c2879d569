#include "appfonts.h"

#include <QFontDatabase>
#include <QDebug>

QStringList AppFonts::onestFiles()
{
    return {
        QStringLiteral(":/fonts/Onest/Onest.ttf"),
        QStringLiteral(":/fonts/Onest/Onest-Medium.ttf"),
        QStringLiteral(":/fonts/Onest/Onest-SemiBold.ttf"),
        QStringLiteral(":/fonts/Onest/Onest-Bold.ttf"),
    };
}

bool AppFonts::registerOnest()
{
    bool allAdded = true;
    for (const QString &file : onestFiles()) {
        const int id = QFontDatabase::addApplicationFont(file);
        if (id < 0) {
            qWarning() << "Cannot register the typeface file" << file;
            allAdded = false;
        }
    }
    return allAdded;
}
