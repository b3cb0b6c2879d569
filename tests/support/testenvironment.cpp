#include "testenvironment.h"

#include <QCoreApplication>
#include <QDir>
#include <QStandardPaths>

namespace TestEnvironment {

void init()
{
    if (QCoreApplication::organizationName().isEmpty())
        QCoreApplication::setOrganizationName(QStringLiteral("Kolmira"));
    if (QCoreApplication::applicationName().isEmpty())
        QCoreApplication::setApplicationName(QStringLiteral("Kolmira Queue"));
    QStandardPaths::setTestModeEnabled(true);
    QDir dir(appDataDir());
    dir.removeRecursively();
    dir.mkpath(QStringLiteral("."));
}

QString appDataDir()
{
    return QStandardPaths::writableLocation(QStandardPaths::AppLocalDataLocation);
}

} // namespace TestEnvironment
