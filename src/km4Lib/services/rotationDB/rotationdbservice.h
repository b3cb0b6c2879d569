#pragma once

#include "services/iservice.h"

#include <QFuture>
#include <QTimer>

class AppEnv;

// Keeps the local database small: once when started and then every hour it deletes old orders,
// shifts, receipts and receipt items through the entity models, and old rows of table logs.
class RotationDBService : public IService
{
    Q_OBJECT

public:
    explicit RotationDBService(AppEnv *env, QObject *parent = nullptr);
    // Waits for a running rotation.
    ~RotationDBService() override;

    [[nodiscard]] QFuture<void> removeEntity();
    [[nodiscard]] QFuture<void> removeLogs();

    static constexpr int periodMs = 3600000;

public Q_SLOTS:
    void run() override;
    void stop() override;

private Q_SLOTS:
    void update();

private:
    AppEnv *env;
    int logDays;
    QTimer timer;
    QFuture<void> currentRotation;
};
