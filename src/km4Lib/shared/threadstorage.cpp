#include "threadstorage.h"

#include "logger.h"

#include <QCoreApplication>
#include <QGlobalStatic>
#include <QNetworkAccessManager>
#include <QSqlError>
#include <QThread>
#include <QThreadStorage>

namespace {

// A pool thread's own connection. Dropped by the thread storage when the thread finishes, on that
// thread, which closes the connection and unregisters its name, so no SQLite handle outlives the
// thread that used it.
class ThreadConnection
{
public:
    explicit ThreadConnection(QSqlDatabase database)
        : database(std::move(database))
    { }
    ~ThreadConnection()
    {
        const QString name = database.connectionName();
        database.close();
        database = QSqlDatabase();
        QSqlDatabase::removeDatabase(name);
    }
    Q_DISABLE_COPY_MOVE(ThreadConnection)

    QSqlDatabase database;
};

QThreadStorage<ThreadConnection *> storageDatabases;
// The storage deletes a thread's manager when the thread finishes, on that thread.
QThreadStorage<QNetworkAccessManager *> storageQnam;

bool onApplicationThread()
{
    const QCoreApplication *app = QCoreApplication::instance();
    return app && app->thread() == QThread::currentThread();
}

} // namespace

Q_GLOBAL_STATIC(ThreadStorage, threadStorageInstance)

ThreadStorage::ThreadStorage(QObject *parent)
    : QObject(parent)
{ }

ThreadStorage *ThreadStorage::instance()
{
    return threadStorageInstance();
}

void ThreadStorage::setDatabase(const QSqlDatabase &database)
{
    hostName = database.hostName();
    port = database.port();
    databaseName = database.databaseName();
    userName = database.userName();
    password = database.password();
    connectOptions = database.connectOptions();
}

QSqlDatabase ThreadStorage::database()
{
    if (onApplicationThread())
        return QSqlDatabase::database(QLatin1String(QSqlDatabase::defaultConnection));

    if (!storageDatabases.hasLocalData()) {
        const QString name = QString::number(reinterpret_cast<quintptr>(QThread::currentThread()));
        // A thread object at the same address may have left its connection behind.
        QSqlDatabase::removeDatabase(name);
        QSqlDatabase connection = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), name);
        connection.setHostName(hostName);
        connection.setDatabaseName(databaseName);
        if (!connection.open())
            KM4_LOG(2, "cannot open", databaseName, connection.lastError().text());
        storageDatabases.setLocalData(new ThreadConnection(connection));
    }
    return storageDatabases.localData()->database;
}

QNetworkAccessManager *ThreadStorage::qnam()
{
    if (onApplicationThread())
        return new QNetworkAccessManager;

    if (!storageQnam.hasLocalData())
        storageQnam.setLocalData(new QNetworkAccessManager);
    return storageQnam.localData();
}

bool ThreadStorage::hasDatabase() const
{
    return storageDatabases.hasLocalData();
}

bool ThreadStorage::hasQnam() const
{
    return storageQnam.hasLocalData();
}
