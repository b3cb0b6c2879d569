import QtQuick
import QtQuick.Controls
import QtQuick.Controls.Basic

import "../UIKit"
import "../Shared"

// A list of languages to choose from; only the save button reports the choice.
Rectangle {
    id: _root

    property string action: ""
    property var model: []

    signal backClicked
    signal languageSelected(string language)

    radius: DpiSettings.scaling(12)
    color: Theme.colorBackgroundPrimary

    Row {
        x: DpiSettings.scaling(24)
        y: DpiSettings.scaling(24)
        height: DpiSettings.scaling(48)
        spacing: DpiSettings.scaling(12)

        ImageButton {
            objectName: "backButton"
            anchors.verticalCenter: parent.verticalCenter
            size: "xs"
            width: DpiSettings.scaling(32)
            height: DpiSettings.scaling(32)
            source: "qrc:/icons/arrow-back-white.svg"
            onClicked: _root.backClicked()
        }

        Label {
            anchors.verticalCenter: parent.verticalCenter
            height: DpiSettings.scaling(32)
            verticalAlignment: Text.AlignVCenter
            text: qsTr("Выбор языка")
            font.bold: true
            font.pixelSize: DpiSettings.scaling(16)
            color: Theme.colorTextPrimary
        }
    }

    ListView {
        id: _list

        objectName: "languageList"
        x: DpiSettings.scaling(24)
        y: DpiSettings.scaling(92)
        width: _root.width - DpiSettings.scaling(48)
        height: DpiSettings.scaling(460)
        clip: true
        currentIndex: -1
        interactive: _list.contentHeight > _list.height
        model: _root.model

        // The linter does not follow ids into delegates; the engine does.
        // qmllint disable unqualified
        delegate: Item {
            id: _row

            required property var modelData

            width: _list.width
            height: DpiSettings.scaling(40)

            KMRadioButton {
                objectName: "languageButton"
                x: DpiSettings.scaling(12)
                anchors.verticalCenter: parent.verticalCenter
                width: _row.width - DpiSettings.scaling(24)
                height: DpiSettings.scaling(40)
                padding: 0
                font.pixelSize: DpiSettings.scaling(16)
                font.weight: Font.Normal
                text: _row.modelData.name
                checked: _root.action === _row.modelData.action
                onClicked: _root.action = _row.modelData.action
            }

            KMDivider {
                y: _row.height - 1
                width: _row.width
            }
        }
        // qmllint enable unqualified
    }

    TextButton {
        objectName: "saveButton"
        x: DpiSettings.scaling(24)
        y: _root.height - height - DpiSettings.scaling(24)
        width: _root.width - DpiSettings.scaling(48)
        height: DpiSettings.scaling(52)
        text: qsTr("Сохранить")
        type: "secondary"
        size: "l"
        onClicked: _root.languageSelected(_root.action)
    }
}
