#pragma once

#include <QString>
#include <QStringList>
#include <QVariantList>

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

    // Statements of a test on the calling thread's connection; a failure is printed with the
    // statement and the database's error.
    static bool exec(const QString &sql);
    // The first column of every row of a SELECT, as values or as texts.
    static QVariantList column(const QString &sql);
    static QStringList textColumn(const QString &sql);

private:
    std::unique_ptr<DBService> m_service;
};
