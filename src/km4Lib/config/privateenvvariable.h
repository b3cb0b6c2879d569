#pragma once

#include <QObject>

// Base of the typed settings variables: one held value and the signal that it changed. Receivers
// connected directly run inside set(), on the thread that called it.
class PrivateEnvVariable : public QObject
{
    Q_OBJECT

public:
    explicit PrivateEnvVariable(QObject *parent = nullptr);
    ~PrivateEnvVariable() override;

Q_SIGNALS:
    void changed();
};
