import QtQuick

// A one-pixel separator line across the item's width.
Item {
    id: _root

    property color color: Theme.colorStrokeDark

    height: 1

    Rectangle {
        y: (_root.height - 1) / 2
        width: _root.width
        height: 1
        color: _root.color
    }
}
