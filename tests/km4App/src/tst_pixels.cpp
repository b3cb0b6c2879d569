#include "appfonts.h"
#include "screensfixture.h"
#include "testenvironment.h"

#include <QGuiApplication>
#include <QQmlApplicationEngine>
#include <QQuickItem>
#include <QQuickStyle>
#include <QQuickView>
#include <QtMath>
#include <QtTest>

// Pixels of real windows: the kit's showcase page, then the program's window page by page over a
// real core and the server double. The graphical effects draw nothing offscreen, so this runs
// under a virtual X server. The screenshots are kept in the build folder for people to look at.
class tst_Pixels : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void kitFills_data();
    void kitFills();
    void kitIconsTakeTheTextColour_data();
    void kitIconsTakeTheTextColour();
    void kitWaiterDrawsThreeOpenArcs();
    void kitPressTintOfAnImageButton();
    void kitLightThemeTintsImageButtonIcons();
    void kitDialogBlursAndDarkensTheScreen();
    void loginPage();
    void loadingPage();
    void board();
    void supportPanel();

private:
    QQuickItem *item(const char *name, const char *inside = nullptr) const;
    void shoot(const QString &fileName = QString(), int settleMs = 0);
    QColor pixel(QQuickItem *item, QPointF at) const;
    QColor fill(QQuickItem *item) const { return pixel(item, { 5, item->height() / 2 }); }
    template <typename Test> int count(QQuickItem *box, Test test) const;
    int pixelsNear(QQuickItem *box, QColor colour, int tolerance) const;
    int pixelsOfHue(QQuickItem *box, QColor colour) const;
    QString currentPage() const;

    ScreensFixture fixture;
    QQuickView showcase;
    std::unique_ptr<QQmlApplicationEngine> engine;
    QQuickWindow *window = nullptr;
    QImage shot;
};

static bool near(QColor actual, QColor expected, int tolerance = 6)
{
    return qAbs(actual.red() - expected.red()) <= tolerance
        && qAbs(actual.green() - expected.green()) <= tolerance
        && qAbs(actual.blue() - expected.blue()) <= tolerance;
}

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

void tst_Pixels::initTestCase()
{
    QQuickStyle::setStyle(QStringLiteral("Basic"));
    QVERIFY(AppFonts::registerOnest());
    // The program's window asks for the typeface; the showcase stands in for it.
    QGuiApplication::setFont(QFont(QStringLiteral("Onest")));
    TestEnvironment::init();
    showcase.engine()->addImportPath(QStringLiteral("qrc:/"));
    const QString page = qEnvironmentVariable("KM4_TEST_SOURCE_DIR") + "/../data/KitShowcase.qml";
    showcase.setSource(QUrl::fromLocalFile(page));
    QVERIFY2(showcase.status() == QQuickView::Ready, qPrintable(page));
    showcase.show();
    window = &showcase;
    QVERIFY(QTest::qWaitForWindowExposed(window));
    QVERIFY2(window->rendererInterface()->graphicsApi() != QSGRendererInterface::Software,
        "the graphical effects need an OpenGL scene graph");
    shoot(QStringLiteral("kit-showcase.png"), 300);
}

void tst_Pixels::cleanupTestCase()
{
    engine.reset();
    fixture.stop();
}

QQuickItem *tst_Pixels::item(const char *name, const char *inside) const
{
    QQuickItem *found = find(window->contentItem(), QLatin1String(inside ? inside : name));
    if (found && inside)
        found = find(found, QLatin1String(name));
    if (!found)
        qWarning() << "no item named" << name << "in" << inside;
    return found;
}

void tst_Pixels::shoot(const QString &fileName, int settleMs)
{
    QTest::qWait(settleMs);
    shot = window->grabWindow();
    if (!fileName.isEmpty())
        shot.save(fileName);
}

QColor tst_Pixels::pixel(QQuickItem *item, QPointF at) const
{
    return shot.pixelColor((item->mapToScene(at) * window->effectiveDevicePixelRatio()).toPoint());
}

template <typename Test> int tst_Pixels::count(QQuickItem *box, Test test) const
{
    int n = 0;
    for (int y = 0; y < int(box->height()); ++y) {
        for (int x = 0; x < int(box->width()); ++x)
            n += test(pixel(box, { x + 0.5, y + 0.5 }));
    }
    return n;
}

int tst_Pixels::pixelsNear(QQuickItem *box, QColor colour, int tolerance) const
{
    return count(box, [&](QColor c) { return near(c, colour, tolerance); });
}

// Antialiased thin strokes blend with what lies behind them, so such a pixel is judged by its hue.
int tst_Pixels::pixelsOfHue(QQuickItem *box, QColor colour) const
{
    return count(box, [&](QColor c) {
        return c.hslSaturation() > 100 && qAbs(c.hslHue() - colour.hslHue()) < 12;
    });
}

void tst_Pixels::kitFills_data()
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

void tst_Pixels::kitFills()
{
    QFETCH(QByteArray, name);
    QFETCH(QColor, fill);
    QFETCH(int, tolerance);
    QQuickItem *item = this->item(name.constData());
    QVERIFY(item);
    const QColor actual
        = tolerance > 6 ? pixel(item, { 3, item->height() / 2 - 4 }) : this->fill(item);
    QVERIFY2(
        near(actual, fill, tolerance), qPrintable(actual.name() + " instead of " + fill.name()));
}

void tst_Pixels::kitIconsTakeTheTextColour_data()
{
    QTest::addColumn<QByteArray>("name");
    QTest::addColumn<QColor>("tint");
    QTest::newRow("white icon on a clear button")
        << QByteArray("clearIconButton") << QColor("#009CF3");
    QTest::newRow("red icon on attention-stroke")
        << QByteArray("logoutButton") << QColor("#EC4D74");
}

void tst_Pixels::kitIconsTakeTheTextColour()
{
    QFETCH(QByteArray, name);
    QFETCH(QColor, tint);
    QQuickItem *box = item("beforeIconBox", name.constData());
    QVERIFY(box);
    const int tinted = pixelsOfHue(box, tint);
    QVERIFY2(tinted > 15, qPrintable(QString::number(tinted)));
    QCOMPARE(pixelsNear(box, Qt::white, 40), 0); // none of the icon's own white
}

void tst_Pixels::kitWaiterDrawsThreeOpenArcs()
{
    QQuickItem *waiter = item("bigWaiter");
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
            covered += near(pixel(waiter, at), ring.colour, 40);
        }
        QVERIFY2(covered > 216 && covered < 306,
            qPrintable(ring.colour.name() + QString::number(covered)));
    }
}

void tst_Pixels::kitPressTintOfAnImageButton()
{
    QQuickItem *button = item("stroke-blueImageButton");
    QQuickItem *box = item("imageBox", "stroke-blueImageButton");
    QVERIFY(box);
    const QColor brand("#009CF3");
    const QColor grey("#9DA4AE");
    QCOMPARE(pixelsOfHue(box, brand), 0);
    QVERIFY(pixelsNear(box, grey, 30) > 10);

    const QPoint centre
        = button->mapToScene({ button->width() / 2, button->height() / 2 }).toPoint();
    QTest::mousePress(window, Qt::LeftButton, {}, centre);
    QTRY_VERIFY((shoot(), pixelsOfHue(box, brand) > 10));
    QCOMPARE(pixelsNear(box, grey, 30), 0);
    QTest::mouseRelease(window, Qt::LeftButton, {}, centre);
    QTRY_COMPARE((shoot(), pixelsOfHue(box, brand)), 0);
}

void tst_Pixels::kitLightThemeTintsImageButtonIcons()
{
    QQuickItem *button = item("backButton");
    QQuickItem *box = item("imageBox", "backButton");
    QVERIFY(box);
    const QColor iconPrimaryLight("#404040");
    shoot();
    QVERIFY(pixelsNear(box, Qt::white, 30) > 10);
    const int darkBefore = pixelsNear(box, iconPrimaryLight, 12);

    QMetaObject::invokeMethod(showcase.rootObject(), "useTheme", Q_ARG(QVariant, "light"));
    shoot(QStringLiteral("kit-showcase-light.png"), 100);
    QMetaObject::invokeMethod(showcase.rootObject(), "useTheme", Q_ARG(QVariant, "dark"));
    // On the light fill (white) the white arrow is drawn in the light icon colour.
    QVERIFY(near(fill(button), Qt::white));
    const int darkInLight = pixelsNear(box, iconPrimaryLight, 12);
    QVERIFY2(darkInLight > darkBefore + 8,
        qPrintable(QStringLiteral("%1 -> %2").arg(darkBefore).arg(darkInLight)));
}

void tst_Pixels::kitDialogBlursAndDarkensTheScreen()
{
    shoot(QString(), 100);
    QQuickItem *button = item("primaryButton");
    QVERIFY(button);
    const QColor outsideBefore = pixel(button, { -3, button->height() / 2 });
    QMetaObject::invokeMethod(showcase.rootObject(), "openDialog");
    shoot(QStringLiteral("kit-showcase-dialog.png"), 600);

    // Inside the button the backdrop is its blue, darkened; just outside, the blur carries
    // some of that blue over the edge, which the sharp picture did not have.
    const QColor inside = pixel(button, { button->width() / 2, button->height() / 2 });
    QVERIFY2(inside.blue() > inside.red() + 20 && inside.blue() < 140, qPrintable(inside.name()));
    const QColor outsideAfter = pixel(button, { -3, button->height() / 2 });
    QVERIFY2(
        outsideAfter.blue() - outsideAfter.red() > outsideBefore.blue() - outsideBefore.red() + 3,
        qPrintable(outsideBefore.name() + " -> " + outsideAfter.name()));

    // The card and the footer stand sharp above the backdrop in their own colours.
    auto *dialog = showcase.rootObject()->findChild<QObject *>(QStringLiteral("dialog"));
    QVERIFY(dialog);
    auto *card = dialog->findChild<QQuickItem *>(QStringLiteral("card"));
    auto *footer = dialog->findChild<QQuickItem *>(QStringLiteral("footer"));
    QVERIFY(card && footer);
    QVERIFY2(near(fill(card), QColor("#1D1D1D"), 2), qPrintable(fill(card).name()));
    QVERIFY2(near(fill(footer), QColor("#252525"), 2), qPrintable(fill(footer).name()));
    auto *accept = footer->findChild<QQuickItem *>(QStringLiteral("acceptButton"));
    QVERIFY(accept);
    QVERIFY(near(fill(accept), QColor("#64CC64")));
}

QString tst_Pixels::currentPage() const
{
    QQuickItem *stack = item("pageStack");
    if (!stack || stack->property("busy").toBool())
        return {};
    auto *current = stack->property("currentItem").value<QQuickItem *>();
    return current ? current->objectName() : QString();
}

void tst_Pixels::loginPage()
{
    showcase.close();
    fixture.start();
    engine = std::make_unique<QQmlApplicationEngine>();
    engine->addImportPath(QStringLiteral("qrc:/"));
    fixture.setEngine(engine.get());
    engine->load(QUrl(QStringLiteral("qrc:/km4App/Main.qml")));
    QCOMPARE(engine->rootObjects().size(), 1);
    window = qobject_cast<QQuickWindow *>(engine->rootObjects().constFirst());
    QVERIFY(window);
    QVERIFY(QTest::qWaitForWindowExposed(window));

    QTRY_COMPARE(currentPage(), QStringLiteral("authPage"));
    shoot(QStringLiteral("screen-login.png"), 400);
    // The rounded mask draws the domain view: the sign-in button in its own blue.
    QVERIFY2(near(fill(item("signInButton")), QColor("#009CF3")),
        qPrintable(fill(item("signInButton")).name()));
    // The picture behind is darkened.
    const QColor back = pixel(item("authPage"), { 300, 300 });
    QVERIFY2(back.red() < 110 && back.green() < 110 && back.blue() < 110, qPrintable(back.name()));
}

void tst_Pixels::loadingPage()
{
    fixture.knowTheDevice();
    fixture.refuse(QString::fromLatin1(FakeServer::SyncPath));
    item("domainWidget")->setProperty("domain", QStringLiteral("127"));
    QQuickItem *button = item("signInButton");
    QTest::mouseClick(window, Qt::LeftButton, {},
        button->mapToScene({ button->width() / 2, button->height() / 2 }).toPoint());
    QTRY_COMPARE_WITH_TIMEOUT(currentPage(), QStringLiteral("loadingPage"), 10000);
    shoot(QStringLiteral("screen-loading.png"), 400);
    QVERIFY(near(pixel(item("loadingPage"), { 5, 5 }), QColor("#1D1D1D")));
    QVERIFY(pixelsNear(item("supportButton"), QColor("#009CF3"), 40) > 20);
}

void tst_Pixels::board()
{
    fixture.announceSyncFinished();
    QTRY_COMPARE_WITH_TIMEOUT(currentPage(), QStringLiteral("ordersPage"), 5000);
    fixture.addOrder(17, QStringLiteral("packaged"));
    fixture.addOrder(71, QStringLiteral("packaged"));
    fixture.addOrder(5, QStringLiteral("cooking"));
    QQuickItem *grid = item("grid", "readyPanel");
    QTRY_COMPARE(grid->property("count").toInt(), 2);
    shoot(QStringLiteral("screen-board.png"), 400);
    QVERIFY(near(fill(item("header", "readyPanel")), QColor("#64CC64")));
    QVERIFY(near(fill(item("header", "preparingPanel")), QColor("#9DA4AE")));

    // The same two digits, the newest drawn larger.
    QList<QQuickItem *> cells;
    const QList<QQuickItem *> children
        = grid->property("contentItem").value<QQuickItem *>()->childItems();
    for (QQuickItem *cell : children) {
        if (cell->objectName() == QLatin1String("number"))
            cells.append(cell);
    }
    QCOMPARE(cells.size(), 2);
    std::sort(
        cells.begin(), cells.end(), [](QQuickItem *a, QQuickItem *b) { return a->y() < b->y(); });
    const int first = pixelsNear(cells[0], QColor("#64CC64"), 30);
    const int last = pixelsNear(cells[1], QColor("#64CC64"), 30);
    QVERIFY2(
        first > 50 && last > first * 1.5, qPrintable(QStringLiteral("%1 %2").arg(first).arg(last)));
}

void tst_Pixels::supportPanel()
{
    QQuickItem *preparingHeader = item("header", "preparingPanel");
    const QColor before = fill(preparingHeader);
    QTest::keyClick(window, '*');
    QObject *dialog = window->findChild<QObject *>(QStringLiteral("supportDialog"));
    QVERIFY(dialog);
    QTRY_VERIFY(dialog->property("opened").toBool());
    shoot(QStringLiteral("screen-support.png"), 400);

    QQuickItem *card = item("supportCard");
    QVERIFY(card);
    QVERIFY(near(pixel(card, { 8, card->height() / 2 }), QColor("#1D1D1D"), 2));
    QCOMPARE(card->mapToScene({ card->width(), 0 }).x(), window->width() - 8.0);
    // Behind the panel the board is darkened.
    const QColor after = fill(preparingHeader);
    QVERIFY2(after.red() < before.red() / 2, qPrintable(before.name() + " -> " + after.name()));
}

QTEST_MAIN(tst_Pixels)

#include "tst_pixels.moc"
