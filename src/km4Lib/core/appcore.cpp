#include "appcore.h"

#include "flows/flowfactory.h"
#include "flows/flowrunner.h"
#include "flows/iflow.h"

#include <QThreadPool>

#include <memory>

AppCore::AppCore(QObject *parent)
    : QObject(parent)
    , env(nullptr)
    , api(nullptr)
    , dbService(this)
    , envService(&env, this)
    , pointService(&env, &api, this)
    , syncDBService(&api, &env, this)
    , mqttService(&env, nullptr)
    , logService(&api, &env, this)
    , rotationService(&env, this)
{
    services.dbService = &dbService;
    services.envService = &envService;
    services.syncDBService = &syncDBService;
    services.pointService = &pointService;

    dbService.run();
    envService.run();

    connect(&env, &AppEnv::updateEnv, &envService, &ENVService::run);
    connect(&pointService, &KMApiService::logged, this, &AppCore::sync);
    connect(&syncDBService, &HttpSyncDBService::firstSyncFinished, this, &AppCore::run);
    connect(&syncDBService, &HttpSyncDBService::tableSynced, &env, &AppEnv::updateModel);
    // Pushes missed while the broker was away, before the first subscription or because their
    // write failed are caught up over HTTP.
    connect(&mqttService, &MqttSyncDBService::pushesInterrupted, &syncDBService,
        &HttpSyncDBService::beginGap);
    connect(&mqttService, &MqttSyncDBService::pushesResumed, &syncDBService,
        &HttpSyncDBService::endGap);
    connect(&mqttService, &MqttSyncDBService::pushNotStored, &syncDBService,
        &HttpSyncDBService::missedSince);
}

AppCore::~AppCore()
{
    waitForBackgroundWork();
}

void AppCore::waitForBackgroundWork()
{
    QThreadPool::globalInstance()->waitForDone();
}

void AppCore::dispatch(QString name, QJsonObject args, QJSValue callback)
{
    FlowRunner::start(std::unique_ptr<IFlow>(FlowFactory::create(name, &env, services, args)),
        std::move(callback));
}

void AppCore::sync()
{
    syncDBService.run();
}

void AppCore::run()
{
    env.updateAllModels();
    // The services start with the settings the first synchronisation has just stored (the push
    // client would otherwise first connect to the compiled broker), and not at all when the
    // data has been wiped in the meantime.
    envService.load().then(this, [this](bool loaded) {
        if (loaded)
            startServices();
    });
}

void AppCore::startServices()
{
    pointService.run();
    logService.run();
    mqttService.run();
    rotationService.run();
}
