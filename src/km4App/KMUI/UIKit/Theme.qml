pragma Singleton

import QtQuick

// Colour roles of every screen. Fifteen roles follow the active theme state; the rest are fixed.
Item {
    id: _root

    property string theme: "dark"
    readonly property bool isDark: _root.theme === "dark"

    // Roles that follow the theme (their dark values hold until a state applies).
    property color colorTextPrimary: "#FFFFFF"
    property color colorTextSecondary: "#9DA4AE"
    property color colorTextDisable: "#717171"
    property color colorBackgroundMain: "#1D1D1D"
    property color colorBackgroundPrimary: "#1D1D1D"
    property color colorBackgroundSecondary: "#252525"
    property color colorBackgroundAdditive: "#404040"
    property color colorBackgroundFieldComment: "#1D1D1D"
    property color colorBackgroundCardPay: "#353535"
    property color colorBackgroundBasic: "#252525"
    property color colorBackgroundBurger: "#404040"
    property color colorIconPrimary: "#FFFFFF"
    property color colorIconSubsidiary: "#717171"
    property color colorStrokeDark: "#404040"
    property color colorDivider: "#1D1D1D"

    // Fixed roles.
    readonly property color colorTextButton: "#FFFFFF"
    readonly property color colorTextDark: "#252525"
    readonly property color colorTextCaption: "#9DA4AE"
    readonly property color colorBackgroundLight: "#9DA4AE"
    readonly property color colorIconSecondary: "#9DA4AE"
    readonly property color colorIconButton: "#FFFFFF"
    readonly property color colorIconDisable: "#717171"
    readonly property color colorStrokeLight: "#9DA4AE"
    readonly property color colorSelected: "#1A009CF3"

    readonly property color colorBrand: "#009CF3"
    readonly property color colorBrandDark: "#0579BA"
    readonly property color colorBrandNeutral: "#35B6FF"
    readonly property color colorBrandLight: "#8CD6FF"
    readonly property color colorBrandLigher: "#CAECFF"
    readonly property color colorBrandLightest: "#E3F5FF"

    readonly property color colorGreen: "#64CC64"
    readonly property color colorGreenDark: "#31AC31"
    readonly property color colorGreenNeutral: "#7AD67A"
    readonly property color colorGreenLight: "#BBECBB"
    readonly property color colorGreenLigher: "#D8F5D8"
    readonly property color colorGreenLightest: "#EFFCEF"

    readonly property color colorRed: "#EC4D74"
    readonly property color colorRedDark: "#B6002D"
    readonly property color colorRedNeutral: "#E40038"
    readonly property color colorRedLight: "#FF9DB6"
    readonly property color colorRedLigher: "#FFE0E8"
    readonly property color colorRedLightest: "#FFECF0"

    readonly property color colorOrange: "#F36E0E"
    readonly property color colorOrangeDark: "#C55300"
    readonly property color colorOrangeNeutral: "#E05E00"
    readonly property color colorOrangeLight: "#FF9B53"
    readonly property color colorOrangeLigher: "#FAE3D2"
    readonly property color colorOrangeLightest: "#FFEDDF"

    state: _root.theme
    states: [
        State {
            name: "dark"
            PropertyChanges {
                target: _root
                colorTextPrimary: "#FFFFFF"
                colorTextSecondary: "#9DA4AE"
                colorTextDisable: "#717171"
                colorBackgroundMain: "#1D1D1D"
                colorBackgroundPrimary: "#1D1D1D"
                colorBackgroundSecondary: "#252525"
                colorBackgroundAdditive: "#404040"
                colorBackgroundFieldComment: "#1D1D1D"
                colorBackgroundCardPay: "#353535"
                colorBackgroundBasic: "#252525"
                colorBackgroundBurger: "#404040"
                colorIconPrimary: "#FFFFFF"
                colorIconSubsidiary: "#717171"
                colorStrokeDark: "#404040"
                colorDivider: "#1D1D1D"
            }
        },
        State {
            name: "light"
            PropertyChanges {
                target: _root
                colorTextPrimary: "#404040"
                colorTextSecondary: "#404040"
                colorTextDisable: "#9DA4AE"
                colorBackgroundMain: "#F2F2F2"
                colorBackgroundPrimary: "#FFFFFF"
                colorBackgroundSecondary: "#F2F2F2"
                colorBackgroundAdditive: "#F2F2F2"
                colorBackgroundFieldComment: "#EBEDF4"
                colorBackgroundCardPay: "#EBEDF4"
                colorBackgroundBasic: "#FFFFFF"
                colorBackgroundBurger: "#FFFFFF"
                colorIconPrimary: "#404040"
                colorIconSubsidiary: "#9DA4AE"
                colorStrokeDark: "#EBEDF4"
                colorDivider: "#EBEDF4"
            }
        }
    ]
}
