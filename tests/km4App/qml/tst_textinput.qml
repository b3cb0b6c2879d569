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
        id: _spy

        SignalSpy {}
    }

    Component {
        id: _other

        TextField {
            y: 300
        }
    }

    TestCase {
        id: _testCase

        name: "KMTextInput"
        when: windowShown

        function s(x) {
            return DpiSettings.scaling(x);
        }

        function compareColor(actual, expected, message) {
            verify(Qt.colorEqual(actual, expected), `${message}: ${actual} != ${expected}`);
        }

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
            compare(input.spacing, s(4));
            compare(input.textField.height, s(56));
            compare(input.textField.width, input.width);
            compare(background(input).radius, s(8));
            compareColor(background(input).color, Theme.colorBackgroundBasic, "background");
            compare(background(input).border.width, 0);
            compare(input.textField.font.pixelSize, s(16));
            compareColor(input.textField.placeholderTextColor, Theme.colorTextPrimary, "placeholder");
            compareColor(input.textField.selectionColor, Qt.rgba(0, 0x9C / 255, 0xF3 / 255, 0.2), "selection");
        }

        function test_headerHeight_data() {
            return [
                { tag: "empty", text: "", height: 0 },
                { tag: "spaces only", text: "   ", height: 0 },
                { tag: "text", text: "Домен", height: 24 },
            ];
        }

        function test_headerHeight(data) {
            const input = makeInput({ headerText: data.text });
            compare(input.headerLabel.height, s(data.height));
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

        function test_focusLeavesTheErrorAlone() {
            const other = createTemporaryObject(_other, _scene);
            const input = makeInput({ text: "cafe" });
            input.isError = true;
            compare(background(input).border.width, 1, "error without focus");
            input.textField.forceActiveFocus();
            verify(input.isError);
            other.forceActiveFocus();
            verify(input.isError);
            compare(background(input).border.width, 1);
            compareColor(background(input).border.color, Theme.colorRed, "red without focus");
        }

        function test_onlyADifferentTextEndsTheError() {
            const input = makeInput({ text: "cafe" });
            input.isError = true;
            input.text = "cafe";
            verify(input.isError, "same text");
            input.text = "bar";
            verify(!input.isError, "different text");
        }

        function test_footerNeedsAText() {
            const input = makeInput({ footerText: "" });
            input.isError = true;
            verify(!footer(input).visible);
            input.footerText = "Обязательное поле";
            verify(footer(input).visible);
            compareColor(footer(input).color, Theme.colorRed, "footer colour");
        }

        function test_afterSlot() {
            const input = makeInput({ afterIcon: "qrc:/icons/exit-white.svg" });
            const slot = findChild(input, "afterSlot");
            compare(input.textField.rightPadding, s(48));
            compare(slot.width, s(20));
            compare(slot.x, input.width - s(20) - s(12));
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
            const spy = createTemporaryObject(_spy, _scene, { target: input, signalName: "afterIconClicked" });
            verify(spy.valid);
            const image = findChild(input, "afterSlot").item.children[0];
            tryVerify(() => image.status === Image.Ready);
            mouseClick(image);
            compare(spy.count, 1);
        }

        function test_beforeSlot() {
            const input = makeInput({});
            const slot = findChild(input, "beforeSlot");
            compare(slot.item, null, "no icon: empty slot");
            compare(input.textField.leftPadding, s(12));
            input.beforeIcon = "qrc:/icons/home-gray.svg";
            verify(slot.item);
            compare(slot.item.width, s(20));
            compare(slot.x, s(12));
            compare(slot.y, (input.textField.height - s(20)) / 2);
            compare(input.textField.leftPadding, s(48));

            input.beforeIcon = "";
            input.beforeComponent = _ownSlot;
            compare(slot.item.objectName, "ownSlot");
            compare(input.textField.leftPadding, s(12), "padding follows the icon alone");
            input.beforeComponent = null;
            compare(slot.item, null);
        }

        function test_beforeIconClick() {
            const input = makeInput({ beforeIcon: "qrc:/icons/home-gray.svg" });
            const spy = createTemporaryObject(_spy, _scene, { target: input, signalName: "beforeIconClicked" });
            mouseClick(findChild(input, "beforeSlot").item);
            compare(spy.count, 1);
        }

        function test_lightThemeTintsIcons() {
            const input = makeInput({ beforeIcon: "qrc:/icons/home-gray.svg", afterIcon: "qrc:/icons/exit-white.svg" });
            const beforeTint = findChild(input, "beforeSlot").item.children[1];
            const afterTint = findChild(input, "afterSlot").item.children[1];
            verify(!beforeTint.visible && !afterTint.visible);
            Theme.theme = "light";
            verify(beforeTint.visible && afterTint.visible);
            compareColor(beforeTint.color, Theme.colorIconSecondary, "tint");
            Theme.theme = "dark";
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
            const spy = createTemporaryObject(_spy, _scene, { target: input, signalName: "editingFinished" });
            input.textField.forceActiveFocus();
            keyClick(Qt.Key_C);
            keyClick(Qt.Key_Return);
            keyClick(Qt.Key_Enter);
            compare(input.returns, 2);
            verify(spy.count >= 1);
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

        function test_disabledInputTakesNoText() {
            const input = makeInput({ enabled: false });
            mouseClick(input.textField);
            keyClick(Qt.Key_X);
            compare(input.text, "");
        }
    }
}
