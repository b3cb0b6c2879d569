#include "logcapture.h"
#include "pushedpoint.h"
#include "testenvironment.h"

#include <QSignalSpy>
#include <QTest>
#include <QTimer>

#include <memory>

// The push client against a real mosquitto broker, with a real database behind its models. Which
// pushes are stored where is the fuzz test's part (tst_writefuzz).
class TestMqttSyncDBService : public QObject
{
    Q_OBJECT

    std::unique_ptr<PushedPoint> point;

    // Pairs point 7 of "acme" with the broker, runs the service and waits until pushes arrive.
    void start(int offlineCheckMs = 60000)
    {
        point->pair("acme", 7, point->config(offlineCheckMs));
        point->service.run();
        QVERIFY(point->listening());
    }
    [[nodiscard]] bool publish(const QString &topic, const QString &uuid)
    {
        return point->broker.publish(
            topic, PushedPoint::push({ { "uuid", uuid }, { "shift_uuid", "s" } }));
    }

private Q_SLOTS:
    void initTestCase() { TestEnvironment::init(); }
    void init()
    {
        point = std::make_unique<PushedPoint>();
        QVERIFY2(point->broker.start(), qPrintable(point->broker.errorString()));
    }
    void cleanup() { point.reset(); }

    void refusedSettingsWaitForBetterOnes_data()
    {
        QTest::addColumn<QString>("domain");
        QTest::addColumn<int>("portAbove16Bits");
        QTest::addColumn<QString>("warning");
        // A wildcard in the domain would make a valid filter that reaches into other accounts.
        QTest::newRow("hash in the domain") << "ac#me" << 0 << "ac#me/point/7/#";
        QTest::newRow("whole level wildcard") << "+" << 0 << "+/point/7/#";
        // 65536 more would be the broker's own port again as a 16-bit number.
        QTest::newRow("port out of range") << "acme" << 65536 << "out of range";
    }

    // Settings that cannot work subscribe nothing; better ones arriving while the service runs
    // are taken up without a new run().
    void refusedSettingsWaitForBetterOnes()
    {
        QFETCH(QString, domain);
        QFETCH(int, portAbove16Bits);
        QFETCH(QString, warning);
        LogCapture log;
        SyncConfig config = point->config();
        config.mqtt_port += portAbove16Bits;
        point->pair(domain, 7, config);
        point->service.run();
        const auto warned = [&] {
            for (const LogCapture::Entry &entry : log.atLevel(2))
                if (entry.message.contains(warning))
                    return true;
            return false;
        };
        QTRY_VERIFY_WITH_TIMEOUT(warned(), TestEnvironment::patienceMs);
        // A bad domain still connects: it only keeps the subscription from being made.
        if (portAbove16Bits == 0)
            QTRY_VERIFY_WITH_TIMEOUT(point->service.isConnected(), TestEnvironment::patienceMs);
        else
            QVERIFY(!QTest::qWaitFor([&] { return point->service.isConnected(); }, 500));
        // Nothing of another account reaches the board, even where "+" would have matched it.
        QVERIFY(publish("other/point/7/order", "o-x"));
        point->pair("acme", 7, point->config());
        QVERIFY(point->listening());
        QCOMPARE(point->env.orderModel.rowCount(), 0);
    }

    void brokerRestartReconnectsWithBackoff_data()
    {
        QTest::addColumn<int>("interval");
        QTest::addColumn<QList<int>>("delays");
        QTest::newRow("default interval") << 0 << QList<int> { 1000, 2000 };
        QTest::newRow("capped by the interval") << 1500 << QList<int> { 1000, 1500, 1500 };
    }

    // A lost broker is tried again after a second, then after twice as long each time, never
    // after more than the configured interval; the gap in pushes is announced once at each end.
    void brokerRestartReconnectsWithBackoff()
    {
        QFETCH(int, interval);
        QFETCH(QList<int>, delays);
        start(interval);
        QSignalSpy interrupted(&point->service, &MqttSyncDBService::pushesInterrupted);
        QSignalSpy resumed(&point->service, &MqttSyncDBService::pushesResumed);
        // The drop, then a Connecting and a Disconnected report for each attempt. With each
        // Disconnected report the service has set its timer, and two more start: one 10 % short
        // of the expected wait, which must fire before the attempt, and one 10 % beyond it, which
        // must fire after (the service's coarse timer fires within 5 %). However busy the
        // machine, the timer that is due first fires first.
        int changes = 0;
        QStringList waits; // "<ms> on time", or "too soon" or "late" for a wrong one
        int judged = 0;
        const QObject listener; // the timers go with it
        connect(&point->service, &MqttSyncDBService::connectChanged, &listener, [&] {
            const int reported = ++changes;
            const qsizetype attempt = reported / 2;
            if (reported % 2 == 0 || attempt >= delays.size())
                return;
            const int delay = delays.at(attempt);
            waits.append(QString::number(delay));
            QTimer::singleShot(delay * 9 / 10, Qt::PreciseTimer, &listener, [&, reported, attempt] {
                if (changes > reported)
                    waits[attempt] += QStringLiteral(" too soon");
            });
            QTimer::singleShot(
                delay * 11 / 10, Qt::PreciseTimer, &listener, [&, reported, attempt] {
                    if (!waits[attempt].contains(u' '))
                        waits[attempt] += changes > reported ? " on time" : " late";
                    ++judged;
                });
        });

        point->broker.stop();
        QTRY_COMPARE_WITH_TIMEOUT(judged, delays.size(), TestEnvironment::patienceMs);
        QStringList expected;
        for (const int delay : std::as_const(delays))
            expected.append(QStringLiteral("%1 on time").arg(delay));
        QCOMPARE(waits, expected);
        QVERIFY2(point->broker.start(), qPrintable(point->broker.errorString()));
        QTRY_VERIFY_WITH_TIMEOUT(point->service.isConnected(), TestEnvironment::patienceMs);
        QVERIFY(point->listening());
        QCOMPARE(interrupted.size(), 1);
        QCOMPARE(resumed.size(), 1);
        // One subscription: the push is handled exactly once.
        QSignalSpy orderInserts(&point->env.orderModel, &QAbstractItemModel::rowsInserted);
        QVERIFY(publish(point->topic() + "/order", "o-1"));
        QVERIFY(point->listening());
        QCOMPARE(orderInserts.size(), 1);
    }

    void rePairingMovesTheSubscription_data()
    {
        QTest::addColumn<QString>("domain");
        QTest::addColumn<bool>("runAgain");
        QTest::addColumn<bool>("otherBroker");
        QTest::newRow("other account, run() again") << "beta" << true << false;
        QTest::newRow("other point while running") << "acme" << false << false;
        QTest::newRow("other account at another broker") << "beta" << true << true;
    }

    void rePairingMovesTheSubscription()
    {
        QFETCH(QString, domain);
        QFETCH(bool, runAgain);
        QFETCH(bool, otherBroker);
        start();
        const QString oldTopic = point->topic() + "/order";
        LogCapture log;
        // The board is wiped: no account, no subscription, not even to the point's topic alone.
        point->env.domain.set(QString());
        QVERIFY(!QTest::qWaitFor(
            [&] {
                return !publish("/point/7/order", "o-wiped") || point->env.orderModel.rowCount();
            },
            500));
        // It is paired with point 9 of an account, whose broker may be another one.
        MosquittoBroker second(QStringLiteral("beta-board"), QStringLiteral("beta-pass"));
        MosquittoBroker *broker = otherBroker ? &second : &point->broker;
        QVERIFY(!otherBroker || second.start());
        point->pair(domain, 9, point->config(60000, broker));
        if (runAgain)
            point->service.run();
        // At once: the reconnect timer (one minute here) is not waited for.
        QTRY_VERIFY_WITH_TIMEOUT(point->service.isConnected(), TestEnvironment::patienceMs);
        // Pushes to the old point, before and after the new one is heard, never arrive.
        for (int i = 0; i < 2; ++i) {
            QVERIFY(publish(oldTopic, "o-old"));
            QVERIFY(point->listening(point->topic(), broker));
        }
        QCOMPARE(point->env.orderModel.rowCount(), 0);
        QCOMPARE(TestDatabase::textColumn("SELECT uuid FROM 'order'"), QStringList());
        // The old subscription is gone, not merely filtered.
        for (const LogCapture::Entry &entry : log.atLevel(2))
            QVERIFY2(!entry.message.contains("outside the point"), qPrintable(entry.message));
    }

    void stopKeepsTheServiceDisconnected()
    {
        start(100);
        QSignalSpy changed(&point->service, &MqttSyncDBService::connectChanged);
        point->service.stop();
        QVERIFY(!point->service.isConnected());
        // Neither the reconnect timer nor new settings bring it back.
        point->env.domain.set("other");
        QVERIFY(!QTest::qWaitFor([&] { return changed.size() > 1; }, 500));
        point->service.run();
        QVERIFY(point->listening());
    }
};

QTEST_GUILESS_MAIN(TestMqttSyncDBService)
#include "tst_mqttsyncdbservice.moc"
