import QtQuick

import "../Shared"

// Base strip of dialog footers: a body with rounded upper corners and a one-pixel line along the
// top edge, drawn as a stroke-coloured strip the body covers except for its first pixel row.
Item {
    id: _root

    property real radius: DpiSettings.scaling(12)
    property color color: Theme.colorBackgroundPrimary

    width: parent ? parent.width : 0
    height: DpiSettings.scaling(104)

    Rectangle {
        width: _root.width
        height: DpiSettings.scaling(24)
        radius: _root.radius
        color: Theme.colorStrokeDark
    }

    Rectangle {
        y: 1
        width: _root.width
        height: _root.height
        radius: _root.radius
        color: _root.color
    }
}
