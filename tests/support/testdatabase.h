#pragma once

#include <QString>

#include <memory>

class DBService;

// A fresh local database for one test: the real DBService opens a new "point.db" in the test's
// data folder and migrates it. On destruction the global thread pool is drained (its threads end,
// closing their connections) and the default connection is removed, so the next TestDatabase
// starts clean. TestEnvironment::init() must have run.
class TestDatabase
{
public:
    // With migrate false the file is opened but the schema is left to the test.
    explicit TestDatabase(bool migrate = true);
    ~TestDatabase();

    TestDatabase(const TestDatabase &) = delete;
    TestDatabase &operator=(const TestDatabase &) = delete;

    DBService &service() { return *m_service; }

    // Full path of the database file.
    static QString path();

    // Ends every thread of the global pool once its work is done; their connections go with them.
    static void drainThreadPool();

private:
    std::unique_ptr<DBService> m_service;
};
