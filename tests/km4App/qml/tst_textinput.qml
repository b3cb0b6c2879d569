import QtQuick
import QtQuick.Controls.Basic
import QtTest

import "qrc:/km4App/KMUI/UIKit"
import "qrc:/km4App/KMUI/Shared"

Item {
    id: _scene

    width: 600
    height: 400

    // The domain field as the login widget declares it, with the owner's key handling.
    Component {
        id: _input

        KMTextInput {
            property int returns: 0

            footerText: "Обязательное поле"
            placeholderText: "Домен"
            Keys.onReturnPressed: returns += 1
            Keys.onEnterPressed: returns += 1
        }
    }

    Component {
        id: _ownSlot

        Rectangle {
            objectName: "ownSlot"
            width: 10
            height: 10
        }
    }

    Component {
        id: _other

        TextField {
            y: 300
        }
    }

    KitTestCase {
        name: "KMTextInput"
        when: windowShown

        function makeInput(properties) {
            const input = createTemporaryObject(_input, _scene, properties);
            verify(input);
            return input;
        }

        function background(input) {
            return input.textField.background;
        }

        function footer(input) {
            return findChild(input, "footerLabel");
        }

        function cursor(input) {
            return findChild(input.textField, "cursor");
        }

        function test_layout() {
            const input = makeInput({});
            compare(input.width, s(289));
            compare(input.textField.height, s(56));
            compare(background(input).border.width, 0);
            compareColor(input.textField.placeholderTextColor, Theme.colorTextPrimary, "placeholder");
            compareColor(input.textField.selectionColor, Qt.rgba(0, 0x9C / 255, 0xF3 / 255, 0.2), "selection");
        }

        function test_isEmpty_data() {
            return [
                { tag: "nothing", text: "", empty: true },
                { tag: "spaces", text: "   ", empty: true },
                { tag: "one character", text: "  a ", empty: false },
            ];
        }

        function test_isEmpty(data) {
            const input = makeInput({});
            input.text = data.text;
            compare(input.isEmpty, data.empty);
        }

        function test_typingEndsTheError() {
            const input = makeInput({});
            input.isError = true;
            compare(footer(input).height, s(16));
            input.textField.forceActiveFocus();
            compareColor(background(input).border.color, Theme.colorRed, "red border");
            compareColor(cursor(input).color, Theme.colorRed, "red cursor");
            keyClick(Qt.Key_A);
            compare(input.text, "a");
            verify(!input.isError);
            compare(background(input).border.width, 1, "focused");
            compareColor(background(input).border.color, Theme.colorBrand, "brand border");
            compareColor(cursor(input).color, Theme.colorBrand, "brand cursor");
            compare(footer(input).height, 0);
        }

        function test_onlyADifferentTextEndsTheError() {
            const input = makeInput({ text: "cafe" });
            input.isError = true;
            input.text = "cafe";
            verify(input.isError, "same text");
            input.text = "bar";
            verify(!input.isError, "different text");
        }

        function test_afterSlot() {
            const input = makeInput({ afterIcon: "qrc:/icons/exit-white.svg" });
            const slot = findChild(input, "afterSlot");
            compare(input.textField.rightPadding, s(48));
            compare(slot.item.children[0].source.toString(), "qrc:/icons/exit-white.svg");
            input.afterText = "₽";
            compare(slot.item.text, "₽", "the text replaces the icon");
            compare(input.textField.rightPadding, s(48));
            input.afterText = "";
            input.afterIcon = "";
            compare(input.textField.rightPadding, s(12));
            verify(slot.item, "the icon is loaded even without a source");
        }

        function test_afterIconClick() {
            const input = makeInput({ afterIcon: "qrc:/icons/exit-white.svg", text: "cafe" });
            const seen = spy(input, "afterIconClicked");
            const image = findChild(input, "afterSlot").item.children[0];
            tryVerify(() => image.status === Image.Ready);
            mouseClick(image);
            compare(seen.count, 1);
        }

        function test_beforeSlot() {
            const input = makeInput({});
            const slot = findChild(input, "beforeSlot");
            compare(slot.item, null, "no icon: empty slot");
            compare(input.textField.leftPadding, s(12));
            input.beforeIcon = "qrc:/icons/home-gray.svg";
            verify(slot.item);
            compare(input.textField.leftPadding, s(48));

            input.beforeIcon = "";
            input.beforeComponent = _ownSlot;
            compare(slot.item.objectName, "ownSlot");
            compare(input.textField.leftPadding, s(12), "padding follows the icon alone");
            input.beforeComponent = null;
            compare(slot.item, null);
        }

        function test_reset_data() {
            return [
                { tag: "non-empty leaves the error", text: "cafe", error: false },
                { tag: "empty keeps the error", text: "", error: true },
            ];
        }

        function test_reset(data) {
            const input = makeInput({ text: data.text });
            input.isError = true;
            input.reset();
            compare(input.text, "");
            compare(input.isError, data.error);
        }

        function test_returnReachesTheOwner() {
            const input = makeInput({});
            const seen = spy(input, "editingFinished");
            input.textField.forceActiveFocus();
            keyClick(Qt.Key_C);
            keyClick(Qt.Key_Return);
            keyClick(Qt.Key_Enter);
            compare(input.returns, 2);
            verify(seen.count >= 1);
        }

        function test_cursorBlinksOnlyWithFocus() {
            const other = createTemporaryObject(_other, _scene);
            const input = makeInput({});
            // The field creates its cursor when it first shows one.
            input.textField.forceActiveFocus();
            const bar = cursor(input);
            verify(bar);
            compare(bar.width, 1);
            const blink = findChild(bar, "blink");
            verify(blink.running);
            verify(bar.visible, "starts with the visible half");
            tryVerify(() => !bar.visible, 1000, "then hides");
            tryVerify(() => bar.visible, 1000, "and shows again");
            other.forceActiveFocus();
            verify(!blink.running);
            verify(!bar.visible);
            input.textField.forceActiveFocus();
            verify(bar.visible, "visible at once on return");
        }
    }
}
