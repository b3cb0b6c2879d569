#include "logcapture.h"

#include "shared/logger.h"

#include <QMutex>

namespace {

QMutex mutex;
QList<LogCapture::Entry> captured;

void sink(const QString &message, const char *file, const char *function, int, int level)
{
    const QMutexLocker locker(&mutex);
    captured.append({ message, QString::fromUtf8(file), QString::fromUtf8(function), level });
}

} // namespace

LogCapture::LogCapture()
{
    clear();
    Logger::writeToDb.store(&sink);
}

LogCapture::~LogCapture()
{
    Logger::writeToDb.store(nullptr);
}

QList<LogCapture::Entry> LogCapture::entries() const
{
    const QMutexLocker locker(&mutex);
    return captured;
}

QList<LogCapture::Entry> LogCapture::atLevel(int level) const
{
    QList<Entry> result;
    for (const Entry &entry : entries()) {
        if (entry.level == level)
            result.append(entry);
    }
    return result;
}

void LogCapture::clear()
{
    const QMutexLocker locker(&mutex);
    captured.clear();
}
