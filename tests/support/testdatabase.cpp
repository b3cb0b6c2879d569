#include "testdatabase.h"

#include "services/db/dbservice.h"
#include "testenvironment.h"

#include <QFile>
#include <QSqlDatabase>
#include <QThreadPool>

TestDatabase::TestDatabase(bool migrate)
{
    drainThreadPool();
    QFile::remove(path());
    m_service = std::make_unique<DBService>();
    if (migrate)
        m_service->run();
}

TestDatabase::~TestDatabase()
{
    drainThreadPool();
    m_service.reset();
    QSqlDatabase::database(QLatin1String(QSqlDatabase::defaultConnection), false).close();
    QSqlDatabase::removeDatabase(QLatin1String(QSqlDatabase::defaultConnection));
}

QString TestDatabase::path()
{
    return TestEnvironment::appDataDir() + QStringLiteral("/point.db");
}

void TestDatabase::drainThreadPool()
{
    QThreadPool::globalInstance()->waitForDone();
}
