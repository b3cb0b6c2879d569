#pragma once

#include "services/iservice.h"

#include <QList>
#include <QSqlDatabase>
#include <QString>

class IMigration;

// Owns the local database file "point.db": opens the application's default connection to it and
// brings its schema up to date. Everything here runs on the GUI thread.
class DBService : public IService
{
    Q_OBJECT

public:
    explicit DBService(QObject *parent = nullptr);
    ~DBService() override;

    // Undoes every migration, last first.
    void downAllMigrations();

public Q_SLOTS:
    // Applies the migrations not yet recorded; a failed one is undone together with the ones
    // applied before it in this call.
    void run() override;
    void stop() override;

private:
    QList<IMigration *> migrations;
    QSqlDatabase database;
    QString path;
};
