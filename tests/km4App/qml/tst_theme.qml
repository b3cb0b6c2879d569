import QtQuick
import QtTest

import km4App as KM
import "qrc:/km4App/KMUI/UIKit"
import "qrc:/km4App/KMUI/Shared"

KitTestCase {
    name: "ThemeAndScaling"

    function cleanupTestCase() {
        DpiSettings.dpi = Qt.binding(() => Screen.pixelDensity * 25.4);
        Theme.theme = "dark";
    }

    // The folders' own qmldir files and the module's qmldir must name the same singletons,
    // or a theme change would reach only half of the screens.
    function test_oneInstanceWhateverTheImport() {
        verify(KM.Theme === Theme);
        verify(KM.DpiSettings === DpiSettings);
    }

    function test_darkAtStart() {
        compare(Theme.theme, "dark");
        verify(Theme.isDark);
        compareColor(Theme.colorTextPrimary, "#FFFFFF", "text");
        compareColor(Theme.colorBackgroundCardPay, "#353535", "card");
        compareColor(Theme.colorDivider, "#1D1D1D", "divider");
    }

    function test_fixedRoles_data() {
        return [
            { tag: "selected with alpha", role: "colorSelected", value: "#1A009CF3" },
            { tag: "brand", role: "colorBrand", value: "#009CF3" },
            { tag: "stroke light", role: "colorStrokeLight", value: "#9DA4AE" },
        ];
    }

    function test_fixedRoles(data) {
        compareColor(Theme[data.role], data.value, data.role);
        Theme.theme = "light";
        compareColor(Theme[data.role], data.value, data.role + " in light");
        Theme.theme = "dark";
    }

    function test_lightState() {
        Theme.theme = "light";
        verify(!Theme.isDark);
        compareColor(Theme.colorTextPrimary, "#404040", "text");
        compareColor(Theme.colorBackgroundPrimary, "#FFFFFF", "background");
        compareColor(Theme.colorStrokeDark, "#EBEDF4", "stroke");
        Theme.theme = "dark";
        verify(Theme.isDark);
        compareColor(Theme.colorTextPrimary, "#FFFFFF", "text back in dark");
        compareColor(Theme.colorBackgroundPrimary, "#1D1D1D", "background back in dark");
    }

    function test_scaling_data() {
        return [
            { tag: "96 dpi", dpi: 96, expected: 40 },
            { tag: "119 dpi", dpi: 119, expected: 40 },
            { tag: "120 dpi", dpi: 120, expected: 30 },
            { tag: "160 dpi", dpi: 160, expected: 40 },
            { tag: "192 dpi", dpi: 192, expected: 48 },
        ];
    }

    function test_scaling(data) {
        DpiSettings.dpi = data.dpi;
        fuzzyCompare(DpiSettings.scaling(40), data.expected, 1e-9);
    }
}
