import QtQuick
import QtTest

import "qrc:/km4App/KMUI/UIKit"
import "qrc:/km4App/KMUI/Shared"

Item {
    id: _scene

    width: 600
    height: 400

    // The back button as the screens declare it.

    Component {
        id: _userSized

        ImageButton {
            source: "qrc:/icons/arrow-back-white.svg"
            width: 90
            height: 70
            imageWidth: 30
            imageHeight: 10
            enabledColor: "#123456"
        }
    }

    Component {
        id: _button

        ImageButton {
            source: "qrc:/icons/arrow-back-white.svg"
        }
    }

    Component {
        id: _typed

        ImageButton {
            source: "qrc:/icons/arrow-back-white.svg"
            size: "s"
        }
    }

    KitTestCase {
        name: "ImageButton"
        when: windowShown

        function test_sizes_data() {
            return [
                { tag: "xl", size: "xl", side: 64, image: 24 },
                { tag: "l", size: "l", side: 56, image: 24 },
                { tag: "s", size: "s", side: 40, image: 20 },
                { tag: "xs", size: "xs", side: 32, image: 20 },
                { tag: "xxs: icon as large as the button", size: "xxs", side: 20, image: 20 },
            ];
        }

        function test_sizes(data) {
            const button = createTemporaryObject(_userSized, _scene, { size: data.size });
            compare(button.width, DpiSettings.scaling(data.side));
            compare(button.height, DpiSettings.scaling(data.side));
            compare(button.imageWidth, DpiSettings.scaling(data.image));
            compare(button.imageHeight, DpiSettings.scaling(data.image));
        }

        function test_mediumAndUnknownSizes() {
            const medium = createTemporaryObject(_button, _scene);
            compare(medium.size, "m");
            compare(medium.width, DpiSettings.scaling(48));
            compare(findChild(medium, "imageBox").width, 0, "no icon size of its own");
            const unknown = createTemporaryObject(_userSized, _scene, { size: "giant" });
            compare(unknown.width, 90, "the user's width");
            compare(unknown.imageWidth, 30);
            compare(unknown.imageHeight, 10);
            compareColor(unknown.color, "#123456", "no type: the user's colour");
            unknown.type = "primary";
            compareColor(unknown.color, Theme.colorBackgroundPrimary, "a type overrides it");
        }

        function test_types_data() {
            return [
                { tag: "no type", type: "", fill: [Theme.colorBackgroundBasic, Theme.colorBackgroundMain, Theme.colorBackgroundBasic], tint: false },
                { tag: "unknown acts as none", type: "bright", fill: [Theme.colorBackgroundBasic, Theme.colorBackgroundMain, Theme.colorBackgroundBasic], tint: false },
                { tag: "primary", type: "primary", fill: [Theme.colorBackgroundPrimary, Theme.colorBackgroundSecondary, Theme.colorBackgroundAdditive], tint: false },
                { tag: "primary-blue", type: "primary-blue", fill: [Theme.colorBrand, Theme.colorBrandDark, Theme.colorBackgroundAdditive], tint: false },
                { tag: "clear", type: "clear", fill: ["transparent", "transparent", "transparent"], tint: false },
                { tag: "stroke-blue", type: "stroke-blue", fill: ["transparent", "transparent", "transparent"], tint: true },
            ];
        }

        function test_types(data) {
            const button = createTemporaryObject(_typed, _scene, { type: data.type });
            const tint = findChild(button, "pressTint");
            compareColor(button.color, data.fill[0], "enabled");
            mousePress(button);
            compareColor(button.color, data.fill[1], "pressed");
            compare(tint.visible, data.tint, "press tint");
            if (data.tint)
                compareColor(tint.color, Theme.colorBrand, "tint colour");
            mouseMove(button, button.width + 30, button.height + 30);
            verify(!tint.visible, "no tint once the pointer leaves");
            mouseRelease(button, button.width + 30, button.height + 30);
            button.enabled = false;
            compareColor(button.color, data.fill[2], "disabled");
            mousePress(button);
            verify(!tint.visible, "no tint while disabled");
            mouseRelease(button);
        }

        function test_clickCarriesTheMouseEvent() {
            const button = createTemporaryObject(_button, _scene, { size: "l" });
            const seen = spy(button, "clicked");
            mouseClick(button, 10, 12);
            compare(seen.count, 1);
            const mouse = seen.signalArguments[0][0];
            compare(mouse.x, 10);
            compare(mouse.y, 12);
        }

        function test_pressMoveOutReleaseEmitsNothing() {
            const button = createTemporaryObject(_button, _scene, { size: "l" });
            const seen = spy(button, "clicked");
            mousePress(button, 5, 5);
            mouseMove(button, button.width + 40, 5);
            compareColor(button.color, Theme.colorBackgroundBasic, "enabled fill outside");
            mouseRelease(button, button.width + 40, 5);
            compare(seen.count, 0);
        }

        function test_disabledEmitsNothing() {
            const button = createTemporaryObject(_button, _scene, { size: "l", enabled: false });
            const seen = spy(button, "clicked");
            mouseClick(button);
            compare(seen.count, 0);
        }

        function test_notifyDot() {
            const button = createTemporaryObject(_button, _scene, { size: "l" });
            const dot = findChild(button, "notifyDot");
            verify(!dot.visible, "hidden at 0");
            button.points = 4;
            verify(dot.visible);
            compare(dot.type, "dot");
            button.pointsType = "label";
            button.points = 120;
            button.pointsColor = Theme.colorGreen;
            compare(dot.item.text, "99+");
            compareColor(dot.color, Theme.colorGreen, "label colour");
        }
    }
}
