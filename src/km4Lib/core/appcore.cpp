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
    pointService.run();
    logService.run();
    mqttService.run();
    rotationService.run();
}
