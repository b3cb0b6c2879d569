import QtQuick
import QtQuick.Controls
import QtQuick.Controls.Basic

import "../UIKit"
import "../Shared"

// Where the user enters the account domain and signs in. It only shows what the login page puts
// into it and reports clicks.
Rectangle {
    id: _root

    property alias domain: _domainInput.text
    property alias statusText: _statusLabel.text
    property alias advAuthStatusText: _advStatusLabel.text
    property alias domainInput: _domainInput
    property bool isLoading: false
    property string language: ""

    signal signInClicked
    signal selectLanguageClicked

    radius: DpiSettings.scaling(12)
    color: Theme.colorBackgroundPrimary

    Column {
        id: _column

        anchors.horizontalCenter: parent.horizontalCenter
        y: DpiSettings.scaling(24)
        width: _root.width - DpiSettings.scaling(48)
        spacing: DpiSettings.scaling(20)

        Label {
            width: _column.width
            horizontalAlignment: Text.AlignHCenter
            text: qsTr("Введите данные для входа")
            font.bold: true
            font.pixelSize: DpiSettings.scaling(16)
            color: Theme.colorTextPrimary
        }

        Item {
            width: 1
            height: 1
        }

        KMTextInput {
            id: _domainInput

            objectName: "domainInput"
            width: _column.width
            enabled: !_root.isLoading
            beforeIcon: "qrc:/icons/home-gray.svg"
            placeholderText: qsTr("Домен")
            backgroundColor: Theme.colorBackgroundSecondary
            footerText: qsTr("Обязательное поле")
            afterIcon: _domainInput.isEmpty ? "" : "qrc:/icons/exit-white.svg"
            onAfterIconClicked: _domainInput.reset()
            // Consumed here, so the page's own Return handling does not run for the same press.
            Keys.onReturnPressed: _root.signInClicked()
            Keys.onEnterPressed: _root.signInClicked()
        }

        Item {
            width: 1
            height: DpiSettings.scaling(1)
        }

        TextButton {
            objectName: "signInButton"
            width: _column.width
            enabled: !_root.isLoading
            text: qsTr("Войти")
            type: "primary"
            size: "l"
            onClicked: _root.signInClicked()
        }

        Item {
            width: 1
            height: 1
        }

        KMWaiter {
            objectName: "waiter"
            anchors.horizontalCenter: parent.horizontalCenter
            width: DpiSettings.scaling(60)
            height: DpiSettings.scaling(60)
            visible: _root.isLoading
        }

        Column {
            objectName: "statusBlock"
            width: _column.width
            spacing: DpiSettings.scaling(12)
            visible: _root.statusText !== ""

            Label {
                id: _statusLabel

                objectName: "statusLabel"
                width: _column.width
                wrapMode: Text.WordWrap
                horizontalAlignment: Text.AlignHCenter
                font.pixelSize: DpiSettings.scaling(16)
                font.weight: Font.Normal
                color: Theme.colorRed
            }

            Label {
                id: _advStatusLabel

                width: _column.width
                horizontalAlignment: Text.AlignHCenter
                font.pixelSize: DpiSettings.scaling(16)
                font.weight: Font.Normal
                color: Theme.colorTextSecondary
            }
        }
    }

    Rectangle {
        id: _languageRow

        objectName: "languageRow"
        x: DpiSettings.scaling(24)
        y: _root.height - _languageRow.height - DpiSettings.scaling(24)
        width: _root.width - DpiSettings.scaling(48)
        height: DpiSettings.scaling(48)
        radius: DpiSettings.scaling(8)
        color: Theme.colorBackgroundSecondary

        Row {
            id: _languageContent

            x: DpiSettings.scaling(12)
            width: _languageRow.width - DpiSettings.scaling(24)
            height: _languageRow.height
            spacing: DpiSettings.scaling(8)

            Image {
                anchors.verticalCenter: parent.verticalCenter
                width: DpiSettings.scaling(18)
                height: DpiSettings.scaling(18)
                sourceSize.width: width
                sourceSize.height: height
                source: "qrc:/icons/globe-gray.svg"
            }

            Label {
                anchors.verticalCenter: parent.verticalCenter
                width: _languageContent.width - DpiSettings.scaling(54)
                text: _root.language
                font.pixelSize: DpiSettings.scaling(16)
                font.weight: Font.Normal
                color: Theme.colorTextPrimary
            }

            Image {
                anchors.verticalCenter: parent.verticalCenter
                width: DpiSettings.scaling(20)
                height: DpiSettings.scaling(20)
                sourceSize.width: width
                sourceSize.height: height
                source: "qrc:/icons/arrow-forward-white.svg"
            }
        }

        MouseArea {
            anchors.fill: parent
            cursorShape: Qt.PointingHandCursor
            onClicked: _root.selectLanguageClicked()
        }
    }
}
