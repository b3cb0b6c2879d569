#include "dbservice.h"

#include "migrations/initmigration.h"
#include "shared/threadstorage.h"

#include <QDir>
#include <QSqlQuery>
#include <QStandardPaths>
#include <QStringList>

DBService::DBService(QObject *parent)
    : IService(parent)
    , migrations { new InitMigration }
{
    database = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"));
    database.setHostName(QStringLiteral("kolmira"));
    const QString directory
        = QStandardPaths::writableLocation(QStandardPaths::AppLocalDataLocation);
    QDir().mkpath(directory);
    path = directory + QStringLiteral("/point.db");
    database.setDatabaseName(path);
    ThreadStorage::instance()->setDatabase(database);
    // A file that cannot be opened shows as failing statements, which are logged where they run.
    database.open();
}

DBService::~DBService()
{
    qDeleteAll(migrations);
}

void DBService::downAllMigrations()
{
    for (auto it = migrations.crbegin(); it != migrations.crend(); ++it)
        (*it)->down();
}

void DBService::run()
{
    QSqlQuery query;
    QStringList recorded;
    // Fails while the table does not exist yet, which leaves the list empty.
    if (query.exec(QStringLiteral("SELECT * FROM migrations"))) {
        while (query.next())
            recorded.append(query.value(QStringLiteral("name")).toString());
    }
    query.finish();

    for (qsizetype i = 0; i < migrations.size(); ++i) {
        const QString name = QString::fromLatin1(migrations[i]->metaObject()->className());
        if (recorded.contains(name))
            continue;
        if (migrations[i]->up()) {
            query.prepare(QStringLiteral("INSERT INTO migrations (name) VALUES (?)"));
            query.addBindValue(name);
            query.exec();
            continue;
        }
        for (qsizetype j = i; j >= 0; --j) {
            const QString earlier = QString::fromLatin1(migrations[j]->metaObject()->className());
            if (!recorded.contains(earlier))
                migrations[j]->down();
        }
        return;
    }
}

void DBService::stop() { }
