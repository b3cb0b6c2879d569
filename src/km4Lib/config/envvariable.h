#pragma once

#include "privateenvvariable.h"

// A setting that follows its source: set() takes a different value and announces it; an equal
// value (configuration records compare their JSON form) changes nothing.
template <typename T> class EnvVariable : public PrivateEnvVariable
{
public:
    explicit EnvVariable(const T &value = T(), QObject *parent = nullptr)
        : PrivateEnvVariable(parent)
        , m_value(value)
    { }

    const T &value() const { return m_value; }

    virtual void set(const T &value)
    {
        if (m_value == value)
            return;
        m_value = value;
        Q_EMIT changed();
    }

private:
    T m_value;
};
