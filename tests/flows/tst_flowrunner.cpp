#include "flows/flowrunner.h"
#include "flows/iflow.h"
#include "jscallback.h"
#include "shared/dbexception.h"

#include <QPromise>
#include <QSqlError>
#include <QTest>
#include <QThread>
#include <QtConcurrent>

#include <stdexcept>

namespace {

// A flow that ends the way a test tells it to and counts its own deletion.
class ScriptedFlow : public IFlow
{
public:
    enum class Ending {
        Ready,
        OnPoolThread,
        FailsWithAppException,
        FailsWithOtherException,
        Cancelled,
        FinishesWithoutResult,
        RunThrowsAppException,
        RunThrowsOtherException,
    };

    ScriptedFlow(Ending ending, int *deletions)
        : IFlow(nullptr, AppServices(), QJsonObject())
        , ending(ending)
        , deletions(deletions)
    { }
    ~ScriptedFlow() override { ++*deletions; }

    QFuture<QList<QJSValue>> run() override
    {
        switch (ending) {
        case Ending::Ready:
            return ready({ QJSValue(false) });
        case Ending::OnPoolThread:
            return QtConcurrent::run([] {
                QThread::msleep(50);
                return QList<QJSValue> { QJSValue(QStringLiteral("later")),
                    QJSValue(QStringLiteral("second line")) };
            });
        case Ending::FailsWithAppException:
            return QtConcurrent::run([]() -> QList<QJSValue> {
                throw DBException(QSqlError(QString(), QString(), QSqlError::StatementError));
            });
        case Ending::FailsWithOtherException:
            return QtConcurrent::run(
                []() -> QList<QJSValue> { throw std::runtime_error("not ours"); });
        case Ending::Cancelled: {
            QPromise<QList<QJSValue>> promise;
            promise.start();
            promise.future().cancel();
            promise.finish();
            return promise.future();
        }
        case Ending::FinishesWithoutResult: {
            QPromise<QList<QJSValue>> promise;
            promise.start();
            promise.finish();
            return promise.future();
        }
        case Ending::RunThrowsAppException:
            throw DBException(QSqlError(QString(), QString(), QSqlError::StatementError));
        case Ending::RunThrowsOtherException:
            throw std::runtime_error("not ours");
        }
        return {};
    }

private:
    Ending ending;
    int *deletions;
};

} // namespace

Q_DECLARE_METATYPE(ScriptedFlow::Ending)

class tst_FlowRunner : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void answersOnceAndDeletesTheFlowOnce_data();
    void answersOnceAndDeletesTheFlowOnce();
    void withoutCallbackTheFlowIsStillDeleted();
    void anErrorInTheCallbackIsIgnored();
};

void tst_FlowRunner::answersOnceAndDeletesTheFlowOnce_data()
{
    QTest::addColumn<ScriptedFlow::Ending>("ending");
    QTest::addColumn<bool>("answeredAtOnce");
    QTest::addColumn<QVariantList>("expected");

    const QString sqlText = QStringLiteral("Синтаксическая ошибка SQL");
    const QString generic = QStringLiteral("Неизвестная ошибка");
    QTest::newRow("ready") << ScriptedFlow::Ending::Ready << true << QVariantList { false };
    QTest::newRow("finished on a pool thread")
        << ScriptedFlow::Ending::OnPoolThread << false
        << QVariantList { QStringLiteral("later"), QStringLiteral("second line") };
    QTest::newRow("future fails with our exception")
        << ScriptedFlow::Ending::FailsWithAppException << false << QVariantList { sqlText };
    QTest::newRow("future fails with another exception")
        << ScriptedFlow::Ending::FailsWithOtherException << false << QVariantList { generic };
    QTest::newRow("future cancelled")
        << ScriptedFlow::Ending::Cancelled << false << QVariantList { generic };
    QTest::newRow("future without result")
        << ScriptedFlow::Ending::FinishesWithoutResult << true << QVariantList { generic };
    QTest::newRow("run throws our exception")
        << ScriptedFlow::Ending::RunThrowsAppException << true << QVariantList { sqlText };
    QTest::newRow("run throws another exception")
        << ScriptedFlow::Ending::RunThrowsOtherException << true << QVariantList { generic };
}

void tst_FlowRunner::answersOnceAndDeletesTheFlowOnce()
{
    QFETCH(ScriptedFlow::Ending, ending);
    QFETCH(bool, answeredAtOnce);
    QFETCH(QVariantList, expected);

    JsCallback callback;
    int deletions = 0;
    FlowRunner::start(std::make_unique<ScriptedFlow>(ending, &deletions), callback.function());
    if (answeredAtOnce) {
        QCOMPARE(callback.count(), 1);
        QCOMPARE(deletions, 1);
    }
    QVERIFY(callback.waitForCalls(1));
    QCOMPARE(callback.arguments(), expected);
    QCOMPARE(callback.thread(), QThread::currentThread());
    QCOMPARE(deletions, 1);

    // Nothing further arrives later.
    QTest::qWait(100);
    QCOMPARE(callback.count(), 1);
    QCOMPARE(deletions, 1);
}

void tst_FlowRunner::withoutCallbackTheFlowIsStillDeleted()
{
    int deletions = 0;
    FlowRunner::start(
        std::make_unique<ScriptedFlow>(ScriptedFlow::Ending::OnPoolThread, &deletions), QJSValue());
    QTRY_COMPARE(deletions, 1);
    FlowRunner::start(
        std::make_unique<ScriptedFlow>(ScriptedFlow::Ending::Ready, &deletions), QJSValue());
    QCOMPARE(deletions, 2);
}

void tst_FlowRunner::anErrorInTheCallbackIsIgnored()
{
    QJSEngine engine;
    const QJSValue throwing = engine.evaluate(QStringLiteral("(function() { throw 'boom'; })"));
    QVERIFY(throwing.isCallable());
    int deletions = 0;
    FlowRunner::start(
        std::make_unique<ScriptedFlow>(ScriptedFlow::Ending::Ready, &deletions), throwing);
    QCOMPARE(deletions, 1);
}

QTEST_GUILESS_MAIN(tst_FlowRunner)
#include "tst_flowrunner.moc"
