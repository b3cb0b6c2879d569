#pragma once

#include <QStringList>

// Registers the typeface compiled into the program with the font system, so every text of the
// screens is drawn in "Onest" whatever fonts the machine has installed.
class AppFonts
{
public:
    // Resource paths of the weights the screens use (400, 500, 600, 700).
    static QStringList onestFiles();

    // Adds every weight; returns false and logs a warning for each file that could not be added.
    // Called once at start, before the first window is created.
    [[nodiscard]] static bool registerOnest();
};
