#include "imigration.h"

IMigration::IMigration(QObject *parent)
    : QObject(parent)
{ }

IMigration::~IMigration() = default;
