#pragma once

#include "appfonts.h"

#include <QQmlEngine>
#include <QQuickStyle>
#include <QtGlobal>

// What every QML test of the module needs before its first component loads, as the program does
// it: the Basic style, the typeface, and the module's import path.
namespace QuickSetup {

inline void prepareApplication()
{
    QQuickStyle::setStyle(QStringLiteral("Basic"));
    if (!AppFonts::registerOnest())
        qFatal("The typeface files are missing from the resources");
}

inline void prepareEngine(QQmlEngine *engine)
{
    engine->addImportPath(QStringLiteral("qrc:/"));
}

} // namespace QuickSetup
