#include "cachingnetworkaccessmanagerfactory.h"

#include <QNetworkAccessManager>
#include <QNetworkDiskCache>
#include <QTest>

class tst_CachingNetworkAccessManagerFactory : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    // A disk cache serves one manager only: the engine's managers (one per loader thread) must
    // not share one.
    void eachManagerHasItsOwnCache()
    {
        CachingNetworkAccessManagerFactory factory;
        QObject owner;
        QNetworkAccessManager *first = factory.create(&owner);
        QNetworkAccessManager *second = factory.create(&owner);
        QVERIFY(first && second && first != second);
        QCOMPARE(first->parent(), &owner);
        const auto *firstCache = qobject_cast<QNetworkDiskCache *>(first->cache());
        const auto *secondCache = qobject_cast<QNetworkDiskCache *>(second->cache());
        QVERIFY(firstCache && secondCache && firstCache != secondCache);
        QVERIFY(firstCache->maximumCacheSize() > 0);
        QCOMPARE(firstCache->cacheDirectory(), secondCache->cacheDirectory());
    }
};

QTEST_GUILESS_MAIN(tst_CachingNetworkAccessManagerFactory)
#include "tst_cachingnetworkaccessmanagerfactory.moc"
