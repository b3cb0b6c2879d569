import QtQuick
import QtQuick.Controls
import QtQuick.Controls.Basic
import Qt5Compat.GraphicalEffects

import "../Shared"

// One-line text entry: an optional header, a framed field with a slot at each end, and a footer
// line that carries the error message while the input is in its error state.
Column {
    id: _root

    property color headerTextColor: Theme.colorTextSecondary
    property string headerText: ""
    property string footerText: ""
    property bool isError: false
    property double fieldHeight: DpiSettings.scaling(56)
    property double fieldRadius: DpiSettings.scaling(8)
    property color backgroundColor: Theme.colorBackgroundBasic
    property string inputMask: ""
    property string beforeIcon: ""
    property string afterIcon: ""
    property string afterText: ""
    property string placeholderText: ""
    property alias echoMode: _field.echoMode
    property alias text: _field.text
    readonly property bool isEmpty: _field.text.trim().length === 0
    property alias textField: _field
    property alias headerLabel: _headerLabel
    property var beforeComponent: _beforeIconComponent

    signal beforeIconClicked
    signal afterIconClicked
    signal editingFinished

    function reset() {
        _field.clear();
    }

    width: DpiSettings.scaling(289)
    spacing: DpiSettings.scaling(4)

    Label {
        id: _headerLabel

        width: _root.width
        height: _root.headerText.trim().length === 0 ? 0 : DpiSettings.scaling(24)
        text: _root.headerText
        color: _root.headerTextColor
        font.pixelSize: DpiSettings.scaling(14)
        verticalAlignment: Text.AlignVCenter
        elide: Text.ElideMiddle
    }

    TextField {
        id: _field

        property color selectionColorRGB: Theme.colorBrand

        width: _root.width
        height: _root.fieldHeight
        leftPadding: _root.beforeIcon !== "" ? DpiSettings.scaling(48) : DpiSettings.scaling(12)
        rightPadding: _root.afterIcon !== "" || _root.afterText !== "" ? DpiSettings.scaling(48)
                                                                       : DpiSettings.scaling(12)
        verticalAlignment: TextInput.AlignVCenter
        font.pixelSize: DpiSettings.scaling(16)
        inputMask: _root.inputMask
        color: Theme.colorTextPrimary
        placeholderText: _root.placeholderText
        placeholderTextColor: Theme.colorTextPrimary
        selectionColor: Qt.rgba(_field.selectionColorRGB.r, _field.selectionColorRGB.g,
                                _field.selectionColorRGB.b, 0.2)
        selectedTextColor: Theme.colorTextPrimary

        // qmllint disable unqualified
        cursorDelegate: KMCursor {
            objectName: "cursor"
            isError: _root.isError
            hostCursorVisible: _field.cursorVisible
        }
        // qmllint enable unqualified

        background: Rectangle {
            objectName: "fieldBackground"
            width: _root.width
            radius: _root.fieldRadius
            color: _root.backgroundColor
            border.width: _root.isError || _field.activeFocus ? 1 : 0
            border.color: _root.isError ? Theme.colorRed : Theme.colorBrand
        }

        // Any change of the text, by typing or by an owner, ends the error state.
        onTextChanged: _root.isError = false
        onEditingFinished: _root.editingFinished()

        Loader {
            id: _beforeSlot

            objectName: "beforeSlot"
            x: DpiSettings.scaling(12)
            y: (_field.height - _beforeSlot.height) / 2
            sourceComponent: _root.beforeComponent !== _beforeIconComponent ? _root.beforeComponent
                : _root.beforeIcon !== "" ? _beforeIconComponent : null
        }

        Loader {
            id: _afterSlot

            objectName: "afterSlot"
            width: DpiSettings.scaling(20)
            height: DpiSettings.scaling(20)
            x: _root.width - _afterSlot.width - DpiSettings.scaling(12)
            y: (_field.height - _afterSlot.height) / 2
            sourceComponent: _root.afterText !== "" ? _afterLabelComponent : _afterIconComponent
        }
    }

    Label {
        objectName: "footerLabel"
        width: _root.width
        height: _root.isError ? DpiSettings.scaling(16) : 0
        visible: _root.footerText !== ""
        text: _root.footerText
        color: Theme.colorRed
        font.pixelSize: DpiSettings.scaling(12)
        verticalAlignment: Text.AlignVCenter
        elide: Text.ElideRight
    }

    // The linter does not follow ids into inline components; the engine does.
    // qmllint disable unqualified
    Component {
        id: _beforeIconComponent

        Item {
            width: DpiSettings.scaling(20)
            height: DpiSettings.scaling(20)

            Image {
                id: _beforeImage

                anchors.fill: parent
                source: _root.beforeIcon
                sourceSize.width: width
                sourceSize.height: height

                MouseArea {
                    anchors.fill: parent
                    cursorShape: Qt.PointingHandCursor
                    onClicked: _root.beforeIconClicked()
                }
            }

            ColorOverlay {
                anchors.fill: parent
                source: _beforeImage
                color: Theme.colorIconSecondary
                visible: !Theme.isDark
            }
        }
    }

    Component {
        id: _afterIconComponent

        Item {
            Image {
                id: _afterImage

                source: _root.afterIcon

                MouseArea {
                    anchors.fill: parent
                    cursorShape: Qt.PointingHandCursor
                    onClicked: _root.afterIconClicked()
                }
            }

            ColorOverlay {
                anchors.fill: parent
                source: _afterImage
                color: Theme.colorIconSecondary
                visible: !Theme.isDark
            }
        }
    }

    Component {
        id: _afterLabelComponent

        Label {
            text: _root.afterText
            color: Theme.colorTextPrimary
        }
    }
    // qmllint enable unqualified
}
