#include "cachingnetworkaccessmanagerfactory.h"

#include <QNetworkAccessManager>
#include <QNetworkDiskCache>

QNetworkAccessManager *CachingNetworkAccessManagerFactory::create(QObject *parent)
{
    auto *manager = new QNetworkAccessManager(parent);
    auto *cache = new QNetworkDiskCache(parent);
    cache->setMaximumCacheSize(MaximumCacheSize);
    cache->setCacheDirectory(QStringLiteral("cache"));
    manager->setCache(cache);
    return manager;
}
