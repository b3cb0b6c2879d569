import QtQuick
import QtQuick.Controls.Basic

import "KMUI/UIKit"

// The application window. Components reach it through ApplicationWindow.window, never by id.
ApplicationWindow {
    id: _app

    width: 1280
    height: 776
    visible: true
    title: qsTr("Kolmira Queque V4")
    font.family: "Onest"
    color: Theme.colorBackgroundSecondary
}
