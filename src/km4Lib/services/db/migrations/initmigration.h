#pragma once

#include "imigration.h"

// Creates the whole local schema: config, migrations, shift, order, order_status, logs, receipt
// and receipt_item. Undoing it drops config, migrations, shift and order only; the other tables
// keep their rows.
class InitMigration : public IMigration
{
    Q_OBJECT

public:
    InitMigration();

    bool up() override;
    bool down() override;
};
