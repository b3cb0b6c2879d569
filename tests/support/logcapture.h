#pragma once

#include "shared/logger.h"

#include <QList>
#include <QMutex>
#include <QString>

// Collects the messages written with Logger::debugInfo while it exists, from any thread, by
// installing itself as the logger's sink. One capture at a time.
class LogCapture
{
    Q_DISABLE_COPY(LogCapture)

public:
    struct Entry
    {
        QString message;
        int level = 0;
    };

    LogCapture()
    {
        const QMutexLocker locker(&s_mutex);
        s_captured.clear();
        Logger::writeToDb.store(&sink);
    }
    ~LogCapture() { Logger::writeToDb.store(nullptr); }

    QList<Entry> entries() const
    {
        const QMutexLocker locker(&s_mutex);
        return s_captured;
    }
    QList<Entry> atLevel(int level) const
    {
        QList<Entry> result = entries();
        result.removeIf([level](const Entry &entry) { return entry.level != level; });
        return result;
    }

private:
    static void sink(const QString &message, const char *, const char *, int, int level)
    {
        const QMutexLocker locker(&s_mutex);
        s_captured.append({ message, level });
    }

    static inline QMutex s_mutex;
    static inline QList<Entry> s_captured;
};
