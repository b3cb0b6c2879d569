import QtQuick

// Text cursor of the kit's text field: a thin bar that blinks while the field shows a cursor.
Rectangle {
    id: _root

    property bool isError: false
    // The host field's cursorVisible; the blink runs exactly while it holds.
    property bool hostCursorVisible: false

    width: 1
    height: 12
    visible: _root.hostCursorVisible
    color: _root.isError ? Theme.colorRed : Theme.colorBrand

    SequentialAnimation {
        objectName: "blink"
        loops: Animation.Infinite
        running: _root.hostCursorVisible
        onRunningChanged: {
            if (!running)
                _root.visible = false;
        }

        PropertyAction {
            target: _root
            property: "visible"
            value: true
        }
        PauseAnimation {
            duration: 600
        }
        PropertyAction {
            target: _root
            property: "visible"
            value: false
        }
        PauseAnimation {
            duration: 600
        }
    }
}
