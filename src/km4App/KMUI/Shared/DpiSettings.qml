pragma Singleton

import QtQuick

// The one scaling rule of the screens: design sizes are pixels at 160 dpi, and screens below
// 120 dpi draw them unscaled.
QtObject {
    id: _root

    // Physical dots per inch of the primary screen; follows the screen when its density changes.
    property real dpi: Screen.pixelDensity * 25.4

    function scaling(x: real): real {
        if (_root.dpi < 120)
            return x;
        return x * _root.dpi / 160;
    }
}
