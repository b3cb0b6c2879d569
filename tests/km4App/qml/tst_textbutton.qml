import QtQuick
import QtQuick.Controls.Basic
import QtTest

import "qrc:/km4App/KMUI/UIKit"
import "qrc:/km4App/KMUI/Shared"

Item {
    id: _scene

    width: 600
    height: 400

    Component {
        id: _button

        TextButton {}
    }

    // A user's own values, declared as a screen would declare them.
    Component {
        id: _userValues

        TextButton {
            height: 3
            iconSize: 3
            pixelSize: 3
            enabledColor: "#123456"
            pressedTextColor: "#123456"
        }
    }

    Component {
        id: _field

        TextField {
            width: 100
        }
    }

    KitTestCase {
        name: "TextButton"
        when: windowShown

        function s(x) {
            return Math.trunc(DpiSettings.scaling(x));
        }

        function label(button) {
            return findChild(button, "textLabel");
        }

        function makeButton(properties) {
            const button = createTemporaryObject(_button, _scene, properties);
            verify(button);
            return button;
        }

        function test_startsPrimaryLarge() {
            const button = makeButton({});
            compare(button.height, DpiSettings.scaling(56));
            compare(label(button).font.family, "Onest");
            compare(label(button).font.weight, Font.Bold);
            verify(button.activeFocusOnTab);
        }

        function test_sizes_data() {
            return [
                { tag: "l", size: "l", height: 56, iconSize: 24, pixelSize: 18, spacing: 12, margin: 24 },
                { tag: "m", size: "m", height: 48, iconSize: 20, pixelSize: 16, spacing: 12, margin: 20 },
                { tag: "s", size: "s", height: 40, iconSize: 18, pixelSize: 14, spacing: 8, margin: 16 },
                { tag: "xs", size: "xs", height: 32, iconSize: 16, pixelSize: 12, spacing: 8, margin: 12 },
            ];
        }

        function test_sizes(data) {
            // Values a size names win over the user's own.
            const button = createTemporaryObject(_userValues, _scene, { size: data.size, text: "Войти" });
            compare(button.height, DpiSettings.scaling(data.height));
            compare(button.iconSize, s(data.iconSize));
            compare(button.spacing, s(data.spacing));
            compare(label(button).font.pixelSize, s(data.pixelSize));
            compare(button.width, 2 * s(data.margin) + label(button).width, "text alone, margins both sides");
            compare(button.contentWidth, button.width);
        }

        function test_unknownNames() {
            const button = makeButton({ type: "neon", size: "huge" });
            compareColor(button.color, Theme.colorBrand, "fill of primary");
            compareColor(label(button).color, Theme.colorTextButton, "text of primary");
            compare(button.border.width, 0);
            compare(button.height, 0, "no size: no height");
            compare(button.iconSize, s(24));
            compare(button.margin, s(24));
            const sized = createTemporaryObject(_userValues, _scene, { size: "huge" });
            compare(sized.height, 3, "the user's own height holds");
        }

        function test_types_data() {
            return [
                { tag: "primary", type: "primary", fill: [Theme.colorBrand, Theme.colorBrandDark, Theme.colorBackgroundAdditive], text: [Theme.colorTextButton, Theme.colorTextButton, Theme.colorTextDisable], border: 0 },
                { tag: "secondary", type: "secondary", fill: [Theme.colorGreen, Theme.colorGreenDark, Theme.colorBackgroundAdditive], text: [Theme.colorTextButton, Theme.colorTextButton, Theme.colorTextDisable], border: 0 },
                { tag: "ghost", type: "ghost", fill: [Theme.colorBackgroundSecondary, Theme.colorBrand, "#EBEDF4"], text: [Theme.colorBrand, Theme.colorBrand, Theme.colorTextDisable], border: 0 },
                { tag: "stroke", type: "stroke", fill: ["transparent", Theme.colorBrand, "transparent"], text: [Theme.colorBrand, Theme.colorTextButton, Theme.colorBackgroundAdditive], border: 1, borderColors: [Theme.colorBrand, Theme.colorBackgroundAdditive] },
                { tag: "clear-white", type: "clear-white", fill: ["transparent", "transparent", "transparent"], text: [Theme.colorTextSecondary, Theme.colorTextSecondary, Theme.colorTextDisable], border: 0 },
                { tag: "clear", type: "clear", fill: ["transparent", "transparent", "transparent"], text: [Theme.colorBrand, Theme.colorBrandDark, "#404040"], border: 0 },
                { tag: "attention", type: "attention", fill: [Theme.colorRed, Theme.colorRedDark, Theme.colorBackgroundAdditive], text: [Theme.colorTextButton, Theme.colorTextButton, Theme.colorTextDisable], border: 0, borderColors: ["transparent", "transparent"] },
                { tag: "warning", type: "warning", fill: [Theme.colorOrange, Theme.colorOrangeDark, Theme.colorBackgroundAdditive], text: [Theme.colorTextButton, Theme.colorTextButton, Theme.colorTextDisable], border: 0, borderColors: ["transparent", "transparent"] },
                { tag: "attention-stroke", type: "attention-stroke", fill: ["transparent", Theme.colorRed, Theme.colorBackgroundAdditive], text: [Theme.colorRed, Theme.colorTextButton, Theme.colorTextDisable], border: 1, borderColors: [Theme.colorRed, Theme.colorBackgroundAdditive] },
                { tag: "system", type: "system", fill: [Theme.colorBackgroundAdditive, Theme.colorBackgroundAdditive, Theme.colorBackgroundAdditive], text: [Theme.colorTextButton, Theme.colorTextButton, Theme.colorTextDisable], border: 0 },
            ];
        }

        function test_types(data) {
            // The user's colours do not hold while a type is active.
            const button = createTemporaryObject(_userValues, _scene, { type: data.type, size: "s" });
            compare(button.border.width, data.border);
            compareColor(button.color, data.fill[0], "enabled fill");
            compareColor(label(button).color, data.text[0], "enabled text");
            if (data.borderColors)
                compareColor(button.border.color, data.borderColors[0], "enabled border");

            mousePress(button);
            compareColor(button.color, data.fill[1], "pressed fill");
            compareColor(label(button).color, data.text[1], "pressed text");
            compareColor(button.currentTextColor, data.text[1], "pressed icon tint");
            if (data.borderColors)
                compareColor(button.border.color, data.borderColors[0], "no pressed border");
            mouseRelease(button);

            button.enabled = false;
            compareColor(button.color, data.fill[2], "disabled fill");
            compareColor(label(button).color, data.text[2], "disabled text");
            compareColor(button.border.color, data.borderColors ? data.borderColors[1] : "#717171", "disabled border");
        }

        function test_clickTakesFocusThenEmitsButNoKeyActivates() {
            const field = createTemporaryObject(_field, _scene, { y: 300 });
            field.forceActiveFocus();
            const button = makeButton({});
            const seen = spy(button, "clicked");
            mouseClick(button);
            compare(seen.count, 1);
            verify(button.activeFocus);
            verify(!field.activeFocus);
            keyClick(Qt.Key_Space);
            keyClick(Qt.Key_Return);
            compare(seen.count, 1);
        }

        function test_pressMoveOutRelease() {
            const button = makeButton({ size: "m", text: "OK" });
            const seen = spy(button, "clicked");
            mousePress(button, 5, 5);
            compareColor(button.color, Theme.colorBrandDark, "pressed");
            mouseMove(button, button.width + 40, button.height + 40);
            compareColor(button.color, Theme.colorBrand, "outside while held");
            mouseRelease(button, button.width + 40, button.height + 40);
            compare(seen.count, 0, "released outside: no click");

            mousePress(button, 5, 5);
            mouseMove(button, button.width + 40, 5);
            mouseMove(button, 10, 10);
            compareColor(button.color, Theme.colorBrandDark, "back inside");
            mouseRelease(button, 10, 10);
            compare(seen.count, 1, "released inside: a click");
        }

        function test_disabledEmitsNothing() {
            const field = createTemporaryObject(_field, _scene, { y: 300 });
            field.forceActiveFocus();
            const button = makeButton({ enabled: false });
            const seen = spy(button, "clicked");
            mouseClick(button);
            compare(seen.count, 0);
            verify(!button.activeFocus);
            verify(field.activeFocus);
            keyClick(Qt.Key_Space);
            compare(seen.count, 0);
        }

        function test_icons() {
            const button = makeButton({ size: "s", text: "Удалить", beforeIcon: "qrc:/icons/trash-white.svg", afterIcon: "qrc:/icons/arrow-forward-white.svg" });
            const before = findChild(button, "beforeIconBox");
            const after = findChild(button, "afterIconBox");
            const text = label(button);
            verify(before.visible && after.visible);
            compare(before.width, s(18));
            compare(after.x - (text.x + text.width), s(8), "gap after the text");
            compare(text.x - (before.x + before.width), s(8), "gap before the text");
            const rowWidth = 2 * s(18) + text.width + 2 * s(8);
            compare(button.contentWidth, 2 * s(16) + rowWidth);

            button.beforeIcon = "";
            verify(!before.visible);
            tryCompare(button, "contentWidth", 2 * s(16) + text.width + s(8) + s(18));
            const row = text.parent;
            compare(row.x, (button.width - row.width) / 2, "content re-centred");
            compare(text.x, 0, "the text now leads");
        }

        function test_afterText() {
            const button = makeButton({ size: "m", text: "Язык", afterText: "Русский, очень длинный текст" });
            const after = findChild(button, "afterTextLabel");
            verify(after.visible);
            compare(after.x + after.width, button.width - DpiSettings.scaling(16));
            compare(button.contentWidth, 2 * s(20) + label(button).width, "not counted in the natural width");
            mousePress(button);
            compareColor(after.color, Theme.colorTextPrimary, "same colour pressed");
            mouseRelease(button);
        }
    }
}
