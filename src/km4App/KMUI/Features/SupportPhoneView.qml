import QtQuick
import QtQuick.Controls
import QtQuick.Controls.Basic

import "../UIKit"
import "../Shared"

// Footer with the support telephone and, where wanted, an exit icon.
Footer {
    id: _root

    property string phone: ""
    property bool isLogoutVisible: false

    signal exitClicked

    Label {
        x: DpiSettings.scaling(24)
        y: DpiSettings.scaling(24)
        text: qsTr("Телефон поддержки")
        font.pixelSize: DpiSettings.scaling(14)
        font.weight: Font.Normal
        color: Theme.colorTextSecondary
    }

    Label {
        objectName: "phoneLabel"
        x: DpiSettings.scaling(24)
        y: DpiSettings.scaling(52)
        text: _root.phone
        font.pixelSize: DpiSettings.scaling(24)
        font.weight: Font.DemiBold
        color: Theme.colorTextPrimary
    }

    Image {
        objectName: "exitIcon"
        x: _root.width - DpiSettings.scaling(24) - width
        anchors.verticalCenter: parent.verticalCenter
        width: DpiSettings.scaling(24)
        height: DpiSettings.scaling(24)
        sourceSize.width: width
        sourceSize.height: height
        source: "qrc:/icons/logout-gray.svg"
        visible: _root.isLogoutVisible

        MouseArea {
            anchors.fill: parent
            cursorShape: Qt.PointingHandCursor
            onClicked: _root.exitClicked()
        }
    }
}
