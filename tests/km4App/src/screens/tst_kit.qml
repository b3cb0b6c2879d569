import QtQuick
import QtQuick.Controls.Basic
import QtTest

import km4App as KM
import "qrc:/km4App/KMUI/UIKit"
import "qrc:/km4App/KMUI/Shared"

// The kit's behaviour: what a press, a key or a property change does.
Item {
    id: _scene

    width: 800
    height: 600

    Component { id: _textButton; TextButton { size: "m"; text: "OK" } }
    Component { id: _imageButton; ImageButton { size: "l"; source: "qrc:/icons/arrow-back-white.svg" } }
    Component { id: _waiter; KMWaiter {} }
    Component { id: _dialog; StatusDialog {} }
    Component { id: _field; TextField { y: 300; width: 100 } }
    Component { id: _input; KMTextInput { footerText: "Обязательное поле" } }

    ScreenTestCase {
        name: "Kit"

        function make(component, properties) {
            return createTemporaryObject(component, _scene, properties || {});
        }

        // The folders' own qmldir files and the module's must name the same singletons, or a
        // change would reach only half of the screens; sizes follow the screen's density.
        function test_dpiScaling() {
            verify(KM.Theme === Theme && KM.DpiSettings === DpiSettings);
            const screenDpi = DpiSettings.dpi;
            const button = make(_textButton);
            DpiSettings.dpi = 100;
            const plain = button.height;
            DpiSettings.dpi = 320;
            compare(button.height, plain * 2);
            DpiSettings.dpi = screenDpi;
        }

        // A press released outside is no click, back inside it is; a disabled button neither
        // clicks nor takes the focus; no key activates a button. A text button's click ends the
        // editing elsewhere.
        function test_buttonsClick() {
            for (const component of [_textButton, _imageButton]) {
                const field = make(_field);
                field.forceActiveFocus();
                const button = make(component);
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
                compare(button.activeFocus, component === _textButton, "focus");
                keyClick(Qt.Key_Space);
                keyClick(Qt.Key_Return);
                compare(seen.count, 1, "keys");
                button.enabled = false;
                field.forceActiveFocus();
                mouseClick(button);
                compare(seen.count, 1, "disabled");
                verify(field.activeFocus);
            }
        }

        function test_waiterAnimatesOnlyWhileVisible() {
            _scene.visible = false;
            const waiter = make(_waiter);
            const spin = findChild(waiter, "spin");
            verify(!spin.running, "hidden parent");
            _scene.visible = true;
            verify(spin.running);
            tryVerify(() => waiter.angle > 30, patience);
            waiter.visible = false;
            verify(!spin.running);
            waiter.visible = true;
            verify(waiter.angle < 30, "starts anew from 0");
        }

        // Typing, a different text or a reset to nothing ends the error; the same text, or a
        // reset of an empty field, does not.
        function test_inputError_data() {
            return [
                { tag: "same text", text: "cafe", change: input => input.text = "cafe", error: true },
                { tag: "typing", text: "cafe", change: () => keyClick(Qt.Key_A), error: false },
                { tag: "reset", text: "cafe", change: input => input.reset(), error: false },
                { tag: "reset of nothing", text: "", change: input => input.reset(), error: true },
            ];
        }

        function test_inputError(data) {
            const input = make(_input, { text: data.text });
            input.textField.forceActiveFocus();
            input.isError = true;
            data.change(input);
            compare(input.isError, data.error);
            compare(findChild(input, "footerLabel").height > 0, data.error);
        }

        // The owner closes the dialog: its buttons, Escape and a press outside leave it open, and
        // a disabled accept button says nothing.
        function test_dialogStaysOpen() {
            const dialog = make(_dialog);
            dialog.open();
            tryVerify(() => dialog.opened, patience);
            const accepted = spy(dialog, "accepted");
            const rejected = spy(dialog, "rejected");
            for (const enabled of [false, true]) {
                dialog.enableAccept = enabled;
                mouseClick(findChild(dialog.contentItem, "acceptButton"));
            }
            mouseClick(findChild(dialog.contentItem, "rejectButton"));
            keyClick(Qt.Key_Escape);
            mouseClick(_scene, 5, 5);
            compare([accepted.count, rejected.count], [1, 1]);
            verify(dialog.opened);
        }
    }
}
