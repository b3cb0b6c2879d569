#pragma once

#include <QString>

// Values of this deployment that the server's configuration may override.
namespace DeploymentDefaults {
// Base host of the point-of-sale server; the account domain is prepended to it.
inline const QString serverHost = QStringLiteral("kolmira.ru");
inline const QString supportPhone = QStringLiteral("+7 (800) 301-45-12");
// Host of the outside time-zone web service that the device-clock check asks.
inline const QString timeZoneHost = QStringLiteral("api.timezonedb.com");
} // namespace DeploymentDefaults
