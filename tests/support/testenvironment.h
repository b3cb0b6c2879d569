#pragma once

#include <QCoreApplication>
#include <QDir>
#include <QStandardPaths>

// Common set-up of every test process: test-mode standard paths, so nothing lands in a real
// user's folders, and a fresh empty application data folder for this run. Call init() once from
// initTestCase() (or main) before anything touches QStandardPaths.
namespace TestEnvironment {

// How long a test waits for something that does happen: a busy machine (two cores, tests in
// parallel, a build beside them) may take many times what an idle one takes, and every wait ends
// as soon as its condition holds.
constexpr int patienceMs = 30000;

inline void init()
{
    if (QCoreApplication::organizationName().isEmpty())
        QCoreApplication::setOrganizationName(QStringLiteral("Kolmira"));
    if (QCoreApplication::applicationName().isEmpty())
        QCoreApplication::setApplicationName(QStringLiteral("Kolmira Queue"));
    QStandardPaths::setTestModeEnabled(true);
    QDir dir(QStandardPaths::writableLocation(QStandardPaths::AppLocalDataLocation));
    dir.removeRecursively();
    dir.mkpath(QStringLiteral("."));
}

} // namespace TestEnvironment
