import QtQuick
import QtTest

import "qrc:/km4App/KMUI/UIKit"
import "qrc:/km4App/KMUI/Shared"

Item {
    id: _scene

    width: 400
    height: 400

    KitTestCase {
        name: "SmallPieces"
        when: windowShown

        Component {
            id: _counterHost

            Rectangle {
                property alias counter: _counter

                width: 100
                height: 50

                KMClickCounter {
                    id: _counter
                }
            }
        }

        Component {
            id: _notifyDot

            KMNotifyDot {}
        }

        Component {
            id: _titleValue

            KMTitleValueText {
                title: "Домен"
                value: "cafe"
            }
        }

        function clicks(host, count) {
            for (let i = 0; i < count; ++i)
                mouseClick(host);
        }

        function test_clickCounter_data() {
            return [
                { tag: "five clicks 900 ms apart", series: [[1, 0], [1, 900], [1, 900], [1, 900], [1, 900]], expected: 1 },
                { tag: "four quick, a pause, five quick", series: [[4, 0], [5, 1100]], expected: 1 },
                { tag: "ten quick", series: [[10, 0]], expected: 2 },
                { tag: "four quick", series: [[4, 0]], expected: 0 },
            ];
        }

        function test_clickCounter(data) {
            const host = createTemporaryObject(_counterHost, _scene);
            const seen = spy(host.counter, "triggered");
            compare(host.counter.width, host.width, "fills its parent");
            for (const [count, pause] of data.series) {
                if (pause > 0)
                    wait(pause);
                clicks(host, count);
            }
            compare(seen.count, data.expected);
        }

        function test_clickCounterStartsAgainAfterTrigger() {
            const host = createTemporaryObject(_counterHost, _scene);
            clicks(host, 7);
            compare(host.counter.clickCount, 2);
            wait(1100);
            compare(host.counter.clickCount, 0, "a pause resets the count");
        }

        function test_notifyDot_data() {
            return [
                { tag: "zero hidden", type: "label", points: 0, visible: false, text: "0" },
                { tag: "negative hidden", type: "label", points: -3, visible: false, text: "-3" },
                { tag: "one", type: "label", points: 1, visible: true, text: "1" },
                { tag: "ninety-nine", type: "label", points: 99, visible: true, text: "99" },
                { tag: "hundred", type: "label", points: 100, visible: true, text: "99+" },
                { tag: "unknown type is a label", type: "badge", points: 5, visible: true, text: "5" },
                { tag: "dot", type: "dot", points: 150, visible: true, text: undefined },
            ];
        }

        function test_notifyDot(data) {
            const dot = createTemporaryObject(_notifyDot, _scene, { type: data.type, points: data.points });
            compare(dot.visible, data.visible);
            verify(dot.item);
            compare(dot.item.text, data.text);
            if (data.type !== "dot") {
                verify(Qt.colorEqual(dot.item.background.color, Theme.colorRed));
                compare(dot.item.background.width, dot.item.contentWidth + DpiSettings.scaling(10));
            } else {
                compare(dot.item.children[0].width, DpiSettings.scaling(6));
                compare(dot.item.children[0].x, 1);
            }
        }

        function test_titleValueText() {
            const item = createTemporaryObject(_titleValue, _scene);
            compare(item.children[0].text, "Домен:");
            compare(item.children[1].text, "cafe");
            compare(item.children[0].font.pixelSize, Math.trunc(DpiSettings.scaling(14)));
            compare(item.children[1].font.weight, Font.Medium);
            verify(Qt.colorEqual(item.children[0].color, Theme.colorTextSecondary));
        }
    }
}
