#include "catchuppoint.h"

#include "config/envrepo.h"
#include "shared/appexception.h"
#include "shared/logger.h"

#include <QMutexLocker>

#include <algorithm>

const QString CatchUpPoint::key = QStringLiteral("catch_up_since");

void CatchUpPoint::load()
{
    const QMutexLocker locker(&mutex);
    loadLocked();
}

void CatchUpPoint::loadLocked()
{
    if (std::exchange(loaded, true))
        return;
    QString stored;
    try {
        stored = ENVRepo::selectENV(key);
    } catch (const AppException &exception) {
        KM4_LOG(2, "the point to catch up from is not read:", exception.description());
        return;
    }
    bool ok = false;
    const qint64 since = stored.toLongLong(&ok);
    if (!ok || since <= 0)
        return; // nothing was missing, or a board from before the point was kept
    current.since = current.since ? std::min(*current.since, since) : since;
    KM4_LOG(1, "changes since", since, "are caught up on");
}

CatchUpPoint::State CatchUpPoint::state()
{
    const QMutexLocker locker(&mutex);
    loadLocked();
    return current;
}

void CatchUpPoint::open(qint64 since)
{
    const QMutexLocker locker(&mutex);
    loadLocked();
    openLocked(since);
}

void CatchUpPoint::openIfNone(qint64 since)
{
    const QMutexLocker locker(&mutex);
    loadLocked();
    if (!current.since)
        openLocked(since);
}

void CatchUpPoint::openLocked(qint64 since)
{
    const std::optional<qint64> before = current.since;
    current.since = before ? std::min(*before, since) : since;
    ++current.opened;
    if (current.since != before)
        storePoint();
}

void CatchUpPoint::setPushesArrive(bool arrive)
{
    const QMutexLocker locker(&mutex);
    current.pushesArrive = arrive;
}

void CatchUpPoint::caughtUp(const State &began, qint64 timestamp, bool stored)
{
    const QMutexLocker locker(&mutex);
    // Rows not stored are asked for again from where the gap stands.
    if (!stored || began.account != current.account || began.opened != current.opened)
        return;
    if (began.pushesArrive && current.pushesArrive)
        current.since.reset();
    else
        current.since = timestamp;
}

VoidFuture CatchUpPoint::synchronised(const State &began, qint64 timestamp, bool first)
{
    const QMutexLocker locker(&mutex);
    if (began.account != current.account)
        return QtFuture::makeReadyFuture();
    if (first) {
        current.since = began.opened == current.opened || !current.since
            ? timestamp
            : std::min(*current.since, timestamp);
    }
    return write(
        { { QStringLiteral("last_update"), QString::number(timestamp) }, { key, pointText() } });
}

void CatchUpPoint::forget()
{
    const QMutexLocker locker(&mutex);
    ++current.account;
    current.since.reset();
    current.pushesArrive = false;
    // The stored point goes with the account's data.
    loaded = true;
}

void CatchUpPoint::waitForWrites()
{
    VoidFuture pending;
    {
        const QMutexLocker locker(&mutex);
        pending = lastWrite;
    }
    try {
        pending.waitForFinished();
    } catch (...) {
        // A failed write has ended too.
    }
}

void CatchUpPoint::storePoint()
{
    (void)write({ { key, pointText() } });
}

VoidFuture CatchUpPoint::write(const QList<std::pair<QString, QString>> &settings)
{
    lastWrite = ENVRepo::insertENVInOrder(settings);
    return lastWrite;
}

QString CatchUpPoint::pointText() const
{
    return current.since ? QString::number(*current.since) : QString(QLatin1String(""));
}
