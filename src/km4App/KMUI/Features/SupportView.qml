import QtQuick
import QtQuick.Layouts

import "../UIKit"
import "../Shared"

// The board's identifiers, versions and networks, with the wipe and quit buttons under them.
Item {
    id: _root

    property string idc: ""
    property string idq: ""
    property string domain: ""
    property string partner: ""
    property string email: ""
    property string versioName: ""
    property var networkInfo
    property bool visibleRemoveButton: false
    property bool visibleExitButton: false
    // One line per network, each ending with a line feed.
    readonly property string networksText: {
        let text = "";
        for (const network of _root.networkInfo || [])
            text += network.name + ": " + network.ip + ", " + network.mask + "\n";
        return text;
    }

    signal removeAllClicked
    signal logoutClicked

    Flickable {
        id: _list

        objectName: "factList"
        width: _root.width
        height: _root.height - _buttons.height - DpiSettings.scaling(12)
        clip: true
        flickableDirection: Flickable.VerticalFlick
        boundsBehavior: Flickable.StopAtBounds
        contentHeight: _facts.height

        ColumnLayout {
            id: _facts

            width: _list.width
            spacing: DpiSettings.scaling(12)

            RowLayout {
                Layout.fillWidth: true
                spacing: 0

                KMTitleValueText {
                    Layout.preferredWidth: _facts.width / 2
                    title: qsTr("IDС (ID клиента)")
                    value: _root.idc
                }

                KMTitleValueText {
                    Layout.fillWidth: true
                    title: qsTr("IDQ (ID очереди)")
                    value: _root.idq
                }
            }

            KMTitleValueText {
                title: qsTr("Домен")
                value: _root.domain
            }

            KMTitleValueText {
                title: qsTr("Партнёр")
                value: _root.partner
            }

            KMTitleValueText {
                title: qsTr("E-mail")
                value: _root.email
            }

            KMTitleValueText {
                title: qsTr("Версия приложения")
                value: _root.versioName
            }

            KMTitleValueText {
                objectName: "networksFact"
                Layout.fillWidth: true
                clip: true
                title: qsTr("Сети")
                value: _root.networksText
            }

            Item {
                Layout.fillHeight: true
            }
        }
    }

    Column {
        id: _buttons

        y: _root.height - _buttons.height
        width: _root.width
        spacing: DpiSettings.scaling(12)

        TextButton {
            objectName: "removeButton"
            width: _buttons.width
            size: "s"
            type: "attention"
            beforeIcon: "qrc:/icons/trash-white.svg"
            text: qsTr("Удалить все данные")
            visible: _root.visibleRemoveButton
            onClicked: _root.removeAllClicked()
        }

        TextButton {
            objectName: "exitButton"
            width: _buttons.width
            size: "s"
            type: "attention-stroke"
            beforeIcon: "qrc:/icons/logout-red.svg"
            text: qsTr("Выйти из приложения")
            visible: _root.visibleExitButton
            onClicked: _root.logoutClicked()
        }
    }
}
