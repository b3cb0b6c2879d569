#pragma once

#include "core/appenv.h"
#include "core/appservices.h"
#include "services/db/dbservice.h"
#include "services/env/envservice.h"
#include "services/kmapi/kmapiservice.h"
#include "services/logs/logservice.h"
#include "services/rotationDB/rotationdbservice.h"
#include "services/syncDB/httpsyncdbservice.h"
#include "services/syncDB/mqttsyncdbservice.h"
#include "shared/kmapi.h"

#include <QJSValue>
#include <QJsonObject>
#include <QObject>
#include <QString>

// Owns the environment and every service, and decides when each starts: the schema and the
// settings at construction, the first synchronisation after a login, everything else once that
// synchronisation has finished and the settings it stored are in the environment. QML reaches it
// only through dispatch().
class AppCore : public QObject
{
    Q_OBJECT

public:
    explicit AppCore(QObject *parent = nullptr);
    ~AppCore() override;

    // Waits until the global thread pool has no task left. Pool work holds plain pointers to the
    // members, so it must be over before they go; the destructor calls it too.
    void waitForBackgroundWork();

    AppEnv *appEnv() { return &env; }
    const AppServices &appServices() const { return services; }
    KMApiService *kmApiService() { return &pointService; }
    HttpSyncDBService *httpSyncDBService() { return &syncDBService; }
    MqttSyncDBService *mqttSyncDBService() { return &mqttService; }

private Q_SLOTS:
    void sync();
    void run();

public Q_SLOTS:
    // Runs the flow called `name`; its result list becomes the arguments of `callback`, which is
    // called exactly once, on the application object's thread.
    void dispatch(QString name, QJsonObject args = QJsonObject(), QJSValue callback = QJSValue());

private:
    void startServices();

protected:
    AppEnv env;
    KMAPI api;
    DBService dbService;
    ENVService envService;
    KMApiService pointService;
    HttpSyncDBService syncDBService;
    MqttSyncDBService mqttService;
    LogService logService;
    RotationDBService rotationService;
    AppServices services;
};
