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

enum Ending {
    Ready,
    OnPoolThread,
    FailsWithOurs,
    FailsWithOther,
    Cancelled,
    NoResult,
    ThrowsOurs,
    ThrowsOther
};

DBException ours()
{
    return DBException(QSqlError(QString(), QString(), QSqlError::StatementError));
}

// A flow that ends the way a test tells it to and counts its own deletion.
class ScriptedFlow : public IFlow
{
public:
    ScriptedFlow(int ending, int *deletions)
        : IFlow(nullptr, AppServices(), QJsonObject())
        , ending(ending)
        , deletions(deletions)
    { }
    ~ScriptedFlow() override { ++*deletions; }

    QFuture<QList<QJSValue>> run() override
    {
        QPromise<QList<QJSValue>> promise;
        switch (ending) {
        case Ready:
            return ready({ QJSValue(false) });
        case OnPoolThread:
            return QtConcurrent::run([] {
                QThread::msleep(50);
                return QList<QJSValue> { QJSValue(QStringLiteral("later")),
                    QJSValue(QStringLiteral("on")) };
            });
        case FailsWithOurs:
            return QtConcurrent::run([]() -> QList<QJSValue> { throw ours(); });
        case FailsWithOther:
            return QtConcurrent::run([]() -> QList<QJSValue> { throw std::runtime_error("x"); });
        case Cancelled:
            promise.start();
            promise.future().cancel();
            promise.finish();
            return promise.future();
        case NoResult:
            promise.start();
            promise.finish();
            return promise.future();
        case ThrowsOurs:
            throw ours();
        default:
            throw std::runtime_error("x");
        }
    }

private:
    int ending;
    int *deletions;
};

} // namespace

// Nothing a flow throws leaves the runner: one answer on the GUI thread, one deletion.
class tst_FlowRunner : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void answersOnceAndDeletesTheFlowOnce_data();
    void answersOnceAndDeletesTheFlowOnce();
};

void tst_FlowRunner::answersOnceAndDeletesTheFlowOnce_data()
{
    QTest::addColumn<int>("ending");
    QTest::addColumn<QVariantList>("expected");
    const QString sqlText = QStringLiteral("Синтаксическая ошибка SQL");
    const QString generic = QStringLiteral("Неизвестная ошибка");
    QTest::newRow("ready") << int(Ready) << QVariantList { false };
    QTest::newRow("on a pool thread")
        << int(OnPoolThread) << QVariantList { QStringLiteral("later"), QStringLiteral("on") };
    QTest::newRow("future fails, ours") << int(FailsWithOurs) << QVariantList { sqlText };
    QTest::newRow("future fails, other") << int(FailsWithOther) << QVariantList { generic };
    QTest::newRow("future cancelled") << int(Cancelled) << QVariantList { generic };
    QTest::newRow("future without result") << int(NoResult) << QVariantList { generic };
    QTest::newRow("run throws ours") << int(ThrowsOurs) << QVariantList { sqlText };
    QTest::newRow("run throws other") << int(ThrowsOther) << QVariantList { generic };
}

void tst_FlowRunner::answersOnceAndDeletesTheFlowOnce()
{
    QFETCH(int, ending);
    QFETCH(QVariantList, expected);

    JsCallback callback;
    int deletions = 0;
    FlowRunner::start(std::make_unique<ScriptedFlow>(ending, &deletions), callback.function());
    QVERIFY(callback.waitForCalls(1));
    QCOMPARE(callback.arguments(), expected);
    QCOMPARE(callback.thread(), QThread::currentThread());
    QCOMPARE(deletions, 1);
    // Without a callback, or with one that throws, the flow goes all the same.
    QJSEngine engine;
    FlowRunner::start(std::make_unique<ScriptedFlow>(ending, &deletions), QJSValue());
    FlowRunner::start(std::make_unique<ScriptedFlow>(ending, &deletions),
        engine.evaluate(QStringLiteral("(function() { throw 'boom'; })")));
    QTRY_COMPARE(deletions, 3);
    QCOMPARE(callback.count(), 1);
}

QTEST_GUILESS_MAIN(tst_FlowRunner)
#include "tst_flowrunner.moc"
