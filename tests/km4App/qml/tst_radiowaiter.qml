import QtQuick
import QtTest

import "qrc:/km4App/KMUI/UIKit"
import "qrc:/km4App/KMUI/Shared"

Item {
    id: _scene

    width: 600
    height: 400

    Component {
        id: _radio

        KMRadioButton {
            width: 300
            height: 48
            padding: 0
            text: "Русский"
        }
    }

    Component {
        id: _waiter

        KMWaiter {}
    }

    KitTestCase {
        name: "RadioAndWaiter"
        when: windowShown

        function dot(radio) {
            return findChild(radio.indicator, "dot");
        }

        function test_clickOnlyReports() {
            const radio = createTemporaryObject(_radio, _scene);
            const seen = spy(radio, "clicked");
            mouseClick(radio, 10, 10);
            mouseClick(radio, radio.width - 5, radio.height / 2);
            compare(seen.count, 2);
            verify(!radio.checked, "the owner decides");
            verify(!dot(radio).visible);
            radio.checked = true;
            verify(dot(radio).visible);
        }

        function test_mirror_data() {
            return [
                { tag: "indicator at the right", mirror: false },
                { tag: "indicator at the left", mirror: true },
            ];
        }

        function test_mirror(data) {
            const radio = createTemporaryObject(_radio, _scene, { mirror: data.mirror });
            const pad = radio.indicator.width + radio.spacing;
            compare(radio.indicator.x, data.mirror ? 0 : radio.width - radio.indicator.width);
            compare(radio.indicator.y, (radio.height - radio.indicator.height) / 2);
            compare(radio.contentItem.leftPadding, data.mirror ? pad : 0);
            compare(radio.contentItem.rightPadding, data.mirror ? 0 : pad);
        }

        function test_waiterAnimatesOnlyWhileVisible() {
            const waiter = createTemporaryObject(_waiter, _scene);
            compare(waiter.width, 120);
            const spin = findChild(waiter, "spin");
            verify(spin.running);
            tryVerify(() => waiter.angle > 30);
            waiter.visible = false;
            verify(!spin.running);
            const stoppedAt = waiter.angle;
            wait(100);
            compare(waiter.angle, stoppedAt, "stays where it stopped");
            waiter.visible = true;
            verify(spin.running);
            verify(waiter.angle < stoppedAt, "starts anew from 0");
        }

        function test_waiterInHiddenParentDoesNotRun() {
            _scene.visible = false;
            const waiter = createTemporaryObject(_waiter, _scene);
            const spin = findChild(waiter, "spin");
            verify(!spin.running);
            _scene.visible = true;
            verify(spin.running);
        }
    }
}
