#include "logservice.h"

#include "config/timerinterval.h"
#include "core/appenv.h"
#include "shared/appexception.h"
#include "shared/asyncsqlquery.h"
#include "shared/kmapi.h"
#include "shared/logger.h"

#include <QJsonArray>
#include <QJsonObject>
#include <QSqlRecord>

namespace {

constexpr int defaultUploadPeriodMs = 30000;
// Puts the threshold out of reach of every level while the upload is disabled.
constexpr int storageOff = 100;

// The rows one upload sends, with their ids, which belong to that upload alone.
struct Batch
{
    QList<int> ids;
    QJsonArray body;
};

Batch toBatch(const QList<QSqlRecord> &rows)
{
    Batch batch;
    batch.ids.reserve(rows.size());
    for (const QSqlRecord &row : rows) {
        batch.ids.append(row.value(QStringLiteral("id")).toInt());
        batch.body.append(QJsonObject {
            { QStringLiteral("timestamp"), row.value(QStringLiteral("timestamp")).toString() },
            { QStringLiteral("level"), row.value(QStringLiteral("level")).toInt() },
            { QStringLiteral("message"), row.value(QStringLiteral("message")).toString() },
            { QStringLiteral("file"), row.value(QStringLiteral("file")).toString() },
            { QStringLiteral("line"), row.value(QStringLiteral("line")).toInt() },
            { QStringLiteral("function"), row.value(QStringLiteral("function")).toString() },
        });
    }
    return batch;
}

} // namespace

LogService::LogService(KMAPI *api, AppEnv *env, QObject *parent)
    : ILogService(env, parent)
    , api(api)
    , currentUpload(QtFuture::makeReadyFuture())
{
    connect(&env->isOnline, &PrivateEnvVariable::changed, this, [this] {
        if (!stopped)
            run();
    });
    connect(&timer, &QTimer::timeout, this, &LogService::update);
}

LogService::~LogService()
{
    timer.stop();
    try {
        currentUpload.waitForFinished();
    } catch (...) {
        // A failure of another kind ends the upload; there is nothing left to wait for.
    }
}

void LogService::run()
{
    stopped = false;
    if (!env->isOnline.value()) {
        timer.stop();
        return;
    }
    update();
    timer.start(
        TimerInterval::orDefault(env->logConfig.value().period_push_ms, defaultUploadPeriodMs));
}

void LogService::stop()
{
    stopped = true;
    timer.stop();
}

void LogService::update()
{
    const LogConfig config = env->logConfig.value();
    if (!config.enabled) {
        lvlToWrite = storageOff;
        return;
    }
    lvlToWrite = config.push_lvl;
    if (!currentUpload.isFinished())
        return;

    KMAPI *const api = this->api;
    // Taken before the rows are read: an upload whose rows were the wiped account's marks nothing.
    const quint64 lines = currentLines();
    currentUpload
        = queryLogs()
              .then([](const QList<QSqlRecord> &rows) {
                  KM4_LOG_SCOPE();
                  return toBatch(rows);
              })
              .then([api](const Batch &batch) {
                  KM4_LOG_SCOPE();
                  if (batch.body.isEmpty())
                      return QtFuture::makeReadyFuture(batch);
                  return api->requestSendLogs(batch.body).then([batch](const QJsonObject &) {
                      return batch;
                  });
              })
              .unwrap()
              .then([lines](const Batch &batch) {
                  KM4_LOG_SCOPE();
                  // The ids go as one bound JSON array: one placeholder whatever the batch size.
                  return markSent(
                      QLatin1Char('[') + join(batch.ids, QStringLiteral(",")) + QLatin1Char(']'),
                      lines);
              })
              .unwrap()
              .then([] { KM4_LOG(0, "logs sent"); })
              .onFailed([this](const AppException &exception) {
                  KM4_LOG(2, exception.message(), exception.description());
                  Q_EMIT push(PushFailure,
                      ILogService::tr("Не удалось отправить логи: %1").arg(exception.message()));
              });
}

QString LogService::join(const QList<int> &values, const QString &separator)
{
    QString text;
    for (qsizetype i = 0; i < values.size(); ++i) {
        if (i > 0)
            text += separator;
        text += QString::number(values.at(i));
    }
    return text;
}
