import QtQuick
import QtTest

import "qrc:/km4App/KMUI/Shared"

// The helpers every test case of the kit uses.
TestCase {
    id: _kit

    function s(x) {
        return DpiSettings.scaling(x);
    }

    function compareColor(actual, expected, message) {
        verify(Qt.colorEqual(actual, expected), `${message}: ${actual} != ${expected}`);
    }

    function spy(target, signalName) {
        const result = createTemporaryObject(_signalSpy, _kit, { target: target, signalName: signalName });
        verify(result.valid);
        return result;
    }

    Component {
        id: _signalSpy

        SignalSpy {}
    }
}
