#include "logger.h"

#include <QMessageLogger>
#include <QThread>
#include <QThreadStorage>

#include <algorithm>

namespace {

// Nesting depth of each thread; absent until first used on a thread.
QThreadStorage<int> marginStorage;

// Qt's message stream with the category "default" and an empty context.
QDebug streamFor(int level)
{
    const QMessageLogger logger(nullptr, 0, nullptr, "default");
    switch (level) {
    case 0:
        return logger.debug();
    case 1:
        return logger.info();
    case 2:
        return logger.warning();
    default:
        return logger.critical();
    }
}

} // namespace

std::atomic<Logger::Sink> Logger::writeToDb { nullptr };

Logger::Logger(const char *file, const char *function, int line)
    : file(file ? file : "")
    , function(function ? function : "")
    , line(line)
{
    if (marginStorage.hasLocalData())
        ++marginStorage.localData();
    else
        marginStorage.setLocalData(0);
    start = std::chrono::system_clock::now();

    QMessageLogger(nullptr, 0, nullptr, "default").debug()
        << getCountString().c_str() << QThread::currentThreadId() << line
        << QString::fromStdString(this->file) << QString::fromStdString(this->function);
}

Logger::~Logger()
{
    const auto elapsed = std::chrono::duration_cast<std::chrono::microseconds>(
        std::chrono::system_clock::now() - start)
                             .count();
    const qint64 micros = elapsed;

    QMessageLogger(nullptr, 0, nullptr, "default").debug()
        << getCountString().c_str() << QThread::currentThreadId() << line
        << QString::fromStdString(file) << QString::fromStdString(function)
        << "Finish time:" << micros / 1000000 << "s" << (micros / 1000) % 1000 << "ms"
        << micros % 1000 << "us";

    if (!marginStorage.hasLocalData())
        marginStorage.setLocalData(0);
    --marginStorage.localData();
}

void Logger::debugInfo(
    const QString &message, const char *file, const char *function, int line, int level)
{
    if (const Sink sink = writeToDb.load()) {
        sink(message, file, function, line, level);
        return;
    }
    if (level < 0 || level > 3)
        return;
    streamFor(level) << getCountString().c_str() << QThread::currentThreadId() << line << file
                     << function << message;
}

std::string Logger::getCountString()
{
    if (!marginStorage.hasLocalData() || marginStorage.localData() == -1)
        marginStorage.setLocalData(0);
    // Only -1 can occur below zero; never build a string of negative length.
    return std::string(2 * std::max(0, marginStorage.localData()), ' ');
}
