import QtQuick
import QtQuick.Controls.Basic

import "KMUI/UIKit"
import "KMUI/Pages"
import "KMUI/Widgets"

// The application window: the stack of the login, loading and board pages, and the support panel
// that "*" opens and closes on every page. Components reach it through ApplicationWindow.window.
ApplicationWindow {
    id: _app

    // Each press turns the panel the other way, also while it slides.
    function toggleSupport(): void {
        if (_supportDialog.openedOrOpening)
            _supportDialog.close();
        else
            _supportDialog.open();
    }

    width: 1280
    height: 776
    visible: true
    title: qsTr("Kolmira Queque V4")
    font.family: "Onest"
    color: Theme.colorBackgroundSecondary

    StackView {
        id: _stack

        objectName: "pageStack"
        anchors.fill: parent
        initialItem: _authPage
    }

    AuthPage {
        id: _authPage

        objectName: "authPage"
        // A second signal for the same sign-in, or one that comes while the stack moves, must
        // not stack the loading page twice.
        onSigned: {
            if (_stack.currentItem === _authPage)
                _stack.push(_loadingPage);
        }
        onSecretMenuCalled: _supportDialog.open()
    }

    LoadingPage {
        id: _loadingPage

        objectName: "loadingPage"
        visible: false
        awaited: _authPage.signingIn
        onDbSynced: {
            if (_stack.currentItem === _loadingPage)
                _stack.push(_ordersPage);
        }
        onSupportClicked: _supportDialog.open()
    }

    OrdersPage {
        id: _ordersPage

        objectName: "ordersPage"
        visible: false
    }

    Shortcut {
        sequence: "*"
        context: Qt.ApplicationShortcut
        onActivated: _app.toggleSupport()
    }

    // qmllint disable unqualified
    SupportDialog {
        id: _supportDialog

        objectName: "supportDialog"
        y: _app.height / 2 - _supportDialog.height / 2
        idc: String(appCore.authPage.clientId)
        idq: String(appCore.authPage.queueId)
        domain: appCore.authPage.domain
        partner: appCore.authPage.partner
        email: appCore.authPage.email
        networkInfo: appCore.authPage.networkInfo
        supportPhone: appCore.authPage.supportPhone
        versioName: appCore.authPage.longVersionString
        visibleRemoveButton: _stack.currentItem !== _authPage
        visibleExitButton: true
        onOpenRemoveDialogClicked: _supportDialog.openAnswerDialog()
        // Whatever the wipe answers, and whenever, the board goes back to the login page.
        onAllStopAndRemove: appCore.dispatch("remove_db", {}, function () {
            _supportDialog.close();
            _stack.pop(null);
        })
    }
    // qmllint enable unqualified
}
