#include "cachingnetworkaccessmanagerfactory.h"

#include <QAbstractNetworkCache>
#include <QDir>
#include <QNetworkAccessManager>
#include <QNetworkDiskCache>
#include <QTest>

class tst_CachingNetworkAccessManagerFactory : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void eachManagerHasItsOwnBoundedCacheOverTheSameFolder();
};

void tst_CachingNetworkAccessManagerFactory::eachManagerHasItsOwnBoundedCacheOverTheSameFolder()
{
    CachingNetworkAccessManagerFactory factory;
    QObject owner;
    QNetworkAccessManager *first = factory.create(&owner);
    QNetworkAccessManager *second = factory.create(&owner);
    QVERIFY(first);
    QVERIFY(second);
    QVERIFY(first != second);
    QCOMPARE(first->parent(), &owner);

    const auto *firstCache = qobject_cast<QNetworkDiskCache *>(first->cache());
    const auto *secondCache = qobject_cast<QNetworkDiskCache *>(second->cache());
    QVERIFY(firstCache);
    QVERIFY(secondCache);
    QVERIFY(firstCache != secondCache);
    for (const QNetworkDiskCache *cache : { firstCache, secondCache }) {
        QCOMPARE(cache->maximumCacheSize(), qint64(20971520));
        // Relative to the working folder of the process.
        QCOMPARE(QDir(cache->cacheDirectory()).absolutePath(),
            QDir::current().absoluteFilePath(QStringLiteral("cache")));
    }
}

QTEST_GUILESS_MAIN(tst_CachingNetworkAccessManagerFactory)
#include "tst_cachingnetworkaccessmanagerfactory.moc"
