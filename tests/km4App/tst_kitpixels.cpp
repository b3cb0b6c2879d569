#include "appfonts.h"

#include <QDir>
#include <QGuiApplication>
#include <QQmlEngine>
#include <QQuickItem>
#include <QQuickStyle>
#include <QQuickView>
#include <QtMath>
#include <QtTest>

// Draws the kit's showcase page in a real window and checks pixels where the graphical effects
// matter: they draw nothing offscreen, so this test runs under a virtual X server. The
// screenshots are kept in the build folder for people to look at.
class tst_KitPixels : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void buttonFills_data();
    void buttonFills();
    void iconsTakeTheTextColour_data();
    void iconsTakeTheTextColour();
    void notifyBadge();
    void waiterDrawsThreeOpenArcs();
    void pressTintOfAnImageButton();
    void lightThemeTintsImageButtonIcons();
    void dialogBlursAndDarkensTheScreen();

private:
    QQuickItem *item(const char *name) const;
    QColor pixel(QQuickItem *item, QPointF at) const;
    static bool near(QColor actual, QColor expected, int tolerance = 6);
    int pixelsOfHue(QQuickItem *box, QColor colour) const;
    int pixelsNear(QQuickItem *box, QColor colour, int tolerance) const;
    QImage grab(const QString &fileName);

    QQuickView m_view;
    QImage m_shot;
};

void tst_KitPixels::initTestCase()
{
    QQuickStyle::setStyle(QStringLiteral("Basic"));
    QVERIFY(AppFonts::registerOnest());
    // The program's window asks for the typeface; the page stands in for it here.
    QGuiApplication::setFont(QFont(QStringLiteral("Onest")));
    m_view.engine()->addImportPath(QStringLiteral("qrc:/"));
    const QString page = qEnvironmentVariable("KM4_TEST_SOURCE_DIR") + "/data/KitShowcase.qml";
    m_view.setSource(QUrl::fromLocalFile(page));
    QVERIFY2(m_view.status() == QQuickView::Ready, qPrintable(page));
    m_view.show();
    QVERIFY(QTest::qWaitForWindowExposed(&m_view));
    QVERIFY2(m_view.rendererInterface()->graphicsApi() != QSGRendererInterface::Software,
             "the graphical effects need an OpenGL scene graph");
    QTest::qWait(300);
    m_shot = grab(QStringLiteral("kit-showcase.png"));
}

QImage tst_KitPixels::grab(const QString &fileName)
{
    const QImage shot = m_view.grabWindow();
    shot.save(QDir::current().filePath(fileName));
    return shot;
}

// Searches the visual tree: items made by a Repeater are not QObject children of the page.
static QQuickItem *findItem(QQuickItem *root, QLatin1String name)
{
    if (root->objectName() == name)
        return root;
    const QList<QQuickItem *> children = root->childItems();
    for (QQuickItem *child : children) {
        if (QQuickItem *found = findItem(child, name))
            return found;
    }
    return nullptr;
}

QQuickItem *tst_KitPixels::item(const char *name) const
{
    QQuickItem *found = findItem(m_view.rootObject(), QLatin1String(name));
    if (!found)
        qWarning() << "no item named" << name;
    return found;
}

QColor tst_KitPixels::pixel(QQuickItem *item, QPointF at) const
{
    const QPoint p = (item->mapToScene(at) * m_view.effectiveDevicePixelRatio()).toPoint();
    return m_shot.pixelColor(p);
}

bool tst_KitPixels::near(QColor actual, QColor expected, int tolerance)
{
    return qAbs(actual.red() - expected.red()) <= tolerance
            && qAbs(actual.green() - expected.green()) <= tolerance
            && qAbs(actual.blue() - expected.blue()) <= tolerance;
}

// Antialiased thin strokes blend with what lies behind them, so a drawn pixel is judged by its hue.
int tst_KitPixels::pixelsOfHue(QQuickItem *box, QColor colour) const
{
    int count = 0;
    for (int y = 0; y < int(box->height()); ++y) {
        for (int x = 0; x < int(box->width()); ++x) {
            const QColor c = pixel(box, {x + 0.5, y + 0.5});
            if (c.hslSaturation() > 100 && qAbs(c.hslHue() - colour.hslHue()) < 12)
                ++count;
        }
    }
    return count;
}

int tst_KitPixels::pixelsNear(QQuickItem *box, QColor colour, int tolerance) const
{
    int count = 0;
    for (int y = 0; y < int(box->height()); ++y) {
        for (int x = 0; x < int(box->width()); ++x)
            count += near(pixel(box, {x + 0.5, y + 0.5}), colour, tolerance);
    }
    return count;
}

void tst_KitPixels::buttonFills_data()
{
    QTest::addColumn<QByteArray>("name");
    QTest::addColumn<QColor>("fill");
    QTest::newRow("primary") << QByteArray("primaryButton") << QColor("#009CF3");
    QTest::newRow("secondary") << QByteArray("secondaryButton") << QColor("#64CC64");
    QTest::newRow("attention") << QByteArray("attentionButton") << QColor("#EC4D74");
    QTest::newRow("warning") << QByteArray("warningButton") << QColor("#F36E0E");
    QTest::newRow("clear shows the page") << QByteArray("clearButton") << QColor("#252525");
    QTest::newRow("disabled primary") << QByteArray("primaryDisabled") << QColor("#404040");
}

void tst_KitPixels::buttonFills()
{
    QFETCH(QByteArray, name);
    QFETCH(QColor, fill);
    QQuickItem *button = item(name.constData());
    QVERIFY(button);
    // A few pixels inside the left edge, clear of the text and of the rounded corners.
    const QColor actual = pixel(button, {5, button->height() / 2});
    QVERIFY2(near(actual, fill), qPrintable(actual.name() + " instead of " + fill.name()));
}

void tst_KitPixels::iconsTakeTheTextColour_data()
{
    QTest::addColumn<QByteArray>("name");
    QTest::addColumn<QColor>("tint");
    QTest::addColumn<QColor>("ownColour");
    QTest::newRow("white icon on a clear button") << QByteArray("clearIconButton") << QColor("#009CF3")
                                                  << QColor("#FFFFFF");
    QTest::newRow("red icon on attention-stroke") << QByteArray("logoutButton") << QColor("#EC4D74")
                                                  << QColor("#FFFFFF");
}

void tst_KitPixels::iconsTakeTheTextColour()
{
    QFETCH(QByteArray, name);
    QFETCH(QColor, tint);
    QFETCH(QColor, ownColour);
    QQuickItem *button = item(name.constData());
    QVERIFY(button);
    auto *box = button->findChild<QQuickItem *>(QStringLiteral("beforeIconBox"));
    QVERIFY(box);
    const int tinted = pixelsOfHue(box, tint);
    QVERIFY2(tinted > 15, qPrintable(QString::number(tinted)));
    QCOMPARE(pixelsNear(box, ownColour, 40), 0);
}

void tst_KitPixels::notifyBadge()
{
    QQuickItem *badge = item("notifyLabel");
    QVERIFY(badge);
    const QColor fill = pixel(badge, {3, badge->height() / 2 - 4});
    QVERIFY2(near(fill, QColor("#EC4D74"), 30), qPrintable(fill.name()));
}

void tst_KitPixels::waiterDrawsThreeOpenArcs()
{
    QQuickItem *waiter = item("bigWaiter");
    QVERIFY(waiter);
    // Whatever the angle, each ring is covered for about three quarters of a turn.
    const qreal h = waiter->height();
    const qreal lineWidth = h * 0.04;
    const struct { qreal radius; QColor colour; } rings[] = {
        {(h - lineWidth) / 2, QColor("#0579BA")},
        {(h - lineWidth) / 2 - h * 0.09, QColor("#009CF3")},
        {(h - lineWidth) / 2 - h * 0.19, QColor("#8CD6FF")},
    };
    for (const auto &ring : rings) {
        int covered = 0;
        const int samples = 360;
        for (int i = 0; i < samples; ++i) {
            const qreal a = qDegreesToRadians(i * 360.0 / samples);
            const QPointF at(h / 2 + ring.radius * qCos(a), h / 2 + ring.radius * qSin(a));
            covered += near(pixel(waiter, at), ring.colour, 40);
        }
        const qreal share = qreal(covered) / samples;
        QVERIFY2(share > 0.6 && share < 0.85, qPrintable(ring.colour.name() + " covers " + QString::number(share)));
    }
}

void tst_KitPixels::pressTintOfAnImageButton()
{
    QQuickItem *button = item("stroke-blueImageButton");
    QVERIFY(button);
    auto *box = button->findChild<QQuickItem *>(QStringLiteral("imageBox"));
    QVERIFY(box);
    const QColor brand("#009CF3");
    QCOMPARE(pixelsOfHue(box, brand), 0);
    QVERIFY(pixelsNear(box, QColor("#9DA4AE"), 30) > 10);

    const QPoint centre = button->mapToScene({button->width() / 2, button->height() / 2}).toPoint();
    QTest::mousePress(&m_view, Qt::LeftButton, {}, centre);
    QTest::qWait(100);
    m_shot = m_view.grabWindow();
    const int tinted = pixelsOfHue(box, brand);
    QTest::mouseRelease(&m_view, Qt::LeftButton, {}, centre);
    QTest::qWait(100);
    QVERIFY2(tinted > 10, qPrintable(QString::number(tinted)));
    QCOMPARE(pixelsNear(box, QColor("#9DA4AE"), 30), 0);

    m_shot = m_view.grabWindow();
    QCOMPARE(pixelsOfHue(box, brand), 0);
}

void tst_KitPixels::lightThemeTintsImageButtonIcons()
{
    QQuickItem *button = item("backButton");
    QVERIFY(button);
    auto *box = button->findChild<QQuickItem *>(QStringLiteral("imageBox"));
    QVERIFY(box);
    const QColor iconPrimaryLight("#404040");
    QVERIFY(pixelsNear(box, QColor("#FFFFFF"), 30) > 10);
    const int darkBefore = pixelsNear(box, iconPrimaryLight, 12);

    QMetaObject::invokeMethod(m_view.rootObject(), "useTheme", Q_ARG(QVariant, QStringLiteral("light")));
    QTest::qWait(100);
    m_shot = grab(QStringLiteral("kit-showcase-light.png"));
    QMetaObject::invokeMethod(m_view.rootObject(), "useTheme", Q_ARG(QVariant, QStringLiteral("dark")));
    QTest::qWait(100);
    // On the light fill (white) the white arrow is drawn in the light icon colour.
    QVERIFY(near(pixel(button, {3, button->height() / 2}), QColor("#FFFFFF")));
    const int darkInLight = pixelsNear(box, iconPrimaryLight, 12);
    QVERIFY2(darkInLight > darkBefore + 8,
             qPrintable(QString::number(darkBefore) + " -> " + QString::number(darkInLight)));
    m_shot = m_view.grabWindow();
}

void tst_KitPixels::dialogBlursAndDarkensTheScreen()
{
    QQuickItem *button = item("primaryButton");
    QVERIFY(button);
    const QColor outsideBefore = pixel(button, {-3, button->height() / 2});
    QMetaObject::invokeMethod(m_view.rootObject(), "openDialog");
    QTest::qWait(600);
    m_shot = grab(QStringLiteral("kit-showcase-dialog.png"));

    // Inside the button the backdrop is its blue, darkened; just outside, the blur carries
    // some of that blue over the edge, which the sharp picture did not have.
    const QColor inside = pixel(button, {button->width() / 2, button->height() / 2});
    QVERIFY2(inside.blue() > inside.red() + 20 && inside.blue() < 140, qPrintable(inside.name()));
    const QColor outsideAfter = pixel(button, {-3, button->height() / 2});
    QVERIFY2(outsideAfter.blue() - outsideAfter.red() > outsideBefore.blue() - outsideBefore.red() + 3,
             qPrintable(outsideBefore.name() + " -> " + outsideAfter.name()));

    // The card and the footer stand sharp above the backdrop in their own colours.
    QObject *dialog = m_view.rootObject()->findChild<QObject *>(QStringLiteral("dialog"));
    QVERIFY(dialog);
    auto *card = dialog->findChild<QQuickItem *>(QStringLiteral("card"));
    auto *footer = dialog->findChild<QQuickItem *>(QStringLiteral("footer"));
    QVERIFY(card && footer);
    const QColor cardColour = pixel(card, {8, card->height() / 2});
    QVERIFY2(near(cardColour, QColor("#1D1D1D"), 2), qPrintable(cardColour.name()));
    const QColor footerColour = pixel(footer, {8, footer->height() / 2});
    QVERIFY2(near(footerColour, QColor("#252525"), 2), qPrintable(footerColour.name()));
    auto *accept = footer->findChild<QQuickItem *>(QStringLiteral("acceptButton"));
    QVERIFY(accept);
    QVERIFY(near(pixel(accept, {5, accept->height() / 2}), QColor("#64CC64")));
}

QTEST_MAIN(tst_KitPixels)

#include "tst_kitpixels.moc"
