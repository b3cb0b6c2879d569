#pragma once

#include <QFuture>

// A future that only says when (and whether) some work has finished.
using VoidFuture = QFuture<void>;
