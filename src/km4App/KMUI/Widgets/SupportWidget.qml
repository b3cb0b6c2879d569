import QtQuick
import QtQuick.Controls
import QtQuick.Controls.Basic

import "../UIKit"
import "../Shared"
import "../Features"

// Content of the support panel: the facts, the telephone, and the wipe behind a confirmation
// that can be accepted only after a countdown.
Column {
    id: _root

    property string idc: ""
    property string idq: ""
    property string domain: ""
    property string partner: ""
    property string email: ""
    property string versioName: ""
    property string supportPhone: ""
    property var networkInfo
    property bool visibleRemoveButton: false
    property bool visibleExitButton: false
    property int timerCount: 5
    property string acceptText: qsTr("Продолжить (%1)").arg(_root.timerCount)

    signal openRemoveDialogClicked
    signal backClicked
    signal allStopAndRemove

    function openAnswerDialog(): void {
        _statusDialog.open();
    }

    Rectangle {
        id: _card

        objectName: "supportCard"
        width: _root.width
        height: _root.height - DpiSettings.scaling(104)
        radius: DpiSettings.scaling(12)
        color: Theme.colorBackgroundPrimary

        Row {
            x: DpiSettings.scaling(24)
            y: DpiSettings.scaling(24)
            height: DpiSettings.scaling(48)
            spacing: DpiSettings.scaling(12)

            ImageButton {
                objectName: "supportBackButton"
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
                text: qsTr("Техническая поддержка")
                font.pixelSize: DpiSettings.scaling(16)
                font.bold: true
                color: Theme.colorTextPrimary
            }
        }

        SupportView {
            objectName: "supportView"
            x: DpiSettings.scaling(24)
            y: DpiSettings.scaling(92)
            width: _card.width - DpiSettings.scaling(48)
            height: _card.height - DpiSettings.scaling(92) - DpiSettings.scaling(24)
            idc: _root.idc
            idq: _root.idq
            domain: _root.domain
            partner: _root.partner
            email: _root.email
            versioName: _root.versioName
            networkInfo: _root.networkInfo
            visibleRemoveButton: _root.visibleRemoveButton
            visibleExitButton: _root.visibleExitButton
            onRemoveAllClicked: _root.openRemoveDialogClicked()
            onLogoutClicked: Qt.quit()
        }
    }

    SupportPhoneView {
        height: DpiSettings.scaling(104)
        phone: _root.supportPhone
        isLogoutVisible: false
    }

    StatusDialog {
        id: _statusDialog

        objectName: "confirmDialog"
        text: qsTr("Удалять данные можно только по рекомендации технической поддержки")
        body: qsTr("Вы уверены что хотите продолжить?")
        acceptText: _root.timerCount !== 0 ? _root.acceptText : qsTr("Продолжить")
        enableAccept: _root.timerCount === 0
        onOpened: _timer.start()
        onClosed: {
            _timer.stop();
            _root.timerCount = 5;
        }
        onRejected: _statusDialog.close()
        onAccepted: {
            _root.allStopAndRemove();
            _statusDialog.close();
        }
    }

    Timer {
        id: _timer

        interval: 1000
        repeat: true
        onTriggered: {
            if (_root.timerCount !== 0)
                _root.timerCount -= 1;
            else
                _timer.stop();
        }
    }
}
