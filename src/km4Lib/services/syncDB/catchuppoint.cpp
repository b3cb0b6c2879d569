#include "catchuppoint.h"

#include "config/envrepo.h"
#include "shared/appexception.h"
#include "shared/logger.h"

#include <QMutexLocker>

#include <algorithm>

const QString CatchUpPoint::key = QStringLiteral("catch_up_since");

namespace {

const QString lastUpdateKey = QStringLiteral("last_update");

} // namespace

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
    QString synchronised;
    try {
        stored = ENVRepo::selectENV(key);
        synchronised = ENVRepo::selectENV(lastUpdateKey);
    } catch (const AppException &exception) {
        // Not "no point": that would let the next write replace the stored one.
        if (!std::exchange(current.unread, true))
            KM4_LOG(2, "the point to catch up from is not read:", exception.description());
        return;
    }
    loaded = true;
    current.unread = false;
    lastUpdate = std::max<qint64>(synchronised.toLongLong(), 0);
    std::optional<qint64> since;
    if (!stored.isEmpty()) {
        bool ok = false;
        since = std::max<qint64>(stored.toLongLong(&ok), 0);
        if (!ok)
            KM4_LOG(
                2, "the point to catch up from is unusable, every change is asked for:", stored);
        else
            KM4_LOG(1, "changes since", *since, "are caught up on");
    } else if (lastUpdate == 0) {
        since = 0; // nothing synchronised yet
    }
    if (since)
        current.since = current.since ? std::min(*current.since, *since) : *since;
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
    // Not "nothing missing": before the settings are loaded the caller cannot say since when, and
    // a board that has stored no synchronisation yet may miss any change.
    if (since <= 0)
        since = lastUpdate;
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
    lastUpdate = timestamp;
    const std::pair<QString, QString> stamp { lastUpdateKey, QString::number(timestamp) };
    if (current.unread)
        return write({ stamp });
    return write({ stamp, { key, pointText() } });
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
    // The next account starts with nothing synchronised.
    current.since = 0;
    lastUpdate = 0;
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
