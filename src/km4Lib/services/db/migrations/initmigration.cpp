#include "initmigration.h"

#include "shared/logger.h"

#include <QSqlError>
#include <QSqlQuery>
#include <QStringList>

namespace {

const QStringList &schema()
{
    static const QStringList statements {
        QStringLiteral("CREATE TABLE IF NOT EXISTS 'config'(key TEXT PRIMARY KEY,value TEXT NOT "
                       "NULL,updated_at INTEGER,UNIQUE(\"key\" ASC) ON CONFLICT REPLACE)"),
        QStringLiteral("CREATE TABLE IF NOT EXISTS migrations (id INTEGER PRIMARY KEY "
                       "AUTOINCREMENT,name TEXT NOT NULL)"),
        QStringLiteral(
            "CREATE TABLE IF NOT EXISTS shift (id INTEGER,uuid TEXT PRIMARY KEY,parent_uuid "
            "INTEGER,type TEXT NOT NULL,number INTEGER NOT NULL,user_id INTEGER,is_fiscal "
            "INTEGER,closed_comment TEXT,closed_amount INTEGER,created_by INTEGER,created_at "
            "INTEGER NOT NULL,created_comment TEXT,created_amount INTEGER,updated_at "
            "INTEGER,closed_at INTEGER,UNIQUE (\"uuid\" ASC) ON CONFLICT REPLACE)"),
        QStringLiteral(
            "CREATE TABLE IF NOT EXISTS 'order' (id INTEGER,uuid TEXT NOT NULL, shift_id INTEGER, "
            "shift_uuid TEXT NOT NULL, type TEXT, table_id INTEGER, number INTEGER, status TEXT "
            "DEFAULT 'created', is_closed INTEGER DEFAULT 0, is_shipped INTEGER DEFAULT 0, "
            "is_paid INTEGER DEFAULT 0, comment TEXT, client_id INTEGER, client_uuid TEXT , "
            "number_guests INTEGER, created_by INTEGER, created_at INTEGER, closed_at INTEGER, "
            "updated_at INTEGER, deleted_at INTEGER, UNIQUE (\"uuid\" ASC) ON CONFLICT REPLACE)"),
        QStringLiteral("CREATE TABLE IF NOT EXISTS order_status (id INTEGER PRIMARY KEY "
                       "AUTOINCREMENT,name TEXT,title TEXT,color TEXT,is_active INTEGER DEFAULT "
                       "1,created_at INTEGER,updated_at INTEGER,UNIQUE (\"name\" ASC) ON CONFLICT "
                       "REPLACE)"),
        QStringLiteral("CREATE TABLE IF NOT EXISTS logs (id INTEGER PRIMARY KEY "
                       "AUTOINCREMENT,timestamp INTEGER NOT NULL,level INTEGER NOT NULL,message "
                       "TEXT NOT NULL,file TEXT,line NUMERIC NOT NULL,function TEXT NOT "
                       "NULL,is_sync INTEGER NOT NULL)"),
        QStringLiteral(
            "CREATE TABLE IF NOT EXISTS receipt (id INTEGER,uuid TEXT NOT NULL,shift_id "
            "INTEGER,shift_uuid TEXT NOT NULL,order_id INTEGER,order_uuid TEXT NOT NULL,type "
            "TEXT,is_printed INTEGER DEFAULT 0,is_paid INTEGER DEFAULT 0,created_by "
            "INTEGER,created_at INTEGER,closed_at INTEGER,updated_at INTEGER,deleted_at "
            "INTEGER,UNIQUE (\"uuid\" ASC) ON CONFLICT REPLACE)"),
        QStringLiteral(
            "CREATE TABLE IF NOT EXISTS receipt_item (id INTEGER,receipt_id INTEGER,uuid TEXT NOT "
            "NULL,receipt_uuid TEXT NOT NULL,menu_id INTEGER,quantity NUMERIC DEFAULT 1,comment "
            "TEXT,deleted_reason TEXT,in_work BOOLEAN DEFAULT 0,created_at INTEGER,created_by "
            "INTEGER,updated_at INTEGER,deleted_at INTEGER,status TEXT default "
            "'pending',UNIQUE (\"uuid\" ASC) ON CONFLICT REPLACE)"),
    };
    return statements;
}

} // namespace

InitMigration::InitMigration()
    : IMigration(nullptr)
{ }

bool InitMigration::up()
{
    KM4_LOG(0, "InitMigration:up start");
    QSqlQuery query;
    for (const QString &statement : schema()) {
        if (!query.exec(statement)) {
            KM4_LOG(2, query.lastError().text());
            return false;
        }
    }
    KM4_LOG(0, "InitMigration:up end");
    return true;
}

// Undoes everything up() created, the newest table first: the wipe leaves nothing of the account
// behind, its receipts and unsent log lines included.
bool InitMigration::down()
{
    KM4_LOG(0, "InitMigration:down start");
    QSqlQuery query;
    for (const char *table : { "receipt_item", "receipt", "logs", "order_status", "'order'",
             "shift", "migrations", "'config'" })
        query.exec(QStringLiteral("DROP TABLE IF EXISTS ") + QLatin1String(table));
    KM4_LOG(0, "InitMigration:down end");
    return true;
}
