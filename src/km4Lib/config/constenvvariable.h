#pragma once

#include "privateenvvariable.h"

// A value fixed at construction (version strings); changed() is never emitted.
template <typename T> class ConstEnvVariable : public PrivateEnvVariable
{
public:
    explicit ConstEnvVariable(const T &value = T(), QObject *parent = nullptr)
        : PrivateEnvVariable(parent)
        , m_value(value)
    { }

    const T &value() const { return m_value; }

private:
    const T m_value;
};
