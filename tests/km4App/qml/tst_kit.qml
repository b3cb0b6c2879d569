import QtQuick
import QtQuick.Controls.Basic
import QtTest

import km4App as KM
import "qrc:/km4App/KMUI/UIKit"
import "qrc:/km4App/KMUI/Shared"

// The kit's behaviour: what a press, a key or a property change does. Colours and sizes are
// left to the pixel test.
Item {
    id: _scene

    width: 800
    height: 600

    Component { id: _textButton; TextButton { size: "m"; text: "OK" } }
    Component { id: _imageButton; ImageButton { size: "l"; source: "qrc:/icons/arrow-back-white.svg" } }
    Component { id: _waiter; KMWaiter {} }
    Component { id: _notifyDot; KMNotifyDot {} }
    Component { id: _dialog; StatusDialog {} }
    Component { id: _field; TextField { y: 300; width: 100 } }

    Component {
        id: _counterHost

        Rectangle {
            property alias counter: _counter

            width: 100
            height: 50

            KMClickCounter { id: _counter }
        }
    }

    // The domain field as the login widget declares it, with the owner's key handling.
    Component {
        id: _input

        KMTextInput {
            property int returns: 0

            footerText: "Обязательное поле"
            afterIcon: "qrc:/icons/exit-white.svg"
            Keys.onReturnPressed: returns += 1
            Keys.onEnterPressed: returns += 1
        }
    }

    KitTestCase {
        name: "Kit"
        when: windowShown

        function make(component, properties) {
            const item = createTemporaryObject(component, _scene, properties || {});
            verify(item);
            return item;
        }

        // The folders' own qmldir files and the module's qmldir must name the same singletons,
        // or a theme change would reach only half of the screens.
        function test_themeIsOneInstanceAndSwitches() {
            verify(KM.Theme === Theme);
            verify(KM.DpiSettings === DpiSettings);
            const dark = String(Theme.colorTextPrimary); // a copy, not a live reference
            Theme.theme = "light";
            verify(!Theme.isDark);
            verify(!Qt.colorEqual(Theme.colorTextPrimary, dark));
            Theme.theme = "dark";
            compareColor(Theme.colorTextPrimary, dark, "back in dark");
        }

        function test_buttonsClick_data() {
            return [
                { tag: "text button", component: _textButton, takesFocus: true },
                { tag: "image button", component: _imageButton, takesFocus: false },
            ];
        }

        // A press released outside is no click, back inside it is; a disabled button neither
        // clicks nor takes the focus; no key activates a button.
        function test_buttonsClick(data) {
            const field = make(_field);
            field.forceActiveFocus();
            const button = make(data.component);
            const seen = spy(button, "clicked");
            mousePress(button, 5, 5);
            mouseMove(button, button.width + 40, button.height + 40);
            mouseRelease(button, button.width + 40, button.height + 40);
            compare(seen.count, 0, "released outside");
            mousePress(button, 5, 5);
            mouseMove(button, button.width + 40, 5);
            mouseMove(button, 10, 12);
            mouseRelease(button, 10, 12);
            compare(seen.count, 1, "released inside");
            if (data.takesFocus)
                verify(button.activeFocus, "a click ends the editing elsewhere");
            keyClick(Qt.Key_Space);
            keyClick(Qt.Key_Return);
            compare(seen.count, 1, "keys");
            button.enabled = false;
            field.forceActiveFocus();
            mouseClick(button);
            compare(seen.count, 1, "disabled");
            verify(field.activeFocus);
        }

        function test_clickCounter_data() {
            return [
                { tag: "four quick, a pause, five quick", series: [[4, 0], [5, 1100]], expected: 1 },
                { tag: "ten quick", series: [[10, 0]], expected: 2 },
                { tag: "four quick", series: [[4, 0]], expected: 0 },
            ];
        }

        function test_clickCounter(data) {
            const host = make(_counterHost);
            const seen = spy(host.counter, "triggered");
            for (const [count, pause] of data.series) {
                if (pause > 0)
                    wait(pause);
                for (let i = 0; i < count; ++i)
                    mouseClick(host);
            }
            compare(seen.count, data.expected);
        }

        function test_notifyDot_data() {
            return [
                { tag: "zero hidden", type: "label", points: 0, visible: false, text: "0" },
                { tag: "negative hidden", type: "label", points: -3, visible: false, text: "-3" },
                { tag: "ninety-nine", type: "label", points: 99, visible: true, text: "99" },
                { tag: "hundred", type: "label", points: 100, visible: true, text: "99+" },
                { tag: "dot", type: "dot", points: 150, visible: true, text: undefined },
            ];
        }

        function test_notifyDot(data) {
            const dot = make(_notifyDot, { type: data.type, points: data.points });
            compare(dot.visible, data.visible);
            compare(dot.item.text, data.text);
        }

        function test_waiterAnimatesOnlyWhileVisible() {
            _scene.visible = false;
            const waiter = make(_waiter);
            const spin = findChild(waiter, "spin");
            verify(!spin.running, "hidden parent");
            _scene.visible = true;
            verify(spin.running);
            tryVerify(() => waiter.angle > 30);
            waiter.visible = false;
            verify(!spin.running);
            waiter.visible = true;
            verify(waiter.angle < 30, "starts anew from 0");
        }

        function test_inputIsEmpty_data() {
            return [
                { tag: "nothing", text: "", empty: true },
                { tag: "spaces", text: "   ", empty: true },
                { tag: "one character", text: "  a ", empty: false },
            ];
        }

        function test_inputIsEmpty(data) {
            compare(make(_input, { text: data.text }).isEmpty, data.empty);
        }

        // Typing, or a different text, ends the error; the same text does not.
        function test_inputError() {
            const input = make(_input, { text: "cafe" });
            input.isError = true;
            input.text = "cafe";
            verify(input.isError, "same text");
            verify(findChild(input, "footerLabel").height > 0);
            input.textField.forceActiveFocus();
            keyClick(Qt.Key_A);
            compare(input.text, "cafea");
            verify(!input.isError);
            compare(findChild(input, "footerLabel").height, 0);
        }

        function test_inputReset_data() {
            return [
                { tag: "non-empty leaves the error", text: "cafe", error: false },
                { tag: "empty keeps the error", text: "", error: true },
            ];
        }

        function test_inputReset(data) {
            const input = make(_input, { text: data.text });
            input.isError = true;
            input.reset();
            compare(input.text, "");
            compare(input.isError, data.error);
        }

        function test_inputKeysAndIcon() {
            const input = make(_input, { text: "cafe" });
            const clicked = spy(input, "afterIconClicked");
            input.textField.forceActiveFocus();
            keyClick(Qt.Key_Return);
            keyClick(Qt.Key_Enter);
            compare(input.returns, 2, "return reaches the owner");
            const image = findChild(input, "afterSlot").item.children[0];
            tryVerify(() => image.status === Image.Ready);
            mouseClick(image);
            compare(clicked.count, 1);
        }

        function test_cursorBlinksOnlyWithFocus() {
            const other = make(_field);
            const input = make(_input);
            input.textField.forceActiveFocus();
            const bar = findChild(input.textField, "cursor");
            verify(bar.visible, "starts with the visible half");
            tryVerify(() => !bar.visible, 1000, "then hides");
            tryVerify(() => bar.visible, 1000, "and shows again");
            other.forceActiveFocus();
            verify(!findChild(bar, "blink").running);
            verify(!bar.visible);
        }

        function openDialog(properties) {
            const dialog = make(_dialog, properties);
            dialog.open();
            tryVerify(() => dialog.opened);
            return dialog;
        }

        function part(dialog, name) {
            return findChild(dialog.contentItem, name);
        }

        // The owner closes the dialog: its buttons, Escape and a press outside leave it open.
        function test_dialogStaysOpen() {
            const dialog = openDialog({});
            const accepted = spy(dialog, "accepted");
            const rejected = spy(dialog, "rejected");
            mouseClick(part(dialog, "acceptButton"));
            mouseClick(part(dialog, "rejectButton"));
            keyClick(Qt.Key_Escape);
            mouseClick(_scene, 5, 5);
            compare(accepted.count, 1);
            compare(rejected.count, 1);
            verify(dialog.opened);
            dialog.close();
            tryVerify(() => !dialog.visible);
        }

        function test_dialogShowsAnError() {
            const dialog = openDialog({});
            dialog.close();
            dialog.show("Ошибка", "Нет связи");
            verify(dialog.isError);
            compare(part(dialog, "statusIcon").source.toString(), "qrc:/icons/attention-red.svg");
            compare(part(dialog, "titleLabel").text, "Ошибка");
            compare(part(dialog, "bodyLabel").text, "Нет связи");
            dialog.show("Готово", "", false);
            compare(part(dialog, "statusIcon").source.toString(), "qrc:/icons/attention-green.svg");
        }

        function test_dialogDisabledAcceptEmitsNothing() {
            const dialog = openDialog({ enableAccept: false });
            const accepted = spy(dialog, "accepted");
            mouseClick(part(dialog, "acceptButton"));
            compare(accepted.count, 0);
        }
    }
}
