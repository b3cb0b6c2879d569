#pragma once

#include "config/commonconfig.h"
#include "config/constenvvariable.h"
#include "config/envvariable.h"
#include "config/logconfig.h"
#include "config/pointconfig.h"
#include "config/queueconfig.h"
#include "config/singlesetenvvariable.h"
#include "config/syncconfig.h"
#include "models/ordermodel.h"
#include "models/receiptitemmodel.h"
#include "models/receiptmodel.h"
#include "models/shiftmodel.h"

#include <QJsonArray>
#include <QObject>
#include <QString>

// The one object of shared application state: network information, currency, the configuration
// records, the pairing state, the values fixed once per process, the version strings and the
// four entity models. Readers follow a setting through its variable's changed() signal. Lives on
// the GUI thread and is changed only there.
class AppEnv : public QObject
{
    Q_OBJECT
    Q_PROPERTY(QJsonArray networkInfo READ getNetworkInfo NOTIFY networkInfoChanged FINAL)
    Q_PROPERTY(QString currency READ getCurrency WRITE setCurrency NOTIFY currencyChanged FINAL)

public:
    explicit AppEnv(QObject *parent = nullptr);
    ~AppEnv() override;

    QJsonArray getNetworkInfo() const { return networkInfo; }
    QString getCurrency() const { return currency; }
    // Announces every write, also of the same value.
    void setCurrency(const QString &value);

    // Reloads the shift model, takes its newest general shift as the current one and, when that
    // shift is open, reloads the other three models for it. Asks for the settings at once.
    void updateAllModels();
    // Forgets the pairing: no last update, no domain, online, and the account's common and
    // queue records back to their defaults.
    void reset();

    // Written by the settings loader, which then emits networkInfoChanged().
    QJsonArray networkInfo;
    QString currency = QStringLiteral("\u20BD");
    EnvVariable<PointConfig> pointConfig;
    EnvVariable<SyncConfig> syncConfig;
    EnvVariable<CommonConfig> commonConfig;
    EnvVariable<LogConfig> logConfig;
    EnvVariable<QueueConfig> queueConfig;
    EnvVariable<QString> domain;
    EnvVariable<bool> isShiftOpen { false };
    EnvVariable<QString> shiftUuid;
    EnvVariable<bool> isOnline { false };
    EnvVariable<long long> lastUpdate { 0 };
    SingleSetEnvVariable<QString> uuid;
    SingleSetEnvVariable<QString> host;
    SingleSetEnvVariable<bool> useHttps { true };
    SingleSetEnvVariable<bool> ignoreSslErrors { false };
    SingleSetEnvVariable<bool> useVirtualKeyboard { false };
    SingleSetEnvVariable<bool> useFullscreen { false };
    ConstEnvVariable<QString> version;
    ConstEnvVariable<QString> channel;
    ConstEnvVariable<QString> versionCode;
    // True from the first updateAllModels() that found an open shift on.
    bool modelsLoaded = false;
    // True from the end of the first updateAllModels() on, whatever it found: a shift that opens
    // later reloads the models for it.
    bool currentShiftKnown = false;
    ShiftModel shiftModel;
    OrderModel orderModel;
    ReceiptModel receiptModel;
    ReceiptItemModel receiptItemModel;

Q_SIGNALS:
    void networkInfoChanged();
    void currencyChanged();
    // Asks for the settings table to be read again.
    void updateEnv();

public Q_SLOTS:
    // Models are loaded by updateAllModels() and the current shift, and changed by pushes; a
    // synchronised table changes nothing here.
    void updateModel(QString table);

private:
    void reloadShiftModels();
};
