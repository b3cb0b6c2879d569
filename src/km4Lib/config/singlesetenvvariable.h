#pragma once

#include "privateenvvariable.h"

// A setting that is decided once per process (e.g. from the command line): the first set()
// wins and is announced even when it repeats the initial value; later calls change nothing.
template <typename T> class SingleSetEnvVariable : public PrivateEnvVariable
{
public:
    explicit SingleSetEnvVariable(const T &value = T(), QObject *parent = nullptr)
        : PrivateEnvVariable(parent)
        , m_value(value)
    { }

    const T &value() const { return m_value; }
    bool isSet() const { return m_isSet; }

    virtual void set(const T &value)
    {
        if (m_isSet)
            return;
        m_value = value;
        m_isSet = true;
        Q_EMIT changed();
    }

private:
    T m_value;
    bool m_isSet = false;
};
