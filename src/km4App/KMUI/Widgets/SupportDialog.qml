import QtQuick
import QtQuick.Controls
import QtQuick.Controls.Basic
import Qt5Compat.GraphicalEffects

import "../Shared"

// The support panel: slides in at the right edge over a darkened, blurred picture of the window.
Dialog {
    id: _root

    property var backgroundItem: ApplicationWindow.window ? ApplicationWindow.window.contentItem : null
    property var networkInfo
    property string idc: ""
    property string idq: ""
    property string domain: ""
    property string partner: ""
    property string email: ""
    property string versioName: ""
    property string supportPhone: ""
    property bool visibleRemoveButton: false
    property bool visibleExitButton: false
    // Where the panel is heading: true from the start of its slide in until the start of its
    // slide out. `opened` is false during both slides, so it cannot tell which way to turn.
    property bool openedOrOpening: false
    // How long the panel takes to slide in or out, in milliseconds.
    property int slideDuration: 200

    signal openRemoveDialogClicked
    signal allStopAndRemove

    function openAnswerDialog(): void {
        _widget.openAnswerDialog();
    }

    parent: Overlay.overlay
    width: DpiSettings.scaling(428)
    height: DpiSettings.scaling(760)
    modal: true
    dim: true
    padding: 0
    background: null

    onAboutToShow: _root.openedOrOpening = true
    onAboutToHide: _root.openedOrOpening = false

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

    enter: Transition {
        NumberAnimation {
            property: "x"
            from: _root.parent ? _root.parent.width : 0
            to: (_root.parent ? _root.parent.width : 0) - _root.width - DpiSettings.scaling(8)
            duration: _root.slideDuration
        }
    }

    exit: Transition {
        NumberAnimation {
            property: "x"
            from: (_root.parent ? _root.parent.width : 0) - _root.width - DpiSettings.scaling(8)
            to: _root.parent ? _root.parent.width : 0
            duration: _root.slideDuration
        }
    }

    SupportWidget {
        id: _widget

        width: _root.width
        height: _root.height
        idc: _root.idc
        idq: _root.idq
        domain: _root.domain
        partner: _root.partner
        email: _root.email
        versioName: _root.versioName
        supportPhone: _root.supportPhone
        networkInfo: _root.networkInfo
        visibleRemoveButton: _root.visibleRemoveButton
        visibleExitButton: _root.visibleExitButton
        onBackClicked: _root.reject()
        onAllStopAndRemove: _root.allStopAndRemove()
        onOpenRemoveDialogClicked: _root.openRemoveDialogClicked()
    }
}
