#pragma once

#include <QString>

// Common set-up of every test process: test-mode standard paths, so nothing lands in a real
// user's folders, and a fresh empty application data folder for this run.
namespace TestEnvironment {

// Call once from initTestCase() (or main) before anything touches QStandardPaths.
void init();

// The application data folder the database service will use; empty and existing after init().
QString appDataDir();

} // namespace TestEnvironment
