#pragma once

#include <QQmlNetworkAccessManagerFactory>

// Gives every network access manager that QML asks for a disk cache, so images loaded by the
// screens survive a restart.
class CachingNetworkAccessManagerFactory : public QQmlNetworkAccessManagerFactory
{
public:
    static constexpr qint64 MaximumCacheSize = 20 * 1024 * 1024;

    // Called by the engine, possibly from several threads; keeps no state.
    QNetworkAccessManager *create(QObject *parent) override;
};
