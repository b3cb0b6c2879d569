#pragma once

#include <QObject>

// One step of the local schema. A migration is known by its class name, which is what the table
// migrations records once up() has succeeded.
class IMigration : public QObject
{
    Q_OBJECT

public:
    explicit IMigration(QObject *parent = nullptr);
    ~IMigration() override;

    virtual bool up() = 0;
    virtual bool down() = 0;
};
