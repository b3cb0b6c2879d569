import QtQuick
import QtQuick.Controls
import QtQuick.Controls.Basic
import QtQuick.Layouts

import "../UIKit"
import "../Shared"

// The board the guests read: the orders being prepared and the orders ready to be picked up.
Rectangle {
    id: _root

    color: Theme.colorBackgroundSecondary

    component OrdersPanel: Rectangle {
        id: _panel

        property alias headerColor: _header.color
        property alias headerText: _headerLabel.text
        property alias model: _grid.model
        property Component numberDelegate

        Layout.fillWidth: true
        Layout.fillHeight: true
        Layout.preferredWidth: 1
        radius: DpiSettings.scaling(12)
        color: Theme.colorBackgroundPrimary

        Rectangle {
            id: _header

            objectName: "header"
            x: DpiSettings.scaling(24)
            y: DpiSettings.scaling(24)
            width: _panel.width - DpiSettings.scaling(48)
            height: DpiSettings.scaling(64)
            radius: DpiSettings.scaling(8)

            Label {
                id: _headerLabel

                x: DpiSettings.scaling(12)
                y: DpiSettings.scaling(12)
                height: DpiSettings.scaling(40)
                verticalAlignment: Text.AlignVCenter
                padding: 0
                font.pixelSize: DpiSettings.scaling(32)
                font.weight: Font.DemiBold
                color: Theme.colorTextButton
            }
        }

        GridView {
            id: _grid

            objectName: "grid"
            x: DpiSettings.scaling(24)
            y: DpiSettings.scaling(112)
            width: _panel.width - DpiSettings.scaling(48)
            height: _panel.height - DpiSettings.scaling(136)
            // Half the grid plus 20: the width the board has always had.
            cellWidth: _grid.width / 2 + DpiSettings.scaling(20)
            cellHeight: DpiSettings.scaling(78)
            flow: GridView.FlowTopToBottom
            interactive: false
            delegate: _panel.numberDelegate
        }
    }

    Column {
        id: _welcome

        x: DpiSettings.scaling(8)
        y: DpiSettings.scaling(310)
        spacing: DpiSettings.scaling(40)

        // qmllint disable unqualified
        Image {
            x: (_welcome.width - DpiSettings.scaling(168)) / 2
            width: DpiSettings.scaling(168)
            fillMode: Image.PreserveAspectFit
            source: appCore.ordersPage.logo
        }
        // qmllint enable unqualified

        Label {
            width: DpiSettings.scaling(380)
            height: DpiSettings.scaling(28)
            horizontalAlignment: Text.AlignHCenter
            verticalAlignment: Text.AlignVCenter
            text: qsTr("Добро пожаловать!")
            font.bold: true
            font.pixelSize: DpiSettings.scaling(24)
            color: Theme.colorTextPrimary
        }
    }

    RowLayout {
        id: _panels

        x: _root.width - _panels.width - DpiSettings.scaling(8)
        y: DpiSettings.scaling(8)
        width: _root.width - DpiSettings.scaling(416)
        height: _root.height - DpiSettings.scaling(16)
        spacing: DpiSettings.scaling(8)

        // qmllint disable unqualified
        OrdersPanel {
            objectName: "preparingPanel"
            headerColor: Theme.colorIconSecondary
            headerText: qsTr("Готовятся")
            model: appCore.ordersPage.preparingOrdersModel
            numberDelegate: Label {
                required property var number

                objectName: "number"
                text: String(number)
                font.bold: true
                font.pixelSize: DpiSettings.scaling(48)
                color: Theme.colorTextSecondary
            }
        }

        OrdersPanel {
            objectName: "readyPanel"
            headerColor: Theme.colorGreen
            headerText: qsTr("Готовы")
            model: appCore.ordersPage.readyOrdersModel
            numberDelegate: Label {
                required property var number
                required property bool newest

                objectName: "number"
                text: String(number)
                font.bold: true
                // The newest ready order stands out. The model says which one it is: the row's
                // place and the grid's count change at different moments while rows come and go.
                font.pixelSize: DpiSettings.scaling(newest ? 84 : 60)
                color: Theme.colorGreen
            }
        }
        // qmllint enable unqualified
    }
}
