#pragma once

#include <QMetaType>

// What a service reports through IService::push.
enum PushType : int {
    // A background step (synchronisation, log upload, time query) failed; the text says which.
    PushFailure = 3,
};

Q_DECLARE_METATYPE(PushType)
