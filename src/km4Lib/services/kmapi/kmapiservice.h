#pragma once

#include "ipointservice.h"
#include "timezoneapi.h"

#include <QTimer>

class AppEnv;

// Logs the device in, decides whether the board may work offline when the server cannot be
// reached, and keeps AppEnv::isOnline: after too many failed API exchanges, or after an offline
// login, it polls the server with a login until one succeeds. At the start of normal running it
// also checks the device clock against the time-zone service.
class KMApiService : public IPointService
{
    Q_OBJECT

public:
    KMApiService(AppEnv *env, KMAPI *api, QObject *parent = nullptr);
    ~KMApiService() override;

    [[nodiscard]] APIFuture requestToken(QString domain) override;
    [[nodiscard]] APIFuture requestRegistration(QString domain) override;
    bool isLogged() const override;
    void useHttps(bool enabled) override;
    void ignoreSslErrors(bool ignore) override;

Q_SIGNALS:
    // A login was granted, online or offline.
    void logged();

public Q_SLOTS:
    void run() override;
    void stop() override;

private Q_SLOTS:
    void checkOnline();
    void increaseApiError();

private:
    bool canOffline() const;
    int checkInterval() const;

    AppEnv *env;
    KMAPI *api;
    TimezoneApi timezoneApi;
    bool loggedIn = false;
    QTimer checkTimer;
    int apiErrors = 0;
};
