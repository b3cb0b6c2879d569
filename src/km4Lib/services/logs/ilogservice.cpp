#include "ilogservice.h"

#include "shared/appexception.h"
#include "shared/asyncsqlquery.h"
#include "shared/logger.h"
#include "shared/sqlvalue.h"

#include <QDateTime>
#include <QReadWriteLock>
#include <QSqlQuery>
#include <QtConcurrent>

#include <atomic>
#include <cstdio>

namespace {

const QString insertStatement
    = QStringLiteral("INSERT INTO logs (timestamp, level, message, file, line,function, is_sync) "
                     "VALUES (?, ?, ?, ?, ?, ?, 0)");

// A line about a failed log INSERT must not be stored: if that INSERT failed too, every failure
// would produce the next one.
bool isAboutFailedLogInsert(const QString &message)
{
    static const QString insertHead
        = insertStatement.left(insertStatement.indexOf(QLatin1Char('(')));
    return message.startsWith(QLatin1String("FAIL QUERY:")) && message.contains(insertHead);
}

// Never null: Qt binds a null text as NULL, and the columns want a text.
QString text(const char *value)
{
    return QString::fromUtf8(value ? value : "");
}

int levelOf(QtMsgType type)
{
    switch (type) {
    case QtDebugMsg:
        return 0;
    case QtInfoMsg:
        return 1;
    case QtWarningMsg:
        return 2;
    case QtCriticalMsg:
        return 3;
    case QtFatalMsg:
        return 4;
    }
    return 0;
}

// Set while this thread hands a line to the database; whatever that logs itself is echoed only.
thread_local bool storing = false;

// A line is stored only in the era it was captured in: forgetUnstoredLines() moves to the next
// era once no line is being stored, and the lines of the earlier era still on their way are
// dropped. The era changes under the write lock; a line is checked and stored under the read lock.
QReadWriteLock eraLock;
std::atomic<quint64> era { 0 };

// Never through the logger or Qt's stream: a failing INSERT must not produce another line.
// Whatever Qt itself says while the failure is reported is echoed only, for the same reason.
void reportFailure(const AppException &exception)
{
    storing = true;
    const QByteArray text = (exception.message() + exception.description()).toUtf8();
    std::fwrite(text.constData(), 1, size_t(text.size()), stdout);
    std::fflush(stdout);
    storing = false;
}

// Runs the statement under the read lock, unless the era has moved on since `capturedIn`.
bool executeInEra(quint64 capturedIn, const QString &sql, const QVariantList &values)
{
    const QReadLocker locker(&eraLock);
    if (capturedIn != era.load())
        return false;
    AsyncSQLQuery::execute(sql, values).finish();
    return true;
}

// On a pool thread.
void storeLine(const QVariantList &values, quint64 capturedIn)
{
    try {
        executeInEra(capturedIn, insertStatement, values);
    } catch (const AppException &exception) {
        reportFailure(exception);
    }
}

} // namespace

std::atomic<int> ILogService::lvlToWrite { 2 };

ILogService::ILogService(AppEnv *env, QObject *parent)
    : IService(parent)
    , env(env)
{
    qInstallMessageHandler(&ILogService::messageHandler);
    Logger::writeToDb = &ILogService::messageHandlerV2;
}

ILogService::~ILogService()
{
    qInstallMessageHandler(nullptr);
    Logger::writeToDb = nullptr;
}

void ILogService::messageHandler(
    QtMsgType type, const QMessageLogContext &context, const QString &message)
{
    capture(levelOf(type), message, context.file, context.function, context.line);
}

void ILogService::messageHandlerV2(
    const QString &message, const char *file, const char *function, int line, int level)
{
    capture(level, message, file, function, line);
}

void ILogService::logToConsole(int level, const QString &message)
{
    Q_UNUSED(level)
    // One write per line keeps lines of different threads from being cut into each other.
    const QByteArray line = message.toUtf8() + '\n';
    std::fwrite(line.constData(), 1, size_t(line.size()), stdout);
    std::fflush(stdout);
}

QFuture<QList<QSqlRecord>> ILogService::queryLogs()
{
    return AsyncSQLQuery::select(
        QStringLiteral("SELECT * FROM logs WHERE is_sync = 0 ORDER BY id LIMIT ?"),
        { uploadBatch });
}

void ILogService::capture(
    int level, const QString &message, const char *file, const char *function, int line)
{
    logToConsole(level, message);
    if (lvlToWrite.load() > level || storing || isAboutFailedLogInsert(message))
        return;
    storing = true;
    store(level, message, file, function, line);
    storing = false;
}

void ILogService::store(
    int level, const QString &message, const char *file, const char *function, int line)
{
    // A lone surrogate in the message is repaired silently: a line about it would come here too.
    QVariant stored = message.isNull() ? QString(QLatin1String("")) : message;
    SqlValue::repair(stored);
    const QVariantList values { QDateTime::currentDateTime().toString(
                                    QStringLiteral("yyyy-MM-dd hh:mm:ss")),
        level, stored, text(file), line, text(function) };

    (void)QtConcurrent::run(storeLine, values, era.load());
}

void ILogService::forgetUnstoredLines()
{
    const QWriteLocker locker(&eraLock);
    ++era;
}

quint64 ILogService::currentLines()
{
    return era.load();
}

QFuture<void> ILogService::markSent(const QString &idArray, quint64 lines)
{
    return QtConcurrent::run([idArray, lines] {
        if (!executeInEra(lines,
                QStringLiteral(
                    "UPDATE logs SET is_sync = 1 WHERE id IN (SELECT value FROM json_each(?))"),
                { idArray }))
            KM4_LOG(1, "log lines sent before the wipe are not marked");
    });
}
