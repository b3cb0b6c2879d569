import QtQuick
import QtQuick.Controls.Basic

import "../Shared"

// A caption over a value, as in a list of facts.
Column {
    id: _root

    required property string title
    required property string value
    property int titlePixelSize: DpiSettings.scaling(14)
    property int valuePixelSize: DpiSettings.scaling(16)
    property int titleWeight: Font.Normal
    property int valueWeight: Font.Medium

    spacing: DpiSettings.scaling(4)

    Label {
        text: qsTr("%1:").arg(_root.title)
        color: Theme.colorTextSecondary
        font.pixelSize: _root.titlePixelSize
        font.weight: _root.titleWeight
    }

    Label {
        text: _root.value
        color: Theme.colorTextPrimary
        font.pixelSize: _root.valuePixelSize
        font.weight: _root.valueWeight
    }
}
