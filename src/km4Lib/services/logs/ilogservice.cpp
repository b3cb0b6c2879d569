#include "ilogservice.h"

#include "shared/appexception.h"
#include "shared/asyncsqlquery.h"
#include "shared/logger.h"

#include <QDateTime>
#include <QSqlQuery>

#include <cstdio>

namespace {

const QString insertFormat
    = QStringLiteral("INSERT INTO logs (timestamp, level, message, file, line,function, is_sync) "
                     "VALUES ('%1', %2, '%3', '%4', %5, '%6', %7)");

// A line about a failed log INSERT must not be stored: if that INSERT failed too, every failure
// would produce the next one.
bool isAboutFailedLogInsert(const QString &message)
{
    static const QString insertHead = insertFormat.left(insertFormat.indexOf(QLatin1Char('(')));
    return message.startsWith(QLatin1String("FAIL QUERY:")) && message.contains(insertHead);
}

// The text of an SQL string literal, without its outer quotes. A NUL would end the statement
// inside SQLite, so it is spliced in as char(0) and the stored text stays whole.
QString literal(QString text)
{
    text.replace(QLatin1Char('\''), QLatin1String("''"));
    text.replace(QChar(u'\0'), QLatin1String("' || char(0) || '"));
    return text;
}

QString text(const char *value)
{
    return value ? QString::fromUtf8(value) : QString();
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
        QStringLiteral("SELECT * FROM logs WHERE is_sync = 0 ORDER BY id LIMIT %1")
            .arg(uploadBatch));
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
    // All markers are replaced in one pass, so a "%1" inside a value stays text.
    const QString sql = insertFormat.arg(
        QDateTime::currentDateTime().toString(QStringLiteral("yyyy-MM-dd hh:mm:ss")),
        QString::number(level), literal(message), literal(text(file)), QString::number(line),
        literal(text(function)), QStringLiteral("0"));

    // Never through the logger or Qt's stream: a failing INSERT must not produce another line.
    // Whatever Qt itself says while the failure is reported is echoed only, for the same reason.
    auto reportFailure = [](const AppException &exception) {
        storing = true;
        const QByteArray text = (exception.message() + exception.description()).toUtf8();
        std::fwrite(text.constData(), 1, size_t(text.size()), stdout);
        std::fflush(stdout);
        storing = false;
    };
    AsyncSQLQuery::exec(sql).then([](const QSqlQuery &) {}).onFailed(reportFailure).onFailed([] {});
}
