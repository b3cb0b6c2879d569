#pragma once

#include "ilogservice.h"

#include <QFuture>
#include <QList>
#include <QString>
#include <QTimer>

class KMAPI;

// The program's log service: capture (ILogService) plus the upload. While the server is
// reachable it sends the unsent rows of table logs to "/logs" every upload period and marks them
// sent; every tick also sets the storage threshold from the log configuration.
//
// Upload chains never overlap (a tick during one is skipped), each sends at most
// ILogService::uploadBatch rows, oldest first, and marks exactly the rows it sent: nothing when the
// data was wiped while it was under way, as the ids then name the next account's rows.
class LogService : public ILogService
{
public:
    LogService(KMAPI *api, AppEnv *env, QObject *parent = nullptr);
    // Waits for a running upload, which ends within the HTTP time-out.
    ~LogService() override;

    void run() override;
    void stop() override;
    void update();

    static QString join(const QList<int> &values, const QString &separator);

private:
    KMAPI *api;
    QTimer timer;
    QFuture<void> currentUpload;
    // Set by stop(), cleared by run(); a change of the online state does not restart a stopped
    // service.
    bool stopped = false;
};
