#pragma once

#include <QObject>
#include <QSqlDatabase>
#include <QString>

class QNetworkAccessManager;

// Process-wide source of each thread's own SQLite connection and network access manager.
//
// Qt's connections and managers may only be used on the thread that created them, and the system
// runs its SQL and HTTP work on pool threads. The GUI thread uses the application's default
// connection; every other thread gets a connection of its own to the same database file, opened
// from the template that the database service sets. A thread's connection and manager are closed
// and released when that thread finishes.
class ThreadStorage : public QObject
{
    Q_OBJECT

public:
    explicit ThreadStorage(QObject *parent = nullptr);

    // The process-wide object; null once it has been destroyed at exit.
    static ThreadStorage *instance();

    // Takes the connection parameters of the database service's connection as the template for
    // every other thread's connection.
    void setDatabase(const QSqlDatabase &database);

    QSqlDatabase database();
    QNetworkAccessManager *qnam();

    bool hasDatabase() const;
    bool hasQnam() const;

private:
    QString hostName;
    int port = 0;
    QString databaseName;
    QString userName;
    QString password;
    QString connectOptions;
};
