#include "config/envvariable.h"
#include "config/pointconfig.h"
#include "config/queueconfig.h"
#include "config/singlesetenvvariable.h"

#include <QSignalSpy>
#include <QTest>

class TestEnvVariable : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void stringEmitsOnlyOnRealChange();
    void numbersKeep64Bits();
    void recordsCompareByJsonForm();
    void firstSetWinsOnce();
    void changedRunsInsideSet();
};

void TestEnvVariable::stringEmitsOnlyOnRealChange()
{
    EnvVariable<QString> variable { QStringLiteral("") };
    QSignalSpy spy(&variable, &PrivateEnvVariable::changed);
    QVERIFY(spy.isValid());

    variable.set(QString()); // null equals empty
    QCOMPARE(spy.count(), 0);
    variable.set(QStringLiteral("a"));
    variable.set(QStringLiteral("a"));
    QCOMPARE(spy.count(), 1);
    QCOMPARE(variable.value(), QStringLiteral("a"));
    variable.set(QString());
    QCOMPARE(spy.count(), 2);
    QVERIFY(variable.value().isEmpty());
}

void TestEnvVariable::numbersKeep64Bits()
{
    EnvVariable<long long> lastUpdate { 0 };
    QSignalSpy updates(&lastUpdate, &PrivateEnvVariable::changed);
    QVERIFY(updates.isValid());
    lastUpdate.set(5000000000LL);
    lastUpdate.set(5000000000LL);
    QCOMPARE(updates.count(), 1);
    QCOMPARE(lastUpdate.value(), 5000000000LL);
}

void TestEnvVariable::recordsCompareByJsonForm()
{
    EnvVariable<PointConfig> point;
    QSignalSpy spy(&point, &PrivateEnvVariable::changed);
    QVERIFY(spy.isValid());

    PointConfig zoneOnly;
    zoneOnly.timezone = QStringLiteral("Europe/Moscow");
    point.set(zoneOnly);
    QCOMPARE(spy.count(), 0);
    QVERIFY(point.value().timezone.isEmpty());

    PointConfig moved = zoneOnly;
    moved.address = QStringLiteral("Lenina 1");
    point.set(moved);
    QCOMPARE(spy.count(), 1);
    // The whole record is taken, the field outside the JSON form too.
    QCOMPARE(point.value().timezone, QStringLiteral("Europe/Moscow"));

    // A field outside the JSON form of the queue record does not count either.
    EnvVariable<QueueConfig> queue;
    QSignalSpy queueSpy(&queue, &PrivateEnvVariable::changed);
    QVERIFY(queueSpy.isValid());
    QueueConfig longer;
    longer.rotation_days = 9;
    queue.set(longer);
    QCOMPARE(queueSpy.count(), 0);
    longer.show_non_paid_orders = true;
    queue.set(longer);
    QCOMPARE(queueSpy.count(), 1);
    QCOMPARE(queue.value().rotation_days, 9);
}

void TestEnvVariable::firstSetWinsOnce()
{
    SingleSetEnvVariable<bool> flag { false };
    QSignalSpy spy(&flag, &PrivateEnvVariable::changed);
    QVERIFY(spy.isValid());
    QVERIFY(!flag.isSet());

    flag.set(false); // announced although the value stays
    QCOMPARE(spy.count(), 1);
    QVERIFY(flag.isSet());
    flag.set(true);
    QCOMPARE(spy.count(), 1);
    QCOMPARE(flag.value(), false);

    SingleSetEnvVariable<QString> host { QStringLiteral("default") };
    host.set(QStringLiteral("127.0.0.1"));
    host.set(QStringLiteral("other"));
    QCOMPARE(host.value(), QStringLiteral("127.0.0.1"));
}

void TestEnvVariable::changedRunsInsideSet()
{
    EnvVariable<QString> domain;
    QString seen;
    connect(&domain, &PrivateEnvVariable::changed, this, [&] { seen = domain.value(); });
    domain.set(QStringLiteral("cafe"));
    // The receiver has already run and saw the new value.
    QCOMPARE(seen, QStringLiteral("cafe"));
}

QTEST_GUILESS_MAIN(TestEnvVariable)
#include "tst_envvariable.moc"
