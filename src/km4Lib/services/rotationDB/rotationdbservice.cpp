#include "rotationdbservice.h"

#include "core/appenv.h"
#include "shared/appexception.h"
#include "shared/asyncsqlquery.h"
#include "shared/logger.h"

RotationDBService::RotationDBService(AppEnv *env, QObject *parent)
    : IService(parent)
    , env(env)
    , logDays(1)
    , currentRotation(QtFuture::makeReadyFuture())
{
    connect(&timer, &QTimer::timeout, this, &RotationDBService::update);
}

RotationDBService::~RotationDBService()
{
    timer.stop();
    try {
        currentRotation.waitForFinished();
    } catch (...) {
        // A failure of another kind ends the rotation; there is nothing left to wait for.
    }
}

void RotationDBService::run()
{
    update();
    timer.start(periodMs);
}

void RotationDBService::stop()
{
    timer.stop();
}

void RotationDBService::update()
{
    // A rotation that is still running does the work of this one.
    if (!currentRotation.isFinished())
        return;
    currentRotation = removeEntity()
                          .then([this] { return removeLogs(); })
                          .unwrap()
                          .onFailed([this](const AppException &exception) {
                              KM4_LOG(3, exception.message(), exception.description());
                              Q_EMIT error(exception.message(), exception.description());
                          });
}

QFuture<void> RotationDBService::removeEntity()
{
    const int days = env->queueConfig.value().rotation_days;
    AppEnv *const env = this->env;
    // Receipts go after the orders they belong to, receipt items after their receipts.
    return env->orderModel.removeOldEntity(days)
        .then([env, days] { return env->shiftModel.removeOldEntity(days); })
        .unwrap()
        .then([env, days] { return env->receiptModel.removeOldEntity(days); })
        .unwrap()
        .then([env, days] { return env->receiptItemModel.removeOldEntity(days); })
        .unwrap();
}

QFuture<void> RotationDBService::removeLogs()
{
    return AsyncSQLQuery::exec(
        QStringLiteral("DELETE FROM logs WHERE timestamp < DATE(CURRENT_DATE, ?)"),
        { QStringLiteral("-%1 days").arg(logDays) })
        .then([](const QSqlQuery &) {});
}
