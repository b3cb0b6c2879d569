import QtQuick

// Counts quick clicks on the item it fills and reports a completed series.
MouseArea {
    id: _root

    property int clickCount: 0
    property int clickCountRequired: 5
    property int maxClickInterval: 1000

    signal triggered

    anchors.fill: parent

    onClicked: {
        _root.clickCount += 1;
        if (_root.clickCount >= _root.clickCountRequired) {
            _root.clickCount = 0;
            _pauseTimer.stop();
            _root.triggered();
        }
        _pauseTimer.restart();
    }

    Timer {
        id: _pauseTimer

        interval: _root.maxClickInterval
        onTriggered: {
            _root.clickCount = 0;
            _pauseTimer.stop();
        }
    }
}
