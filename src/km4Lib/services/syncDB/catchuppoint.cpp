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
    if (loaded)
        return;
    QString stored;
    try {
        stored = ENVRepo::selectENV(key);
    } catch (const AppException &exception) {
        // Not "no point": that would let the next write replace the stored one.
        if (!std::exchange(current.unread, true))
            KM4_LOG(2, "the point to catch up from is not read:", exception.description());
        return;
    }
    loaded = true;
    current.unread = false;
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
    ++current.opened;
    if (since <= 0)
        return;
    const std::optional<qint64> before = current.since;
    current.since = before ? std::min(*before, since) : since;
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
    if (!stored || began.account != current.account)
        return;
    coveredUnread(began);
    // A gap opened meanwhile goes on from where it stands.
    if (began.opened != current.opened)
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
        coveredUnread(began);
    }
    const std::pair<QString, QString> lastUpdate { QStringLiteral("last_update"),
        QString::number(timestamp) };
    if (current.unread)
        return write({ lastUpdate });
    return write({ lastUpdate, { key, pointText() } });
}

void CatchUpPoint::coveredUnread(const State &began)
{
    // It asked for every change a point it could not read might have named.
    if (began.unread) {
        loaded = true;
        current.unread = false;
    }
}

void CatchUpPoint::forget()
{
    const QMutexLocker locker(&mutex);
    ++current.account;
    current.since.reset();
    current.pushesArrive = false;
    // The stored point goes with the account's data.
    loaded = true;
    current.unread = false;
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
    // A stored point that could not be read is older than any gap of this run: it stays.
    if (!current.unread)
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
