#pragma once

#include "services/iservice.h"
#include "shared/kmapi.h"

#include <QString>

// The board's connection to its account on the point-of-sale server: login, registration and
// whether a login has been granted.
class IPointService : public IService
{
    Q_OBJECT

public:
    explicit IPointService(QObject *parent = nullptr);
    ~IPointService() override;

    [[nodiscard]] virtual APIFuture requestToken(QString domain) = 0;
    [[nodiscard]] virtual APIFuture requestRegistration(QString domain) = 0;
    virtual bool isLogged() const = 0;
    virtual void useHttps(bool enabled) = 0;
    virtual void ignoreSslErrors(bool ignore) = 0;
};
