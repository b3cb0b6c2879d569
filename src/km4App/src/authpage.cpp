#include "authpage.h"

#include "core/appenv.h"
#include "services/syncDB/httpsyncdbservice.h"
#include "shared/networkutils.h"

AuthPage::AuthPage(const AppEnv *env, const HttpSyncDBService *syncDBService,
    const MqttSyncDBService *, QObject *parent)
    : IPage(parent)
    , env(env)
{
    loadingTexts = {
        { QStringLiteral("config"), tr("Обновление настроек") },
        { QStringLiteral("user_general"), tr("Обновление пользователей") },
        { QStringLiteral("shift"), tr("Обновление смен") },
        { QStringLiteral("menu"), tr("Обновление меню") },
        { QStringLiteral("department"), tr("Обновление цехов") },
        { QStringLiteral("receipt"), tr("Обновление чеков") },
        { QStringLiteral("receipt_item"), tr("Обновление позиций заказов") },
        { QStringLiteral("hall"), tr("Обновление залов") },
        { QStringLiteral("table"), tr("Обновление столов") },
        { QStringLiteral("order"), tr("Обновление заказов") },
    };

    // Tables are announced from the synchronisation's pool thread; with this page as context the
    // text changes on the thread QML reads from.
    connect(syncDBService, &HttpSyncDBService::tableSyncing, this, &AuthPage::showTableSyncing);

    m_networkInfo = NetworkUtils::selectNetworkParams();

    // The facts are read live, and a binding reads one again only on infoChanged: each setting
    // behind them must announce itself, since any of them can change alone (a wipe may empty
    // just the domain).
    const PrivateEnvVariable *facts[] { &env->commonConfig, &env->queueConfig, &env->domain,
        &env->logConfig, &env->useHttps, &env->ignoreSslErrors };
    for (const PrivateEnvVariable *fact : facts)
        connect(fact, &PrivateEnvVariable::changed, this, &AuthPage::infoChanged);

    const QString version = env->version.value();
    const QString channel = env->channel.value();
    m_longVersionString =
        QStringLiteral("%1-%2-%3").arg(version, env->versionCode.value(), channel);
    m_shortVersionString =
        channel == QLatin1String("stable") ? version : m_longVersionString;
}

AuthPage::~AuthPage() = default;

int AuthPage::clientId() const
{
    return env->commonConfig.value().client_id;
}

int AuthPage::queueId() const
{
    return env->queueConfig.value().user_id;
}

QString AuthPage::domain() const
{
    return env->domain.value();
}

QString AuthPage::partner() const
{
    return env->commonConfig.value().partner_name;
}

QString AuthPage::email() const
{
    return env->commonConfig.value().partner_email;
}

QString AuthPage::supportPhone() const
{
    return env->commonConfig.value().support_phone;
}

int AuthPage::lvlPushLog() const
{
    return env->logConfig.value().push_lvl;
}

bool AuthPage::useHttps() const
{
    return env->useHttps.value();
}

bool AuthPage::ignoreSslErrors() const
{
    return env->ignoreSslErrors.value();
}

QString AuthPage::logo() const
{
    return env->commonConfig.value().logo;
}

void AuthPage::enabled() { }

void AuthPage::disabled() { }

void AuthPage::showTableSyncing(const QString &table)
{
    m_loadingStatus = loadingTexts.value(table);
    Q_EMIT loadingStatusChanged();
}
