#include "services/kmapi/timezoneapi.h"

#include "fakeserver.h"
#include "futurewait.h"
#include "testdatabase.h"
#include "testenvironment.h"

#include <QLoggingCategory>
#include <QTest>

class TestTimezoneApi : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void init();
    void cleanup();

    void requestFormat_data();
    void requestFormat();
    void answers_data();
    void answers();
    void clockDifference_data();
    void clockDifference();

private:
    std::unique_ptr<FakeServer> server;
};

void TestTimezoneApi::initTestCase()
{
    TestEnvironment::init();
    QLoggingCategory::setFilterRules(QStringLiteral("default.debug=false"));
    server = std::make_unique<FakeServer>();
    QVERIFY(server->isListening());
}

void TestTimezoneApi::init()
{
    TimezoneApi::setServiceHost(server->timeZoneHost());
    server->resetAnswers();
    server->clearRequests();
}

void TestTimezoneApi::cleanup()
{
    TimezoneApi::setServiceHost(QString());
    TestDatabase::drainThreadPool();
}

void TestTimezoneApi::requestFormat_data()
{
    QTest::addColumn<QString>("zone");
    QTest::newRow("region") << QStringLiteral("Europe/Moscow");
    QTest::newRow("plus sign stays a plus") << QStringLiteral("Etc/GMT+3");
    QTest::newRow("empty") << QString();
}

void TestTimezoneApi::requestFormat()
{
    QFETCH(QString, zone);

    QFuture<TimezoneResponce> future = TimezoneApi().requestTime(zone);
    QVERIFY(waitFor(future)); // a failure would throw from result()

    const QList<RecordedRequest> requests = server->requests();
    QCOMPARE(requests.size(), 1);
    const RecordedRequest &r = requests.first();
    QCOMPARE(r.method, QByteArray("GET"));
    QCOMPARE(r.path, FakeServer::TimeZonePath);
    QCOMPARE(r.header("Content-Type"), QByteArray("application/json"));
    const QList<QPair<QString, QString>> expected { { "format", "json" }, { "by", "zone" },
        { "zone", zone }, { "key", "QX4BPW7NRK2M" } };
    QCOMPARE(r.queryItems(), expected);
    QCOMPARE(future.result().zoneName(), zone);
}

void TestTimezoneApi::answers_data()
{
    QTest::addColumn<FakeServer::Answer>("answer");
    QTest::addColumn<QDateTime>("dateTime");
    QTest::addColumn<QString>("zoneName");

    const QDateTime wall(QDate(2026, 3, 1), QTime(9, 30, 15));
    QTest::newRow("formatted time")
        << FakeServer::timeZone(wall, "Asia/Omsk") << wall << QStringLiteral("Asia/Omsk");
    QTest::newRow("not json") << FakeServer::raw("<html>ok</html>", 200, "text/html") << QDateTime()
                              << QString();
    QTest::newRow("other time format")
        << FakeServer::json({ { "formatted", "01.03.2026 09:30" }, { "zoneName", "UTC" } })
        << QDateTime() << QStringLiteral("UTC");
}

void TestTimezoneApi::answers()
{
    QFETCH(FakeServer::Answer, answer);
    QFETCH(QDateTime, dateTime);
    QFETCH(QString, zoneName);

    server->setAnswer(FakeServer::TimeZonePath, answer);
    QFuture<TimezoneResponce> future = TimezoneApi().requestTime(QStringLiteral("Asia/Omsk"));
    QVERIFY(waitFor(future));
    const TimezoneResponce response = future.result();
    QCOMPARE(response.dateTime(), dateTime);
    QCOMPARE(response.dateTime().timeSpec(), Qt::LocalTime);
    QCOMPARE(response.zoneName(), zoneName);
    if (!dateTime.isValid())
        QVERIFY(!response.isDiffMoreOneHour());
}

void TestTimezoneApi::clockDifference_data()
{
    QTest::addColumn<qint64>("serviceAheadSecs");
    QTest::addColumn<bool>("warns");
    QTest::newRow("an hour ahead") << qint64(3600) << false;
    QTest::newRow("an hour behind") << qint64(-3600) << false;
    QTest::newRow("an hour and a second ahead") << qint64(3601) << true;
    QTest::newRow("an hour and a second behind") << qint64(-3601) << true;
}

void TestTimezoneApi::clockDifference()
{
    QFETCH(qint64, serviceAheadSecs);
    QFETCH(bool, warns);

    const QDateTime device(QDate(2026, 12, 6), QTime(12, 0, 0));
    const QDateTime service = device.addSecs(serviceAheadSecs);
    const TimezoneResponce response(
        QJsonObject { { "formatted", service.toString(QStringLiteral("yyyy-MM-dd hh:mm:ss")) } });
    QCOMPARE(response.isDiffMoreOneHour(device), warns);
}

QTEST_GUILESS_MAIN(TestTimezoneApi)
#include "tst_timezoneapi.moc"
