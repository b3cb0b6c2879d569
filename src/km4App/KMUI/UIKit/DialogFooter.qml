import QtQuick

import "../Shared"

// Footer strip of a dialog: reject on the left, accept on the right.
Footer {
    id: _root

    property bool visibleAccept: true
    property bool visibleReject: true
    property bool fullWidthAccept: !_root.visibleReject
    property string acceptText: qsTr("Продолжить")
    property string rejectText: qsTr("Отмена")
    property bool enableAccept: true
    property string buttonSize: "s"

    signal accepted
    signal rejected

    y: parent ? parent.height - _root.height : 0
    height: DpiSettings.scaling(72)
    color: Theme.colorBackgroundSecondary

    TextButton {
        id: _rejectButton

        objectName: "rejectButton"
        x: DpiSettings.scaling(24)
        y: (_root.height - _rejectButton.height) / 2
        type: "clear-white"
        size: _root.buttonSize
        text: _root.rejectText
        visible: _root.visibleReject
        onClicked: _root.rejected()
    }

    TextButton {
        id: _acceptButton

        objectName: "acceptButton"
        x: _root.width - _acceptButton.width - DpiSettings.scaling(24)
        y: (_root.height - _acceptButton.height) / 2
        width: !_root.visibleReject && _root.fullWidthAccept ? _root.width - DpiSettings.scaling(48)
                                                              : _acceptButton.contentWidth
        type: "secondary"
        size: _root.buttonSize
        text: _root.acceptText
        visible: _root.visibleAccept
        enabled: _root.enableAccept
        onClicked: _root.accepted()
    }
}
