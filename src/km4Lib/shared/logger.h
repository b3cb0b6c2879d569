#pragma once

#include <QDebug>
#include <QString>

#include <atomic>
#include <chrono>
#include <string>

// Scope tracer and levelled message writer used everywhere in the system.
//
// A Logger opened at the top of a function writes an entry line, and when it goes out of scope an
// exit line with the time spent; lines are indented by how deeply scopes are nested on the calling
// thread. Logger::debugInfo writes one message with a level: 0 debug, 1 info, 2 warning,
// 3 critical. Scope lines always go to Qt's message stream; messages go to the sink writeToDb when
// one is installed, else to Qt's message stream.
class Logger
{
public:
    using Sink = void (*)(
        const QString &message, const char *file, const char *function, int line, int level);

    Logger(const char *file, const char *function, int line);
    ~Logger();

    Logger(const Logger &) = delete;
    Logger &operator=(const Logger &) = delete;

    static void debugInfo(
        const QString &message, const char *file, const char *function, int line, int level);

    // The indentation of the calling thread: two spaces per level of nesting.
    static std::string getCountString();

    // Installed by the log capture at start-up and cleared when it goes away; atomic because every
    // thread reads it on each message.
    static std::atomic<Sink> writeToDb;

private:
    std::string file;
    std::string function;
    int line;
    std::chrono::system_clock::time_point start;
};

// The last component of a source path ("a/b/ordermodel.cpp" -> "ordermodel.cpp"), accepting both
// kinds of separator; empty when the path ends with one.
inline std::string extractFileName(const std::string &path)
{
    const auto separator = path.find_last_of("/\\");
    return separator == std::string::npos ? path : path.substr(separator + 1);
}

// Composes a message the way every call site does: the items written through a QDebug into a
// string, so they are separated by single spaces, strings are quoted, and a trailing space stays.
template <typename... Items> QString logText(const Items &...items)
{
    QString text;
    {
        QDebug debug(&text);
        (debug << ... << items);
    }
    return text;
}

// Opens a scope trace named after the enclosing function and source file.
#define KM4_LOG_SCOPE()                                                                            \
    const Logger km4LogScope(::extractFileName(__FILE__).c_str(), __func__, __LINE__)

// Writes one message, composed from the given items, at the given level.
#define KM4_LOG(level, ...)                                                                        \
    Logger::debugInfo(                                                                             \
        ::logText(__VA_ARGS__), ::extractFileName(__FILE__).c_str(), __func__, __LINE__, (level))
