import QtQuick
import Qt5Compat.GraphicalEffects

import "../Shared"

// The kit's icon button: one centred icon in its own colours, an optional count badge on its
// corner, and tints for a press or the light theme.
Rectangle {
    id: _root

    required property string source
    property string size: "m"
    property string type: ""
    property color enabledColor: Theme.colorBackgroundBasic
    property color pressedColor: Theme.colorBackgroundMain
    property color disabledColor: Theme.colorBackgroundBasic
    property double imageWidth: 0
    property double imageHeight: 0
    property bool coloredImage: false
    property color colorImage: Theme.colorBrand
    property int points: 0
    property string pointsType: "dot"
    property color pointsColor: Theme.colorRed

    signal clicked(var mouse)

    width: DpiSettings.scaling(48)
    height: DpiSettings.scaling(48)
    radius: DpiSettings.scaling(8)
    border.width: 0
    color: !_root.enabled ? _root.disabledColor
        : _mouseArea.containsPress ? _root.pressedColor : _root.enabledColor

    Item {
        id: _imageBox

        objectName: "imageBox"
        x: (_root.width - _imageBox.width) / 2
        y: (_root.height - _imageBox.height) / 2
        width: _root.imageWidth
        height: _root.imageHeight

        Image {
            id: _image

            anchors.fill: parent
            source: _root.source
            sourceSize.width: _imageBox.width
            sourceSize.height: _imageBox.height
            mipmap: true
            antialiasing: true
            autoTransform: true
        }

        ColorOverlay {
            objectName: "pressTint"
            anchors.fill: _image
            source: _image
            color: _root.colorImage
            visible: _root.coloredImage && _mouseArea.containsPress
        }

        KMNotifyDot {
            objectName: "notifyDot"
            z: 50
            x: _image.x + _image.width - DpiSettings.scaling(7)
            y: _image.y - DpiSettings.scaling(2)
            type: _root.pointsType
            points: _root.points
            color: _root.pointsColor
        }
    }

    ColorOverlay {
        objectName: "themeTint"
        anchors.fill: _imageBox
        source: _image
        color: Theme.colorIconPrimary
        visible: !Theme.isDark
    }

    MouseArea {
        id: _mouseArea

        anchors.fill: _root
        cursorShape: Qt.PointingHandCursor
        onClicked: mouse => _root.clicked(mouse)
    }

    StateGroup {
        state: _root.type
        states: [
            State {
                name: "primary"

                PropertyChanges {
                    target: _root
                    enabledColor: Theme.colorBackgroundPrimary
                    pressedColor: Theme.colorBackgroundSecondary
                    disabledColor: Theme.colorBackgroundAdditive
                }
            },
            State {
                name: "primary-blue"

                PropertyChanges {
                    target: _root
                    enabledColor: Theme.colorBrand
                    pressedColor: Theme.colorBrandDark
                    disabledColor: Theme.colorBackgroundAdditive
                }
            },
            State {
                name: "clear"

                PropertyChanges {
                    target: _root
                    enabledColor: "transparent"
                    pressedColor: "transparent"
                    disabledColor: "transparent"
                }
            },
            State {
                name: "stroke-blue"

                PropertyChanges {
                    target: _root
                    enabledColor: "transparent"
                    pressedColor: "transparent"
                    disabledColor: "transparent"
                    coloredImage: true
                    colorImage: Theme.colorBrand
                }
            }
        ]
    }

    StateGroup {
        state: _root.size
        states: [
            State {
                name: "xl"

                PropertyChanges {
                    target: _root
                    width: DpiSettings.scaling(64)
                    height: DpiSettings.scaling(64)
                    imageWidth: DpiSettings.scaling(24)
                    imageHeight: DpiSettings.scaling(24)
                }
            },
            State {
                name: "l"

                PropertyChanges {
                    target: _root
                    width: DpiSettings.scaling(56)
                    height: DpiSettings.scaling(56)
                    imageWidth: DpiSettings.scaling(24)
                    imageHeight: DpiSettings.scaling(24)
                }
            },
            State {
                name: "m"

                PropertyChanges {
                    target: _root
                    width: DpiSettings.scaling(48)
                    height: DpiSettings.scaling(48)
                }
            },
            State {
                name: "s"

                PropertyChanges {
                    target: _root
                    width: DpiSettings.scaling(40)
                    height: DpiSettings.scaling(40)
                    imageWidth: DpiSettings.scaling(20)
                    imageHeight: DpiSettings.scaling(20)
                }
            },
            State {
                name: "xs"

                PropertyChanges {
                    target: _root
                    width: DpiSettings.scaling(32)
                    height: DpiSettings.scaling(32)
                    imageWidth: DpiSettings.scaling(20)
                    imageHeight: DpiSettings.scaling(20)
                }
            },
            State {
                name: "xxs"

                PropertyChanges {
                    target: _root
                    width: DpiSettings.scaling(20)
                    height: DpiSettings.scaling(20)
                    imageWidth: DpiSettings.scaling(20)
                    imageHeight: DpiSettings.scaling(20)
                }
            }
        ]
    }
}
