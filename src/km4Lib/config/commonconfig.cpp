#include "commonconfig.h"

#include <cmath>
#include <limits>

namespace {

// Whole days, sent by the server as a number or as its decimal text; anything else gives 0.
qint64 daysInSeconds(const QJsonValue &value)
{
    int days = 0;
    if (value.isDouble()) {
        const double number = value.toDouble();
        if (std::floor(number) == number && number >= std::numeric_limits<int>::min()
            && number <= std::numeric_limits<int>::max())
            days = int(number);
    } else {
        days = value.toString().toInt();
    }
    return qint64(days) * 86400;
}

} // namespace

CommonConfig::CommonConfig(const QJsonObject &json)
    : client_id(json.value(QLatin1String("client_id")).toInt(-1))
    , domain_id(json.value(QLatin1String("domain_id")).toInt(-1))
    , partner_email(json.value(QLatin1String("partner_email")).toString(QString()))
    , partner_name(json.value(QLatin1String("partner_name")).toString(QString()))
    , partner_phone(json.value(QLatin1String("partner_phone")).toString(QString()))
    , receipt_image_base64(json.value(QLatin1String("receipt_image_base64")).toString(QString()))
    , support_phone(
          json.value(QLatin1String("support_phone")).toString(DeploymentDefaults::supportPhone))
    , logo(json.value(QLatin1String("logo")).toString(QString()))
    , disable_period(daysInSeconds(json.value(QLatin1String("disable_period"))))
{ }

QString CommonConfig::name() const
{
    return QStringLiteral("common");
}

QJsonObject CommonConfig::toJSON() const
{
    return QJsonObject {
        { QStringLiteral("client_id"), client_id },
        { QStringLiteral("domain_id"), domain_id },
        { QStringLiteral("partner_email"), partner_email },
        { QStringLiteral("partner_name"), partner_name },
        { QStringLiteral("partner_phone"), partner_phone },
        { QStringLiteral("receipt_image_base64"), receipt_image_base64 },
        { QStringLiteral("support_phone"), support_phone },
        { QStringLiteral("logo"), logo },
        { QStringLiteral("disable_period"), disable_period },
    };
}
