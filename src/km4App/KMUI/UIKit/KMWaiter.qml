import QtQuick

// Busy indicator: three open arcs in shades of the brand colour turning at one, two and three
// turns per period, animated only while visible.
Canvas {
    id: _root

    property real angle: 0
    property color firstArcColor: Theme.colorBrandDark
    property color secondArcColor: Theme.colorBrand
    property color thirdArcColor: Theme.colorBrandLight

    width: 120
    height: 120

    onAngleChanged: _root.requestPaint()

    NumberAnimation {
        objectName: "spin"
        target: _root
        property: "angle"
        from: 0
        to: 360
        duration: 1500
        loops: Animation.Infinite
        running: _root.visible
    }

    onPaint: {
        const ctx = _root.getContext("2d");
        ctx.reset();
        const w = _root.width;
        const h = _root.height;
        const lineWidth = h * 0.04;
        const k = _root.angle * Math.PI / 180;
        const radius = (h - lineWidth) / 2;
        ctx.lineCap = "square";
        ctx.lineWidth = lineWidth;
        const arcs = [[_root.firstArcColor, radius, k], [_root.secondArcColor, radius - h * 0.09, 2 * k],
                      [_root.thirdArcColor, radius - h * 0.19, 3 * k]];
        for (const [color, r, start] of arcs) {
            ctx.beginPath();
            ctx.strokeStyle = color;
            ctx.arc(w * 0.5, h * 0.5, r, start, start + 3 * 3.14 / 2, false);
            ctx.stroke();
        }
    }
}
