#include "shared/appexception.h"
#include "shared/dbexception.h"
#include "shared/kmapiexception.h"
#include "shared/networkexception.h"

#include <QFuture>
#include <QJsonObject>
#include <QSqlError>
#include <QTest>
#include <QtConcurrent>

class TestExceptions : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void dbMessages_data();
    void dbMessages();
    void networkMessages_data();
    void networkMessages();
    void apiMessages_data();
    void apiMessages();
    void dynamicTypeSurvivesPoolThread();
    void cloneKeepsEveryMember();
};

void TestExceptions::dbMessages_data()
{
    QTest::addColumn<int>("type");
    QTest::addColumn<QString>("message");
    QTest::newRow("none") << int(QSqlError::NoError) << "Неизвестная ошибка базы данных";
    QTest::newRow("connection") << int(QSqlError::ConnectionError) << "Ошибка подключения к базе данных";
    QTest::newRow("statement") << int(QSqlError::StatementError) << "Синтаксическая ошибка SQL";
    QTest::newRow("transaction") << int(QSqlError::TransactionError) << "Ошибка транзакции";
    QTest::newRow("unknown") << int(QSqlError::UnknownError) << "Ошибка подключения к базе данных";
}

void TestExceptions::dbMessages()
{
    QFETCH(int, type);
    QFETCH(QString, message);
    const DBException e(QSqlError(QStringLiteral("driver"), QStringLiteral("db"),
                                  QSqlError::ErrorType(type)));
    QCOMPARE(e.message(), message);
    QCOMPARE(e.description(), QSqlError(QStringLiteral("driver"), QStringLiteral("db"),
                                        QSqlError::ErrorType(type)).text());
}

void TestExceptions::networkMessages_data()
{
    QTest::addColumn<int>("code");
    QTest::addColumn<QString>("message");
    // The first letter of the first two texts is a Latin C.
    QTest::newRow("refused") << 1 << "C\u0435рвер отказал в подключении";
    QTest::newRow("timeout") << 4 << "Время ожидания подключения к серверу истекло";
    QTest::newRow("temporary") << 7 << "Соединение было прервано из-за отключения от сети";
    QTest::newRow("session") << 8 << "Соединение было прервано из-за отключения от сети";
    QTest::newRow("proxy timeout") << 104 << "Время ожидания подключения к прокси-серверу истекло,";
    QTest::newRow("gone") << 207 << "запрошенный ресурс больше не доступен на сервере";
    QTest::newRow("internal") << 401 << "Внутрення ошибка сервера";
    QTest::newRow("no error") << 0 << "Неизвестная ошибка сети";
    // Unnamed, yet inside the range the enumeration can hold (larger values are undefined).
    QTest::newRow("unnamed code") << 450 << "Неизвестная ошибка сети";
}

void TestExceptions::networkMessages()
{
    QFETCH(int, code);
    QFETCH(QString, message);
    const NetworkException e{QNetworkReply::NetworkError(code)};
    QCOMPARE(e.message(), message);
    QVERIFY(e.description().isEmpty());
    QCOMPARE(e.message().at(0) == QLatin1Char('C'), code == 1 || code == 2);
}

void TestExceptions::apiMessages_data()
{
    QTest::addColumn<QJsonObject>("body");
    QTest::addColumn<int>("code");
    QTest::addColumn<QString>("message");
    QTest::addColumn<QString>("description");
    QTest::newRow("1001") << QJsonObject{{"code", 1001}, {"message", "uuid"}} << 1001
                          << "Требуется uuid" << "uuid";
    QTest::newRow("1002") << QJsonObject{{"code", 1002}} << 1002
                          << "Запрос на регистрацию уже отправлен" << "";
    QTest::newRow("1003") << QJsonObject{{"code", 1003}} << 1003
                          << "Терминал с таким uuid уже зарегистрирован в системе" << "";
    QTest::newRow("code as text") << QJsonObject{{"code", "1001"}} << 0
                                  << "Неизвестная ошибка апи" << "";
    QTest::newRow("empty body") << QJsonObject{} << 0 << "Неизвестная ошибка апи" << "";
    QTest::newRow("message not text") << QJsonObject{{"code", 7}, {"message", 5}} << 7
                                      << "Неизвестная ошибка апи" << "";
}

void TestExceptions::apiMessages()
{
    QFETCH(QJsonObject, body);
    QFETCH(int, code);
    QFETCH(QString, message);
    QFETCH(QString, description);
    // The network code plays no part in the texts of a server error.
    const KMAPIException e(QNetworkReply::ContentNotFoundError, body);
    QCOMPARE(e.code(), code);
    QCOMPARE(e.message(), message);
    QCOMPARE(e.description(), description);
}

void TestExceptions::dynamicTypeSurvivesPoolThread()
{
    QFuture<int> future = QtConcurrent::run([]() -> int {
        throw KMAPIException(QNetworkReply::InternalServerError,
                             QJsonObject{{"code", 1003}, {"message", "taken"}});
    });
    QString seen;
    QFuture<int> handled = future.onFailed([&](const AppException &e) {
        if (auto api = dynamic_cast<const KMAPIException *>(&e))
            seen = QStringLiteral("%1 %2 %3 %4")
                       .arg(api->code())
                       .arg(int(api->networkError()))
                       .arg(e.message(), e.description());
        return 0;
    });
    handled.waitForFinished();
    QCOMPARE(seen,
        QStringLiteral("1003 %1 Терминал с таким uuid уже зарегистрирован в системе taken")
            .arg(int(QNetworkReply::InternalServerError)));
}

void TestExceptions::cloneKeepsEveryMember()
{
    const DBException db(QSqlError(QStringLiteral("d"), QStringLiteral("t"),
                                   QSqlError::StatementError));
    std::unique_ptr<AppException> copy(db.clone());
    QVERIFY(dynamic_cast<DBException *>(copy.get()));
    QCOMPARE(copy->message(), db.message());
    QCOMPARE(copy->description(), db.description());
    QVERIFY_THROWS_EXCEPTION(DBException, copy->raise());
}

QTEST_GUILESS_MAIN(TestExceptions)
#include "tst_exceptions.moc"
