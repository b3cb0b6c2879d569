import QtQuick
import QtQuick.Controls
import QtQuick.Controls.Basic

import "../UIKit"
import "../Shared"

// Shown while the first data comes in; moves on when a synchronisation has finished, or at once
// when the board works offline.
Rectangle {
    id: _root

    // dbSynced has been emitted during this visit of the page.
    property bool synced: false
    // A sign-in that leads to this page is under way.
    property bool awaited: false
    // A synchronisation ended before the page came: the sign-in's answer can reach the screen
    // after the synchronisation it started, when the GUI thread was held up in between.
    property bool syncedBeforeShown: false

    signal dbSynced
    signal supportClicked

    function finish(): void {
        if (_root.synced)
            return;
        _root.synced = true;
        _root.dbSynced();
    }

    color: Theme.colorBackgroundMain

    onAwaitedChanged: {
        if (_root.awaited)
            _root.syncedBeforeShown = false;
    }

    // Each visit may move on once.
    StackView.onActivating: _root.synced = false
    // qmllint disable unqualified
    StackView.onActivated: {
        if (!appCore.qmlEnv.isOnline || _root.syncedBeforeShown)
            _root.finish();
    }

    Connections {
        target: appCore.syncDBService

        function onSyncFinished() {
            if (_root.visible)
                _root.finish();
            else if (_root.awaited)
                _root.syncedBeforeShown = true;
        }
    }
    // qmllint enable unqualified

    TextButton {
        objectName: "supportButton"
        x: DpiSettings.scaling(24)
        y: DpiSettings.scaling(24)
        type: "clear"
        size: "m"
        beforeIcon: "qrc:/icons/support-blue.svg"
        text: qsTr("Техническая поддержка")
        onClicked: _root.supportClicked()
    }

    Column {
        anchors.centerIn: parent
        spacing: DpiSettings.scaling(32)

        Image {
            anchors.horizontalCenter: parent.horizontalCenter
            width: DpiSettings.scaling(350)
            height: DpiSettings.scaling(70)
            sourceSize.width: width
            sourceSize.height: height
            source: Theme.isDark ? "qrc:/icons/logo/km-logo-text-dark.svg"
                                 : "qrc:/icons/logo/km-logo-text-light.svg"
        }

        Item {
            width: 1
            height: DpiSettings.scaling(18)
        }

        KMWaiter {
            anchors.horizontalCenter: parent.horizontalCenter
            width: DpiSettings.scaling(120)
            height: DpiSettings.scaling(120)
        }

        // qmllint disable unqualified
        Label {
            objectName: "statusLabel"
            anchors.horizontalCenter: parent.horizontalCenter
            horizontalAlignment: Text.AlignHCenter
            text: qsTr("Пожалуйста ожидайте...%1").arg(appCore.authPage.loadingStatus)
            font.pixelSize: DpiSettings.scaling(14)
            font.weight: Font.Normal
            color: Theme.colorStrokeLight
        }
        // qmllint enable unqualified
    }
}
