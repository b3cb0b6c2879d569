#include "privateenvvariable.h"

PrivateEnvVariable::PrivateEnvVariable(QObject *parent)
    : QObject(parent)
{ }

PrivateEnvVariable::~PrivateEnvVariable() = default;
