#pragma once

#include "services/db/dbservice.h"

#include <QFile>
#include <QSqlError>
#include <QSqlQuery>
#include <QStandardPaths>
#include <QThreadPool>

#include <memory>

// A fresh local database for one test: the real DBService opens a new "point.db" in the test's
// data folder and migrates it. On destruction the global thread pool is drained (its threads end,
// closing their connections) and the default connection is removed, so the next TestDatabase
// starts clean. TestEnvironment::init() must have run.
class TestDatabase
{
public:
    // With migrate false the file is opened but the schema is left to the test.
    explicit TestDatabase(bool migrate = true)
    {
        drainThreadPool();
        QFile::remove(path());
        m_service = std::make_unique<DBService>();
        if (migrate)
            m_service->run();
    }
    ~TestDatabase()
    {
        drainThreadPool();
        m_service.reset();
        QSqlDatabase::database(QSqlDatabase::defaultConnection, false).close();
        QSqlDatabase::removeDatabase(QSqlDatabase::defaultConnection);
    }

    DBService &service() { return *m_service; }
    static QString path()
    {
        return QStandardPaths::writableLocation(QStandardPaths::AppLocalDataLocation)
            + QStringLiteral("/point.db");
    }
    // Ends every thread of the global pool once its work is done; their connections go with them.
    static void drainThreadPool() { QThreadPool::globalInstance()->waitForDone(); }

    // Statements of a test on the calling thread's connection; a failure is printed with the
    // statement and the database's error.
    static bool exec(const QString &sql) { return run(sql).isActive(); }
    // The first column of every row of a SELECT, as values or as texts.
    static QVariantList column(const QString &sql)
    {
        QSqlQuery query = run(sql);
        QVariantList values;
        while (query.next())
            values.append(query.value(0));
        return values;
    }
    static QStringList textColumn(const QString &sql)
    {
        QStringList texts;
        for (const QVariant &value : column(sql))
            texts.append(value.toString());
        return texts;
    }

private:
    static QSqlQuery run(const QString &sql)
    {
        QSqlQuery query;
        if (!query.exec(sql))
            qWarning("%s: %s", qPrintable(sql), qPrintable(query.lastError().text()));
        return query;
    }

    std::unique_ptr<DBService> m_service;
};
