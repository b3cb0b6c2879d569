#pragma once

#include "services/iservice.h"

#include <QFuture>
#include <QList>
#include <QSqlRecord>
#include <QString>
#include <QtGlobal>

#include <atomic>

class AppEnv;

// Captures everything the program logs while an instance exists: Qt's message stream and the
// logger's sink. Every line is echoed to standard output; a line at or above the threshold is
// also stored as a row of table logs, from which the log upload sends it to the server.
class ILogService : public IService
{
    Q_OBJECT

public:
    explicit ILogService(AppEnv *env, QObject *parent = nullptr);
    ~ILogService() override;

    // Qt's message handler: the level comes from the message type.
    static void messageHandler(
        QtMsgType type, const QMessageLogContext &context, const QString &message);
    // The logger's sink, with Logger::debugInfo's parameters.
    static void messageHandlerV2(
        const QString &message, const char *file, const char *function, int line, int level);
    static void logToConsole(int level, const QString &message);

    // The unsent rows, oldest first and at most uploadBatch of them, read on the pool thread that
    // ran the statement.
    [[nodiscard]] static QFuture<QList<QSqlRecord>> queryLogs();

    // Lines captured until now and not stored yet are never stored: the wipe removes the account
    // they belong to. Returns once no such line is being stored or marked sent. Lines captured
    // from now on are stored as usual.
    static void forgetUnstoredLines();

    // The account's lines as they are now: an upload takes it before it reads the rows it sends.
    static quint64 currentLines();
    // Marks the rows whose ids the JSON array holds sent, on a pool thread, unless
    // forgetUnstoredLines() has come since `lines` was taken: the ids then name the next
    // account's rows, which are still to be sent. Fails with DBException.
    [[nodiscard]] static QFuture<void> markSent(const QString &idArray, quint64 lines);

    // Storage threshold: a line is stored when lvlToWrite <= its level. Every logging thread
    // reads it; the log upload changes it.
    static std::atomic<int> lvlToWrite;

    // A long outage must not turn into one huge upload.
    static constexpr int uploadBatch = 1000;

protected:
    AppEnv *env;

private:
    static void capture(
        int level, const QString &message, const char *file, const char *function, int line);
    static void store(
        int level, const QString &message, const char *file, const char *function, int line);
};
