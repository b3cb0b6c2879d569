import QtQuick
import QtQuick.Controls.Basic

import "../Shared"

// A count badge: a plain dot, or a pill with the count. Hidden while there is nothing to count.
Loader {
    id: _root

    property string type: "label"
    property int points: 0
    property color color: Theme.colorRed

    visible: _root.points > 0
    sourceComponent: _root.type === "dot" ? _dotComponent : _labelComponent

    // The linter does not follow ids into inline components; the engine does.
    // qmllint disable unqualified
    Component {
        id: _labelComponent

        Label {
            id: _countLabel

            text: _root.points > 99 ? qsTr("99+") : _root.points.toString()
            color: Theme.colorTextButton
            font.pixelSize: DpiSettings.scaling(10)
            font.weight: Font.DemiBold
            horizontalAlignment: Text.AlignHCenter
            verticalAlignment: Text.AlignVCenter
            leftPadding: DpiSettings.scaling(5)
            bottomPadding: DpiSettings.scaling(5)
            topPadding: 1

            background: Rectangle {
                width: _countLabel.contentWidth + DpiSettings.scaling(10)
                height: _countLabel.contentHeight + DpiSettings.scaling(2)
                radius: height / 2
                color: _root.color
                border.color: Theme.colorTextButton
                border.width: DpiSettings.scaling(1)
            }
        }
    }

    Component {
        id: _dotComponent

        Item {
            implicitWidth: 1 + DpiSettings.scaling(6)
            implicitHeight: DpiSettings.scaling(2) + DpiSettings.scaling(6)

            Rectangle {
                x: 1
                y: DpiSettings.scaling(2)
                width: DpiSettings.scaling(6)
                height: width
                radius: width / 2
                color: _root.color
            }
        }
    }
    // qmllint enable unqualified
}
