#include "appenv.h"

#include "shared/logger.h"

#include <QCoreApplication>
#include <QVariant>

namespace {

QString applicationVersionCode()
{
    const QCoreApplication *application = QCoreApplication::instance();
    return application ? application->property("VERSION_CODE").toString() : QString();
}

} // namespace

AppEnv::AppEnv(QObject *parent)
    : QObject(parent)
    , version(QCoreApplication::applicationVersion())
    , channel(QStringLiteral("stable"))
    , versionCode(applicationVersionCode())
{
    isOnline.set(true);
    // A new current shift, however it came, shows its own rows and only those. Before the first
    // load has decided which shift is current, that load is still to come.
    connect(
        &shiftUuid, &PrivateEnvVariable::changed, &shiftUuid,
        [this] {
            if (isShiftOpen.value() && currentShiftKnown)
                reloadShiftModels();
        },
        Qt::DirectConnection);
}

AppEnv::~AppEnv() = default;

void AppEnv::setCurrency(const QString &value)
{
    currency = value;
    Q_EMIT currencyChanged();
}

void AppEnv::updateAllModels()
{
    KM4_LOG_SCOPE();
    // A failed shift reload keeps the rows it had, and the current shift is taken from those.
    // Not bound to this object: the model finishes the future on this thread, or cancels it when
    // it goes first, possibly after this object, and then nothing runs.
    shiftModel.update().then([this] {
        const Shift current = shiftModel.lastGeneralShift();
        isShiftOpen.set(current.closed_at == 0);
        shiftUuid.set(current.uuid);
        if (isShiftOpen.value()) {
            reloadShiftModels();
            modelsLoaded = true;
        }
        currentShiftKnown = true;
    });
    Q_EMIT updateEnv();
}

void AppEnv::reset()
{
    lastUpdate.set(0);
    domain.set(QString());
    isOnline.set(true);
    // The account's own records go with it, or the support panel would show the wiped account
    // until another one is paired. The synchronisation record stays, as it may carry the
    // command line's broker, and so do the point and log records that the push client and the
    // log upload, which keep running, follow.
    commonConfig.set(CommonConfig());
    queueConfig.set(QueueConfig());
}

void AppEnv::updateModel(QString table)
{
    Q_UNUSED(table)
}

void AppEnv::reloadShiftModels()
{
    const QString shift = shiftUuid.value();
    (void)orderModel.update(shift);
    (void)receiptModel.update(shift);
    (void)receiptItemModel.update(shift);
}
