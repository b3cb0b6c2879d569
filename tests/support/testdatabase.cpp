#include "testdatabase.h"

#include "services/db/dbservice.h"
#include "testenvironment.h"

#include <QDebug>
#include <QFile>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
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

bool TestDatabase::exec(const QString &sql)
{
    QSqlQuery query;
    if (query.exec(sql))
        return true;
    qWarning() << sql << query.lastError().text();
    return false;
}

QVariantList TestDatabase::column(const QString &sql)
{
    QVariantList values;
    QSqlQuery query;
    if (!query.exec(sql))
        qWarning() << sql << query.lastError().text();
    while (query.next())
        values.append(query.value(0));
    return values;
}

QStringList TestDatabase::textColumn(const QString &sql)
{
    QStringList texts;
    for (const QVariant &value : column(sql))
        texts.append(value.toString());
    return texts;
}
