#pragma once

#include "timezoneresponce.h"

#include <QFuture>
#include <QString>

// Client of the outside time-zone web service, which tells the current wall-clock time of a
// named time zone. Used to notice a device clock that is set wrongly.
class TimezoneApi
{
public:
    TimezoneApi() = default;

    // One GET to the service; fails with NetworkException when it answers with an error or
    // cannot be reached in time.
    [[nodiscard]] QFuture<TimezoneResponce> requestTime(const QString &zone) const;

    // Host (and optional ":port") of the service; plain HTTP is used whatever the server API
    // uses. Process-wide, so a test can point every client at its own double.
    static QString serviceHost();
    static void setServiceHost(const QString &host);

    static constexpr char apiKey[] = "QX4BPW7NRK2M";
};
