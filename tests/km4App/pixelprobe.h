#pragma once

#include <QImage>
#include <QQuickItem>
#include <QQuickWindow>

// Reads a screenshot of a real window item by item. The graphical effects draw nothing
// offscreen, so the tests that use it run under a virtual X server.
class PixelProbe
{
public:
    explicit PixelProbe(QQuickWindow *window)
        : window(window)
    { }

    // Searches the visual tree: delegates and popups are not QObject children of their views.
    static QQuickItem *find(QQuickItem *root, QLatin1String name)
    {
        if (!root || root->objectName() == name)
            return root;
        const QList<QQuickItem *> children = root->childItems();
        for (QQuickItem *child : children) {
            if (QQuickItem *found = find(child, name))
                return found;
        }
        return nullptr;
    }

    QQuickItem *item(const char *name) const
    {
        return find(window->contentItem(), QLatin1String(name));
    }

    // Grabs the window now, and keeps the picture in the build folder when a name is given.
    void shoot(const QString &fileName = QString())
    {
        shot = window->grabWindow();
        if (!fileName.isEmpty())
            shot.save(fileName);
    }

    QColor pixel(QQuickItem *item, QPointF at) const
    {
        return shot.pixelColor(
            (item->mapToScene(at) * window->effectiveDevicePixelRatio()).toPoint());
    }

    // The colour a few pixels inside the left edge, clear of text and rounded corners.
    QColor fill(QQuickItem *item) const { return pixel(item, { 5, item->height() / 2 }); }

    static bool near(QColor actual, QColor expected, int tolerance = 6)
    {
        return qAbs(actual.red() - expected.red()) <= tolerance
            && qAbs(actual.green() - expected.green()) <= tolerance
            && qAbs(actual.blue() - expected.blue()) <= tolerance;
    }

    int pixelsNear(QQuickItem *box, QColor colour, int tolerance) const
    {
        return count(box, [&](QColor c) { return near(c, colour, tolerance); });
    }

    // Antialiased thin strokes blend with what lies behind them, so such a pixel is judged by its
    // hue.
    int pixelsOfHue(QQuickItem *box, QColor colour) const
    {
        return count(box, [&](QColor c) {
            return c.hslSaturation() > 100 && qAbs(c.hslHue() - colour.hslHue()) < 12;
        });
    }

    QImage shot;

private:
    template <typename Test> int count(QQuickItem *box, Test test) const
    {
        int n = 0;
        for (int y = 0; y < int(box->height()); ++y) {
            for (int x = 0; x < int(box->width()); ++x)
                n += test(pixel(box, { x + 0.5, y + 0.5 }));
        }
        return n;
    }

    QQuickWindow *window;
};
