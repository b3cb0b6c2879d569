import QtQuick
import QtQuick.Controls
import QtQuick.Controls.Basic

import "../Shared"

// A radio row whose owner decides what is checked: a click is only reported, never applied.
RadioButton {
    id: _root

    property color textColor: Theme.colorTextPrimary
    property color checkedColor: Theme.colorGreen
    property color uncheckedColor: Theme.colorStrokeLight
    property bool mirror: false

    contentItem: Label {
        text: _root.text
        font: _root.font
        color: _root.textColor
        verticalAlignment: Text.AlignVCenter
        elide: Text.ElideRight
        leftPadding: _root.mirror ? _root.indicator.width + _root.spacing : 0
        rightPadding: _root.mirror ? 0 : _root.indicator.width + _root.spacing
    }

    indicator: Rectangle {
        implicitWidth: DpiSettings.scaling(18)
        implicitHeight: DpiSettings.scaling(18)
        x: _root.mirror ? 0 : _root.width - width
        y: (_root.height - height) / 2
        radius: DpiSettings.scaling(9)
        color: "transparent"
        border.width: 1
        border.color: _root.checked ? _root.checkedColor : _root.uncheckedColor

        Rectangle {
            objectName: "dot"
            anchors.centerIn: parent
            width: DpiSettings.scaling(9)
            height: DpiSettings.scaling(9)
            radius: DpiSettings.scaling(5)
            color: _root.checkedColor
            visible: _root.checked
        }
    }

    MouseArea {
        anchors.fill: parent
        cursorShape: Qt.PointingHandCursor
        onClicked: _root.clicked()
    }
}
