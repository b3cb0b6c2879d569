import QtQuick
import QtQuick.Controls.Basic
import Qt5Compat.GraphicalEffects

import "../Shared"

// The kit's push button: optional icons around a text, in one of the named colour types and sizes.
Rectangle {
    id: _root

    property string type: "primary"
    property string size: "l"
    property string text: qsTr("Button")
    property string beforeIcon: ""
    property string afterIcon: ""
    property string afterText: ""
    property string fontFamily: "Onest"
    property int fontWeight: Font.Bold
    property color enabledColor: Theme.colorBrand
    property color pressedColor: Theme.colorBrandDark
    property color disabledColor: Theme.colorBackgroundAdditive
    property color enabledBorderColor: Theme.colorBrand
    property color disabledBorderColor: "#717171"
    property color enabledTextColor: Theme.colorTextButton
    property color pressedTextColor: Theme.colorTextButton
    property color disabledTextColor: Theme.colorTextDisable
    property int iconSize: DpiSettings.scaling(24)
    property int pixelSize: DpiSettings.scaling(18)
    property int spacing: DpiSettings.scaling(12)
    property int margin: DpiSettings.scaling(24)
    readonly property real contentWidth: 2 * _root.margin + _content.width

    // The colour that text and icon tints take in the current appearance.
    readonly property color currentTextColor: !_root.enabled ? _root.disabledTextColor
        : _mouseArea.containsPress ? _root.pressedTextColor : _root.enabledTextColor

    signal clicked

    width: _root.contentWidth
    radius: DpiSettings.scaling(12)
    color: !_root.enabled ? _root.disabledColor
        : _mouseArea.containsPress ? _root.pressedColor : _root.enabledColor
    border.width: 0
    border.color: _root.enabled ? _root.enabledBorderColor : _root.disabledBorderColor
    activeFocusOnTab: true

    Row {
        id: _content

        x: (_root.width - _content.width) / 2
        y: (_root.height - _content.height) / 2
        spacing: _root.spacing

        Item {
            id: _beforeBox

            objectName: "beforeIconBox"
            y: (_content.height - _root.iconSize) / 2
            width: _root.iconSize
            height: _root.iconSize
            visible: _root.beforeIcon !== ""

            Image {
                id: _beforeImage

                anchors.fill: parent
                source: _root.beforeIcon
                sourceSize.width: _root.iconSize
                sourceSize.height: _root.iconSize
                fillMode: Image.PreserveAspectFit
                visible: false
            }

            ColorOverlay {
                anchors.fill: _beforeImage
                source: _beforeImage
                color: _root.currentTextColor
            }
        }

        Label {
            id: _label

            objectName: "textLabel"
            text: _root.text
            color: _root.currentTextColor
            font.family: _root.fontFamily
            font.weight: _root.fontWeight
            font.pixelSize: _root.pixelSize
        }

        Item {
            id: _afterBox

            objectName: "afterIconBox"
            y: (_content.height - _root.iconSize) / 2
            width: _root.iconSize
            height: _root.iconSize
            visible: _root.afterIcon !== ""

            Image {
                id: _afterImage

                anchors.fill: parent
                source: _root.afterIcon
                sourceSize.width: _root.iconSize
                sourceSize.height: _root.iconSize
                fillMode: Image.PreserveAspectFit
                visible: false
            }

            ColorOverlay {
                anchors.fill: _afterImage
                source: _afterImage
                color: _root.currentTextColor
            }
        }
    }

    Label {
        objectName: "afterTextLabel"
        anchors.right: _root.right
        anchors.rightMargin: DpiSettings.scaling(16)
        height: _root.height
        visible: _root.afterText !== ""
        text: _root.afterText
        verticalAlignment: Text.AlignVCenter
        color: Theme.colorTextPrimary
        font.pixelSize: DpiSettings.scaling(16)
        font.weight: Font.Medium
    }

    MouseArea {
        id: _mouseArea

        anchors.fill: _root
        cursorShape: Qt.PointingHandCursor
        onClicked: {
            _root.forceActiveFocus();
            _root.clicked();
        }
    }

    StateGroup {
        state: _root.type
        states: [
            State {
                name: "primary"

                PropertyChanges {
                    target: _root
                    enabledColor: Theme.colorBrand
                    pressedColor: Theme.colorBrandDark
                    disabledColor: Theme.colorBackgroundAdditive
                    enabledTextColor: Theme.colorTextButton
                    pressedTextColor: Theme.colorTextButton
                    disabledTextColor: Theme.colorTextDisable
                }
            },
            State {
                name: "secondary"

                PropertyChanges {
                    target: _root
                    enabledColor: Theme.colorGreen
                    pressedColor: Theme.colorGreenDark
                    disabledColor: Theme.colorBackgroundAdditive
                    enabledTextColor: Theme.colorTextButton
                    pressedTextColor: Theme.colorTextButton
                    disabledTextColor: Theme.colorTextDisable
                }
            },
            State {
                name: "ghost"

                PropertyChanges {
                    target: _root
                    enabledColor: Theme.colorBackgroundSecondary
                    pressedColor: Theme.colorBrand
                    disabledColor: "#EBEDF4"
                    enabledTextColor: Theme.colorBrand
                    pressedTextColor: Theme.colorBrand
                    disabledTextColor: Theme.colorTextDisable
                }
            },
            State {
                name: "stroke"

                PropertyChanges {
                    target: _root
                    enabledColor: "transparent"
                    pressedColor: Theme.colorBrand
                    disabledColor: "transparent"
                    enabledTextColor: Theme.colorBrand
                    pressedTextColor: Theme.colorTextButton
                    disabledTextColor: Theme.colorBackgroundAdditive
                    border.width: 1
                    enabledBorderColor: Theme.colorBrand
                    disabledBorderColor: Theme.colorBackgroundAdditive
                }
            },
            State {
                name: "clear-white"

                PropertyChanges {
                    target: _root
                    enabledColor: "transparent"
                    pressedColor: "transparent"
                    disabledColor: "transparent"
                    enabledTextColor: Theme.colorTextSecondary
                    pressedTextColor: Theme.colorTextSecondary
                    disabledTextColor: Theme.colorTextDisable
                }
            },
            State {
                name: "clear"

                PropertyChanges {
                    target: _root
                    enabledColor: "transparent"
                    pressedColor: "transparent"
                    disabledColor: "transparent"
                    enabledTextColor: Theme.colorBrand
                    pressedTextColor: Theme.colorBrandDark
                    disabledTextColor: "#404040"
                }
            },
            State {
                name: "attention"

                PropertyChanges {
                    target: _root
                    enabledColor: Theme.colorRed
                    pressedColor: Theme.colorRedDark
                    disabledColor: Theme.colorBackgroundAdditive
                    enabledTextColor: Theme.colorTextButton
                    pressedTextColor: Theme.colorTextButton
                    disabledTextColor: Theme.colorTextDisable
                    enabledBorderColor: "transparent"
                    disabledBorderColor: "transparent"
                }
            },
            State {
                name: "warning"

                PropertyChanges {
                    target: _root
                    enabledColor: Theme.colorOrange
                    pressedColor: Theme.colorOrangeDark
                    disabledColor: Theme.colorBackgroundAdditive
                    enabledTextColor: Theme.colorTextButton
                    pressedTextColor: Theme.colorTextButton
                    disabledTextColor: Theme.colorTextDisable
                    enabledBorderColor: "transparent"
                    disabledBorderColor: "transparent"
                }
            },
            State {
                name: "attention-stroke"

                PropertyChanges {
                    target: _root
                    enabledColor: "transparent"
                    pressedColor: Theme.colorRed
                    disabledColor: Theme.colorBackgroundAdditive
                    enabledTextColor: Theme.colorRed
                    pressedTextColor: Theme.colorTextButton
                    disabledTextColor: Theme.colorTextDisable
                    border.width: 1
                    enabledBorderColor: Theme.colorRed
                    disabledBorderColor: Theme.colorBackgroundAdditive
                }
            },
            State {
                name: "system"

                PropertyChanges {
                    target: _root
                    enabledColor: Theme.colorBackgroundAdditive
                    pressedColor: Theme.colorBackgroundAdditive
                    disabledColor: Theme.colorBackgroundAdditive
                    enabledTextColor: Theme.colorTextButton
                    pressedTextColor: Theme.colorTextButton
                    disabledTextColor: Theme.colorTextDisable
                }
            }
        ]
    }

    StateGroup {
        state: _root.size
        states: [
            State {
                name: "l"

                PropertyChanges {
                    target: _root
                    height: DpiSettings.scaling(56)
                    iconSize: DpiSettings.scaling(24)
                    pixelSize: DpiSettings.scaling(18)
                    spacing: DpiSettings.scaling(12)
                    margin: DpiSettings.scaling(24)
                }
            },
            State {
                name: "m"

                PropertyChanges {
                    target: _root
                    height: DpiSettings.scaling(48)
                    iconSize: DpiSettings.scaling(20)
                    pixelSize: DpiSettings.scaling(16)
                    spacing: DpiSettings.scaling(12)
                    margin: DpiSettings.scaling(20)
                }
            },
            State {
                name: "s"

                PropertyChanges {
                    target: _root
                    height: DpiSettings.scaling(40)
                    iconSize: DpiSettings.scaling(18)
                    pixelSize: DpiSettings.scaling(14)
                    spacing: DpiSettings.scaling(8)
                    margin: DpiSettings.scaling(16)
                }
            },
            State {
                name: "xs"

                PropertyChanges {
                    target: _root
                    height: DpiSettings.scaling(32)
                    iconSize: DpiSettings.scaling(16)
                    pixelSize: DpiSettings.scaling(12)
                    spacing: DpiSettings.scaling(8)
                    margin: DpiSettings.scaling(12)
                }
            }
        ]
    }
}
