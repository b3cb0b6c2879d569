#pragma once

#include <QList>
#include <QString>

// Collects the messages written with Logger::debugInfo while it exists, from any thread, by
// installing itself as the logger's sink. One capture at a time.
class LogCapture
{
public:
    struct Entry
    {
        QString message;
        QString file;
        QString function;
        int level = 0;
    };

    LogCapture();
    ~LogCapture();

    LogCapture(const LogCapture &) = delete;
    LogCapture &operator=(const LogCapture &) = delete;

    QList<Entry> entries() const;
    // The entries at exactly this level.
    QList<Entry> atLevel(int level) const;
    void clear();
};
