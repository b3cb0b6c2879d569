#include "models/reloadtracker.h"

#include <QTest>

// Ordering of overlapping reloads and of pushes that a reload may have missed.
class TestReloadTracker : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void laterReloadWins_data();
    void laterReloadWins();
    void pushesToReplay();
    void settledPushesAreForgotten();
};

void TestReloadTracker::laterReloadWins_data()
{
    QTest::addColumn<bool>("olderFirst");
    QTest::newRow("older arrives first") << true;
    QTest::newRow("newer arrives first") << false;
}

void TestReloadTracker::laterReloadWins()
{
    QFETCH(bool, olderFirst);
    ReloadTracker<QString> tracker;
    const quint64 older = tracker.start();
    const quint64 newer = tracker.start();
    QList<QString> missed;
    if (olderFirst) {
        QVERIFY(tracker.finish(older, true, &missed));
        QVERIFY(tracker.finish(newer, true, &missed));
    } else {
        QVERIFY(tracker.finish(newer, true, &missed));
        QVERIFY(!tracker.finish(older, true, &missed));
    }
    // A failed reload is never applied.
    const quint64 failed = tracker.start();
    QVERIFY(!tracker.finish(failed, false, &missed));
}

void TestReloadTracker::pushesToReplay()
{
    ReloadTracker<QString> tracker;
    const quint64 settledBefore = tracker.recordPush({ QStringLiteral("before") });
    tracker.settle(settledBefore);
    const quint64 writingBefore = tracker.recordPush({ QStringLiteral("still writing") });
    const quint64 reload = tracker.start();
    const quint64 during = tracker.recordPush({ QStringLiteral("during"), QStringLiteral("too") });
    tracker.settle(during);
    Q_UNUSED(writingBefore)

    QList<QString> missed;
    QVERIFY(tracker.finish(reload, true, &missed));
    // A write that ended before the reload started is in its rows; the others may not be.
    QCOMPARE(missed,
        (QList<QString> {
            QStringLiteral("still writing"), QStringLiteral("during"), QStringLiteral("too") }));
}

void TestReloadTracker::settledPushesAreForgotten()
{
    ReloadTracker<QString> tracker;
    tracker.settle(tracker.recordPush({ QStringLiteral("idle") }));
    QCOMPARE(tracker.rememberedPushes(), 0);

    const quint64 reload = tracker.start();
    const quint64 push = tracker.recordPush({ QStringLiteral("p") });
    tracker.settle(push);
    QCOMPARE(tracker.rememberedPushes(), 1);
    QList<QString> missed;
    QVERIFY(tracker.finish(reload, true, &missed));
    QCOMPARE(tracker.rememberedPushes(), 0);

    // A failed reload releases what it held as well.
    const quint64 failing = tracker.start();
    tracker.settle(tracker.recordPush({ QStringLiteral("q") }));
    QVERIFY(!tracker.finish(failing, false, &missed));
    QCOMPARE(tracker.rememberedPushes(), 0);
}

QTEST_APPLESS_MAIN(TestReloadTracker)
#include "tst_reloadtracker.moc"
