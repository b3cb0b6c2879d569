import QtQuick
import QtQuick.Controls
import QtQuick.Controls.Basic
import Qt5Compat.GraphicalEffects

import "../Shared"

// Modal message over a darkened, blurred picture of the window: status icon, title, body and a
// footer. Its buttons only report; whoever opened the dialog closes it.
Dialog {
    id: _root

    property var backgroundItem: ApplicationWindow.window ? ApplicationWindow.window.contentItem : null
    property string text: ""
    property string body: ""
    property string acceptText: qsTr("Продолжить")
    property bool visibleCancel: true
    property bool enableAccept: true
    property bool visibleFooter: true
    property bool isError: false

    function show(title: string, body: string, isError): void {
        _root.text = title;
        _root.body = body;
        _root.isError = isError === undefined ? true : isError;
        _root.open();
    }

    parent: Overlay.overlay
    modal: true
    dim: true
    closePolicy: Popup.NoAutoClose
    padding: 0
    background: null

    width: Math.min(DpiSettings.scaling(384), (_root.parent ? _root.parent.width : 0) - DpiSettings.scaling(16))
    height: _column.height
    x: (_root.parent ? _root.parent.width : 0) / 2 - _root.width / 2
    y: (_root.parent ? _root.parent.height : 0) / 2 - _root.height / 2

    // qmllint disable unqualified
    Overlay.modal: Rectangle {
        color: "#AA000000"

        FastBlur {
            z: -1
            anchors.fill: parent
            source: _root.backgroundItem
            radius: DpiSettings.scaling(48)
        }
    }
    // qmllint enable unqualified

    Column {
        id: _column

        width: _root.availableWidth

        Rectangle {
            id: _card

            objectName: "card"
            width: _column.width
            height: _texts.height + DpiSettings.scaling(48)
            radius: DpiSettings.scaling(12)
            color: Theme.colorBackgroundPrimary

            Column {
                id: _texts

                x: DpiSettings.scaling(24)
                y: DpiSettings.scaling(24)
                width: _card.width - DpiSettings.scaling(48)
                spacing: DpiSettings.scaling(10)

                Image {
                    objectName: "statusIcon"
                    anchors.horizontalCenter: parent.horizontalCenter
                    width: DpiSettings.scaling(32)
                    height: DpiSettings.scaling(32)
                    sourceSize.width: width
                    sourceSize.height: height
                    source: _root.isError ? "qrc:/icons/attention-red.svg" : "qrc:/icons/attention-green.svg"
                }

                Item {
                    width: _texts.width
                    height: 1
                }

                Label {
                    objectName: "titleLabel"
                    width: _texts.width
                    horizontalAlignment: Text.AlignHCenter
                    wrapMode: Text.WordWrap
                    text: _root.text
                    color: Theme.colorTextPrimary
                    font.pixelSize: DpiSettings.scaling(18)
                    font.bold: true
                }

                Label {
                    objectName: "bodyLabel"
                    width: _texts.width
                    horizontalAlignment: Text.AlignHCenter
                    wrapMode: Text.WordWrap
                    text: _root.body
                    color: Theme.colorTextPrimary
                    font.pixelSize: DpiSettings.scaling(14)
                    font.weight: Font.Normal
                }
            }
        }

        DialogFooter {
            objectName: "footer"
            width: _column.width
            visible: _root.visibleFooter
            acceptText: _root.acceptText
            enableAccept: _root.enableAccept
            visibleReject: _root.visibleCancel
            fullWidthAccept: !_root.visibleCancel
            onAccepted: _root.accepted()
            onRejected: _root.rejected()
        }
    }
}
