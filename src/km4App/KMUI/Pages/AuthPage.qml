import QtQuick
import QtQuick.Controls
import QtQuick.Controls.Basic
import Qt5Compat.GraphicalEffects

import "../UIKit"
import "../Shared"
import "../Widgets"
import "../Features"

// The login page: the domain view and the language view on the right, the product and its
// version at the bottom left. It signs in by itself once the stored settings hold a domain.
Item {
    id: _root

    // Set by the first sign-in of the page's life, by hand or by itself.
    property bool signInStarted: false
    // A sign-in waits for its answer.
    readonly property bool signingIn: _domainWidget.isLoading

    signal signed
    signal secretMenuCalled

    function validate(): bool {
        if (_domainWidget.domainInput.isEmpty) {
            _domainWidget.domainInput.isError = true;
            return false;
        }
        return true;
    }

    function domainAuth(domain: string): void {
        // One sign-in at a time: a second Return or click while one waits starts nothing.
        if (_domainWidget.isLoading)
            return;
        _root.signInStarted = true;
        _domainWidget.isLoading = true;
        _domainWidget.statusText = "";
        // qmllint disable unqualified
        appCore.dispatch("auth_domain", { "domain": domain }, function (failure) {
            _domainWidget.isLoading = false;
            if (failure) {
                _domainWidget.statusText = failure;
                return;
            }
            _root.signed();
        });
        // qmllint enable unqualified
    }

    function signIn(): void {
        if (_root.validate())
            _root.domainAuth(_domainWidget.domain);
    }

    // The stored pairing signs in by itself once, as long as nobody has started a sign-in and
    // the page is the one on screen. A domain typed by hand or set by a pairing never does.
    function signInWithStoredDomain(): void {
        const stored = _domainWidget.domain.trim();
        if (stored.length === 0 || _root.signInStarted || !_root.visible)
            return;
        _root.domainAuth(stored);
    }

    Keys.onReturnPressed: _root.signIn()
    Keys.onEnterPressed: _root.signIn()

    // The settings are read in the background: act now when the domain is already in, otherwise
    // when the first load ends.
    Component.onCompleted: _root.signInWithStoredDomain()

    // qmllint disable unqualified
    Connections {
        target: appCore.qmlEnv

        function onSettingsLoadedChanged() {
            _root.signInWithStoredDomain();
        }
    }
    // qmllint enable unqualified

    Image {
        anchors.fill: parent
        source: "qrc:/icons/background.png"
        fillMode: Image.PreserveAspectCrop
    }

    Rectangle {
        anchors.fill: parent
        color: "#AA000000"
    }

    Rectangle {
        anchors.fill: parent
        color: Theme.isDark ? "transparent" : "#19FFFFFF"
    }

    // qmllint disable unqualified
    Image {
        objectName: "configuredLogo"
        x: DpiSettings.scaling(40)
        y: DpiSettings.scaling(40)
        height: DpiSettings.scaling(88)
        fillMode: Image.PreserveAspectFit
        source: appCore.authPage.logo
    }
    // qmllint enable unqualified

    Column {
        id: _productColumn

        x: DpiSettings.scaling(40)
        y: _root.height - _productColumn.height - DpiSettings.scaling(40)
        spacing: DpiSettings.scaling(20)

        Image {
            objectName: "productLogo"
            width: DpiSettings.scaling(205)
            height: DpiSettings.scaling(28)
            sourceSize.width: width
            sourceSize.height: height
            source: "qrc:/icons/logo/km-logo-queue.svg"

            KMClickCounter {
                objectName: "secretClicks"
                onTriggered: _root.secretMenuCalled()
            }
        }

        // qmllint disable unqualified
        Label {
            objectName: "versionLabel"
            text: qsTr("Версия приложения %1").arg(appCore.authPage.shortVersionString)
            font.pixelSize: DpiSettings.scaling(14)
            font.weight: Font.Normal
            color: Theme.isDark ? Theme.colorTextCaption : Theme.colorTextButton
        }
        // qmllint enable unqualified
    }

    Column {
        id: _rightColumn

        width: DpiSettings.scaling(428)
        height: Math.min(_root.height - DpiSettings.scaling(16), DpiSettings.scaling(760))
        x: _root.width - DpiSettings.scaling(428) - DpiSettings.scaling(8)
        y: (_root.height - _rightColumn.height) / 2

        Item {
            width: _rightColumn.width
            height: _rightColumn.height - DpiSettings.scaling(104)

            SwipeView {
                id: _swipe

                objectName: "loginSwipe"
                anchors.fill: parent
                interactive: false
                clip: true
                layer.enabled: true
                // qmllint disable unqualified
                layer.effect: OpacityMask {
                    maskSource: Rectangle {
                        width: _swipe.width
                        height: _swipe.height
                        radius: DpiSettings.scaling(8)
                    }
                }
                // qmllint enable unqualified

                // qmllint disable unqualified
                LoginDomainWidget {
                    id: _domainWidget

                    objectName: "domainWidget"
                    language: "Русский"
                    domain: appCore.qmlEnv.domain
                    onSignInClicked: _root.signIn()
                    onSelectLanguageClicked: _swipe.currentIndex = 1
                }
                // qmllint enable unqualified

                LanguageSelectWidget {
                    objectName: "languageWidget"
                    // The board has one language; saving it changes nothing else.
                    model: [{ "name": "Русский", "action": "ru" }]
                    action: "ru"
                    onBackClicked: _swipe.currentIndex = 0
                    onLanguageSelected: _swipe.currentIndex = 0
                }
            }
        }

        // qmllint disable unqualified
        SupportPhoneView {
            objectName: "loginPhone"
            phone: appCore.authPage.supportPhone
            isLogoutVisible: true
            onExitClicked: Qt.quit()
        }
        // qmllint enable unqualified
    }
}
