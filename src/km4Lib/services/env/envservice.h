#pragma once

#include "services/iservice.h"

#include <QList>
#include <QPair>
#include <QString>
#include <QStringList>
#include <QVariant>

class AppEnv;

// Fills AppEnv from the settings table config, on every run(), and from the command line, once
// per process at the end of the first load that succeeds.
class ENVService : public IService
{
    Q_OBJECT

public:
    explicit ENVService(AppEnv *env, QObject *parent = nullptr);
    ~ENVService() override;

    // One key and its stored value, as read from table config.
    using Row = QPair<QString, QVariant>;

    // Applies the options of a command line (program name first) to the environment; the device
    // uuid falls back to machineUniqueId when no "--uuid" is given.
    static void applyArguments(
        AppEnv *env, const QStringList &arguments, const QString &machineUniqueId);

Q_SIGNALS:
    // The settings table has been read into the environment (after every successful load).
    void loaded();

public Q_SLOTS:
    void run() override;
    void stop() override;

private:
    void applyRows(const QList<Row> &rows);

    AppEnv *env;
    bool applyArgsOnce = true;
    QString machineUniqueId;
};
