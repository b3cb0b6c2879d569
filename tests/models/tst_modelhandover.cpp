#include "models/modelhandover.h"
#include "shared/appexception.h"

#include "futurewait.h"

#include <QTest>
#include <QtConcurrent>
#include <QThread>

// Results of pool work reach a model's thread only through its event loop.
class TestModelHandOver : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void finishedWorkIsAppliedLater();
    void poolWorkIsAppliedOnContextThread();
    void failureIsCarried();
    void goneContextCancels();
};

void TestModelHandOver::finishedWorkIsAppliedLater()
{
    QObject context;
    int applied = 0;
    const VoidFuture done
        = ModelHandOver::run(QtFuture::makeReadyFuture(5), &context, [&](QFuture<int> work) {
              applied = work.result();
          });
    // Never inside the call, even though the work had finished before it.
    QCOMPARE(applied, 0);
    QVERIFY(!done.isFinished());
    QVERIFY(waitFor(done));
    QCOMPARE(applied, 5);
    QVERIFY(!done.isCanceled());
}

void TestModelHandOver::poolWorkIsAppliedOnContextThread()
{
    QObject context;
    QThread *workThread = nullptr;
    QThread *applyThread = nullptr;
    const QFuture<int> work = QtConcurrent::run([&workThread] {
        workThread = QThread::currentThread();
        return 7;
    });
    const VoidFuture done = ModelHandOver::run(work, &context, [&](QFuture<int>) {
        applyThread = QThread::currentThread();
    });
    QVERIFY(waitFor(done));
    QVERIFY(workThread != QThread::currentThread());
    QCOMPARE(applyThread, QThread::currentThread());
}

void TestModelHandOver::failureIsCarried()
{
    QObject context;
    const VoidFuture done = ModelHandOver::run(
        QtFuture::makeReadyFuture(1), &context, [](QFuture<int>) { throw AppException(); });
    QVERIFY(waitFor(done));
    QVERIFY_THROWS_EXCEPTION(AppException, VoidFuture(done).waitForFinished());
}

void TestModelHandOver::goneContextCancels()
{
    bool applied = false;
    VoidFuture done;
    {
        QObject context;
        done = ModelHandOver::run(
            QtFuture::makeReadyFuture(1), &context, [&](QFuture<int>) { applied = true; });
    }
    QVERIFY(waitFor(done));
    QVERIFY(done.isCanceled());
    QVERIFY(!applied);
}

QTEST_GUILESS_MAIN(TestModelHandOver)
#include "tst_modelhandover.moc"
