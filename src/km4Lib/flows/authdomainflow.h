#pragma once

#include "iflow.h"

#include <QString>

class IPointService;

// Pairs the board with an account domain and logs it in. With a stored domain it logs in at once;
// without one it asks the server to register the device, and a server that already knows the
// device switches to the login within the same run.
class AuthDomainFlow : public IFlow
{
public:
    AuthDomainFlow(AppEnv *env, AppServices services, QJsonObject args);

    [[nodiscard]] QFuture<QList<QJSValue>> run() override;

private:
    [[nodiscard]] QFuture<QList<QJSValue>> tokenRoad();
    [[nodiscard]] QFuture<QList<QJSValue>> registrationRoad();

    IPointService *pointService;
    // In the one form used for the server, the push topic and the settings.
    QString domain;
};
