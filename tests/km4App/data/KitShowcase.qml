import QtQuick
import QtQuick.Controls.Basic

import "qrc:/km4App/KMUI/UIKit"
import "qrc:/km4App/KMUI/Shared"

// Every component of the kit in its variants, for a screenshot and pixel checks.
Rectangle {
    id: _page

    function useTheme(name) {
        Theme.theme = name;
    }

    function openDialog() {
        _dialog.show(qsTr("Удалить все данные?"), qsTr("Заказы и настройки будут удалены с этого устройства."));
    }

    width: 1200
    height: 760
    color: Theme.colorBackgroundSecondary

    Column {
        x: 16
        y: 16
        spacing: 14

        Flow {
            width: 1168
            spacing: 8

            Repeater {
                model: ["primary", "secondary", "ghost", "stroke", "clear-white", "clear", "attention", "warning", "attention-stroke", "system"]

                TextButton {
                    required property string modelData

                    objectName: modelData + "Button"
                    type: modelData
                    size: "m"
                    text: modelData
                }
            }
        }

        Flow {
            width: 1168
            spacing: 8

            Repeater {
                model: ["primary", "secondary", "stroke", "attention-stroke"]

                TextButton {
                    required property string modelData

                    objectName: modelData + "Disabled"
                    type: modelData
                    size: "s"
                    text: modelData
                    enabled: false
                }
            }
        }

        Row {
            spacing: 8

            TextButton {
                objectName: "clearIconButton"
                type: "clear"
                size: "m"
                beforeIcon: "qrc:/icons/trash-white.svg"
                text: "Техническая поддержка"
            }

            TextButton {
                objectName: "logoutButton"
                type: "attention-stroke"
                size: "s"
                beforeIcon: "qrc:/icons/logout-red.svg"
                afterIcon: "qrc:/icons/arrow-forward-white.svg"
                text: "Выйти из приложения"
            }
        }

        Row {
            spacing: 12

            ImageButton {
                objectName: "backButton"
                size: "xs"
                width: DpiSettings.scaling(32)
                height: DpiSettings.scaling(32)
                source: "qrc:/icons/arrow-back-white.svg"
            }

            Repeater {
                model: ["primary", "primary-blue", "clear", "stroke-blue"]

                ImageButton {
                    required property string modelData

                    objectName: modelData + "ImageButton"
                    type: modelData
                    size: "l"
                    source: "qrc:/icons/home-gray.svg"
                }
            }

            KMNotifyDot {
                objectName: "notifyLabel"
                points: 7
            }

        }

        KMWaiter {
            objectName: "bigWaiter"
            width: 120
            height: 120
        }
    }

    StatusDialog {
        id: _dialog

        objectName: "dialog"
        backgroundItem: _page
        acceptText: "Удалить"
    }
}
