#include "appfonts.h"
#include "pixelprobe.h"

#include <QGuiApplication>
#include <QQmlEngine>
#include <QQuickStyle>
#include <QQuickView>
#include <QtMath>
#include <QtTest>

// Draws the kit's showcase page in a real window and checks pixels where the graphical effects
// matter. The screenshots are kept in the build folder for people to look at.
class tst_KitPixels : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void buttonFills_data();
    void buttonFills();
    void iconsTakeTheTextColour_data();
    void iconsTakeTheTextColour();
    void waiterDrawsThreeOpenArcs();
    void pressTintOfAnImageButton();
    void lightThemeTintsImageButtonIcons();
    void dialogBlursAndDarkensTheScreen();

private:
    QQuickItem *part(const char *name, const char *child = nullptr);

    QQuickView view;
    PixelProbe probe { &view };
};

void tst_KitPixels::initTestCase()
{
    QQuickStyle::setStyle(QStringLiteral("Basic"));
    QVERIFY(AppFonts::registerOnest());
    // The program's window asks for the typeface; the page stands in for it here.
    QGuiApplication::setFont(QFont(QStringLiteral("Onest")));
    view.engine()->addImportPath(QStringLiteral("qrc:/"));
    const QString page = qEnvironmentVariable("KM4_TEST_SOURCE_DIR") + "/data/KitShowcase.qml";
    view.setSource(QUrl::fromLocalFile(page));
    QVERIFY2(view.status() == QQuickView::Ready, qPrintable(page));
    view.show();
    QVERIFY(QTest::qWaitForWindowExposed(&view));
    QVERIFY2(view.rendererInterface()->graphicsApi() != QSGRendererInterface::Software,
        "the graphical effects need an OpenGL scene graph");
    QTest::qWait(300);
    probe.shoot(QStringLiteral("kit-showcase.png"));
}

QQuickItem *tst_KitPixels::part(const char *name, const char *child)
{
    QQuickItem *found = probe.item(name);
    if (found && child)
        found = found->findChild<QQuickItem *>(QLatin1String(child));
    if (!found)
        qWarning() << "no item" << name << child;
    return found;
}

void tst_KitPixels::buttonFills_data()
{
    QTest::addColumn<QByteArray>("name");
    QTest::addColumn<QColor>("fill");
    QTest::addColumn<int>("tolerance");
    QTest::newRow("primary") << QByteArray("primaryButton") << QColor("#009CF3") << 6;
    QTest::newRow("secondary") << QByteArray("secondaryButton") << QColor("#64CC64") << 6;
    QTest::newRow("attention") << QByteArray("attentionButton") << QColor("#EC4D74") << 6;
    QTest::newRow("warning") << QByteArray("warningButton") << QColor("#F36E0E") << 6;
    QTest::newRow("clear shows the page") << QByteArray("clearButton") << QColor("#252525") << 6;
    QTest::newRow("disabled primary") << QByteArray("primaryDisabled") << QColor("#404040") << 6;
    // Small and round: sampled nearer its edge, where antialiasing blends.
    QTest::newRow("notify badge") << QByteArray("notifyLabel") << QColor("#EC4D74") << 30;
}

void tst_KitPixels::buttonFills()
{
    QFETCH(QByteArray, name);
    QFETCH(QColor, fill);
    QFETCH(int, tolerance);
    QQuickItem *item = part(name.constData());
    QVERIFY(item);
    const QColor actual
        = tolerance > 6 ? probe.pixel(item, { 3, item->height() / 2 - 4 }) : probe.fill(item);
    QVERIFY2(PixelProbe::near(actual, fill, tolerance),
        qPrintable(actual.name() + " instead of " + fill.name()));
}

void tst_KitPixels::iconsTakeTheTextColour_data()
{
    QTest::addColumn<QByteArray>("name");
    QTest::addColumn<QColor>("tint");
    QTest::newRow("white icon on a clear button")
        << QByteArray("clearIconButton") << QColor("#009CF3");
    QTest::newRow("red icon on attention-stroke")
        << QByteArray("logoutButton") << QColor("#EC4D74");
}

void tst_KitPixels::iconsTakeTheTextColour()
{
    QFETCH(QByteArray, name);
    QFETCH(QColor, tint);
    QQuickItem *box = part(name.constData(), "beforeIconBox");
    QVERIFY(box);
    const int tinted = probe.pixelsOfHue(box, tint);
    QVERIFY2(tinted > 15, qPrintable(QString::number(tinted)));
    QCOMPARE(probe.pixelsNear(box, Qt::white, 40), 0); // none of the icon's own white
}

void tst_KitPixels::waiterDrawsThreeOpenArcs()
{
    QQuickItem *waiter = part("bigWaiter");
    QVERIFY(waiter);
    // Whatever the angle, each ring is covered for about three quarters of a turn.
    const qreal h = waiter->height();
    const qreal outer = (h - h * 0.04) / 2;
    const struct
    {
        qreal radius;
        QColor colour;
    } rings[] = {
        { outer, QColor("#0579BA") },
        { outer - h * 0.09, QColor("#009CF3") },
        { outer - h * 0.19, QColor("#8CD6FF") },
    };
    for (const auto &ring : rings) {
        int covered = 0;
        for (int degree = 0; degree < 360; ++degree) {
            const qreal a = qDegreesToRadians(qreal(degree));
            const QPointF at(h / 2 + ring.radius * qCos(a), h / 2 + ring.radius * qSin(a));
            covered += PixelProbe::near(probe.pixel(waiter, at), ring.colour, 40);
        }
        QVERIFY2(covered > 216 && covered < 306,
            qPrintable(ring.colour.name() + QString::number(covered)));
    }
}

void tst_KitPixels::pressTintOfAnImageButton()
{
    QQuickItem *button = part("stroke-blueImageButton");
    QQuickItem *box = part("stroke-blueImageButton", "imageBox");
    QVERIFY(box);
    const QColor brand("#009CF3");
    const QColor grey("#9DA4AE");
    QCOMPARE(probe.pixelsOfHue(box, brand), 0);
    QVERIFY(probe.pixelsNear(box, grey, 30) > 10);

    const QPoint centre
        = button->mapToScene({ button->width() / 2, button->height() / 2 }).toPoint();
    QTest::mousePress(&view, Qt::LeftButton, {}, centre);
    QTRY_VERIFY((probe.shoot(), probe.pixelsOfHue(box, brand) > 10));
    QCOMPARE(probe.pixelsNear(box, grey, 30), 0);
    QTest::mouseRelease(&view, Qt::LeftButton, {}, centre);
    QTRY_COMPARE((probe.shoot(), probe.pixelsOfHue(box, brand)), 0);
}

void tst_KitPixels::lightThemeTintsImageButtonIcons()
{
    QQuickItem *button = part("backButton");
    QQuickItem *box = part("backButton", "imageBox");
    QVERIFY(box);
    const QColor iconPrimaryLight("#404040");
    probe.shoot();
    QVERIFY(probe.pixelsNear(box, Qt::white, 30) > 10);
    const int darkBefore = probe.pixelsNear(box, iconPrimaryLight, 12);

    QMetaObject::invokeMethod(
        view.rootObject(), "useTheme", Q_ARG(QVariant, QStringLiteral("light")));
    QTest::qWait(100);
    probe.shoot(QStringLiteral("kit-showcase-light.png"));
    QMetaObject::invokeMethod(
        view.rootObject(), "useTheme", Q_ARG(QVariant, QStringLiteral("dark")));
    // On the light fill (white) the white arrow is drawn in the light icon colour.
    QVERIFY(PixelProbe::near(probe.fill(button), Qt::white));
    const int darkInLight = probe.pixelsNear(box, iconPrimaryLight, 12);
    QVERIFY2(darkInLight > darkBefore + 8,
        qPrintable(QStringLiteral("%1 -> %2").arg(darkBefore).arg(darkInLight)));
}

void tst_KitPixels::dialogBlursAndDarkensTheScreen()
{
    QTest::qWait(100);
    probe.shoot();
    QQuickItem *button = part("primaryButton");
    QVERIFY(button);
    const QColor outsideBefore = probe.pixel(button, { -3, button->height() / 2 });
    QMetaObject::invokeMethod(view.rootObject(), "openDialog");
    QTest::qWait(600);
    probe.shoot(QStringLiteral("kit-showcase-dialog.png"));

    // Inside the button the backdrop is its blue, darkened; just outside, the blur carries
    // some of that blue over the edge, which the sharp picture did not have.
    const QColor inside = probe.pixel(button, { button->width() / 2, button->height() / 2 });
    QVERIFY2(inside.blue() > inside.red() + 20 && inside.blue() < 140, qPrintable(inside.name()));
    const QColor outsideAfter = probe.pixel(button, { -3, button->height() / 2 });
    QVERIFY2(
        outsideAfter.blue() - outsideAfter.red() > outsideBefore.blue() - outsideBefore.red() + 3,
        qPrintable(outsideBefore.name() + " -> " + outsideAfter.name()));

    // The card and the footer stand sharp above the backdrop in their own colours.
    auto *dialog = view.rootObject()->findChild<QObject *>(QStringLiteral("dialog"));
    QVERIFY(dialog);
    auto *card = dialog->findChild<QQuickItem *>(QStringLiteral("card"));
    auto *footer = dialog->findChild<QQuickItem *>(QStringLiteral("footer"));
    QVERIFY(card && footer);
    QVERIFY2(PixelProbe::near(probe.fill(card), QColor("#1D1D1D"), 2),
        qPrintable(probe.fill(card).name()));
    QVERIFY2(PixelProbe::near(probe.fill(footer), QColor("#252525"), 2),
        qPrintable(probe.fill(footer).name()));
    auto *accept = footer->findChild<QQuickItem *>(QStringLiteral("acceptButton"));
    QVERIFY(accept);
    QVERIFY(PixelProbe::near(probe.fill(accept), QColor("#64CC64")));
}

QTEST_MAIN(tst_KitPixels)

#include "tst_kitpixels.moc"
