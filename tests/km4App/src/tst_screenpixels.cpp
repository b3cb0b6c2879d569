#include "appfonts.h"
#include "screensfixture.h"
#include "testenvironment.h"

#include <QCoreApplication>
#include <QDir>
#include <QQmlApplicationEngine>
#include <QQuickItem>
#include <QQuickStyle>
#include <QQuickWindow>
#include <QtTest>

// The program's window drawn for real, page by page, over a real core and the server double:
// the graphical effects draw nothing offscreen, so this runs under a virtual X server. Each page
// is kept as a screenshot in the build folder.
class tst_ScreenPixels : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void loginPage();
    void loadingPage();
    void board();
    void supportPanel();

private:
    QQuickItem *item(const char *name) const;
    QColor pixel(QQuickItem *item, QPointF at) const;
    int pixelsNear(QQuickItem *box, QColor colour, int tolerance) const;
    QString currentPage() const;
    void shoot(const QString &fileName);
    static bool near(QColor actual, QColor expected, int tolerance = 6);

    ScreensFixture fixture;
    std::unique_ptr<QQmlApplicationEngine> engine;
    QQuickWindow *window = nullptr;
    QImage shot;
};

void tst_ScreenPixels::initTestCase()
{
    QQuickStyle::setStyle(QStringLiteral("Basic"));
    QVERIFY(AppFonts::registerOnest());
    QCoreApplication::setApplicationVersion(QStringLiteral("1.0.0"));
    QCoreApplication::instance()->setProperty("VERSION_CODE", QStringLiteral("9"));
    TestEnvironment::init();
    fixture.start();
    engine = std::make_unique<QQmlApplicationEngine>();
    engine->addImportPath(QStringLiteral("qrc:/"));
    fixture.setEngine(engine.get());
    engine->load(QUrl(QStringLiteral("qrc:/km4App/Main.qml")));
    QCOMPARE(engine->rootObjects().size(), 1);
    window = qobject_cast<QQuickWindow *>(engine->rootObjects().constFirst());
    QVERIFY(window);
    QVERIFY(QTest::qWaitForWindowExposed(window));
    QVERIFY2(window->rendererInterface()->graphicsApi() != QSGRendererInterface::Software,
        "the graphical effects need an OpenGL scene graph");
}

void tst_ScreenPixels::cleanupTestCase()
{
    engine.reset();
    fixture.stop();
}

// Searches the visual tree: delegates and popups are not QObject children of their views.
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

QQuickItem *tst_ScreenPixels::item(const char *name) const
{
    QQuickItem *found = findItem(window->contentItem(), QLatin1String(name));
    if (!found)
        qWarning() << "no item named" << name;
    return found;
}

QColor tst_ScreenPixels::pixel(QQuickItem *item, QPointF at) const
{
    const QPoint p = (item->mapToScene(at) * window->effectiveDevicePixelRatio()).toPoint();
    return shot.pixelColor(p);
}

bool tst_ScreenPixels::near(QColor actual, QColor expected, int tolerance)
{
    return qAbs(actual.red() - expected.red()) <= tolerance
        && qAbs(actual.green() - expected.green()) <= tolerance
        && qAbs(actual.blue() - expected.blue()) <= tolerance;
}

int tst_ScreenPixels::pixelsNear(QQuickItem *box, QColor colour, int tolerance) const
{
    int count = 0;
    for (int y = 0; y < int(box->height()); ++y) {
        for (int x = 0; x < int(box->width()); ++x)
            count += near(pixel(box, { x + 0.5, y + 0.5 }), colour, tolerance);
    }
    return count;
}

QString tst_ScreenPixels::currentPage() const
{
    QQuickItem *stack = item("pageStack");
    if (!stack || stack->property("busy").toBool())
        return {};
    auto *current = stack->property("currentItem").value<QQuickItem *>();
    return current ? current->objectName() : QString();
}

void tst_ScreenPixels::shoot(const QString &fileName)
{
    QTest::qWait(400); // the slides and the waiter's first frames
    shot = window->grabWindow();
    shot.save(QDir::current().filePath(fileName));
}

void tst_ScreenPixels::loginPage()
{
    QTRY_COMPARE(currentPage(), QStringLiteral("authPage"));
    shoot(QStringLiteral("screen-login.png"));
    // The rounded mask draws the domain view: the sign-in button in its own blue.
    QQuickItem *button = item("signInButton");
    QVERIFY(button);
    const QColor fill = pixel(button, { 5, button->height() / 2 });
    QVERIFY2(near(fill, QColor("#009CF3")), qPrintable(fill.name()));
    // The picture behind is darkened.
    const QColor back = pixel(item("authPage"), { 300, 300 });
    QVERIFY2(back.red() < 110 && back.green() < 110 && back.blue() < 110, qPrintable(back.name()));
}

void tst_ScreenPixels::loadingPage()
{
    fixture.knowTheDevice();
    fixture.refuse(QString::fromLatin1(FakeServer::SyncPath));
    item("domainWidget")->setProperty("domain", QStringLiteral("127"));
    QQuickItem *button = item("signInButton");
    QTest::mouseClick(window, Qt::LeftButton, {},
        button->mapToScene({ button->width() / 2, button->height() / 2 }).toPoint());
    QTRY_COMPARE_WITH_TIMEOUT(currentPage(), QStringLiteral("loadingPage"), 10000);
    shoot(QStringLiteral("screen-loading.png"));
    QVERIFY(near(pixel(item("loadingPage"), { 5, 5 }), QColor("#1D1D1D")));
    QQuickItem *support = item("supportButton");
    QVERIFY(support);
    QVERIFY(pixelsNear(support, QColor("#009CF3"), 40) > 20);
}

void tst_ScreenPixels::board()
{
    fixture.announceSyncFinished();
    QTRY_COMPARE_WITH_TIMEOUT(currentPage(), QStringLiteral("ordersPage"), 5000);
    fixture.addOrder(17, QStringLiteral("packaged"));
    fixture.addOrder(71, QStringLiteral("packaged"));
    fixture.addOrder(5, QStringLiteral("cooking"));
    QQuickItem *ready = item("readyPanel");
    QTRY_COMPARE(findItem(ready, QLatin1String("grid"))->property("count").toInt(), 2);
    shoot(QStringLiteral("screen-board.png"));

    QQuickItem *readyHeader = findItem(ready, QLatin1String("header"));
    QVERIFY(near(pixel(readyHeader, { 5, readyHeader->height() / 2 }), QColor("#64CC64")));
    QQuickItem *preparingHeader = findItem(item("preparingPanel"), QLatin1String("header"));
    QVERIFY(near(pixel(preparingHeader, { 5, preparingHeader->height() / 2 }), QColor("#9DA4AE")));

    // The same two digits, the newest drawn larger.
    QList<QQuickItem *> cells;
    const QList<QQuickItem *> children =
        findItem(ready, QLatin1String("grid"))->property("contentItem").value<QQuickItem *>()->childItems();
    for (QQuickItem *cell : children) {
        if (cell->objectName() == QLatin1String("number"))
            cells.append(cell);
    }
    QCOMPARE(cells.size(), 2);
    std::sort(cells.begin(), cells.end(), [](QQuickItem *a, QQuickItem *b) { return a->y() < b->y(); });
    const int first = pixelsNear(cells[0], QColor("#64CC64"), 30);
    const int last = pixelsNear(cells[1], QColor("#64CC64"), 30);
    QVERIFY2(first > 50 && last > first * 1.5, qPrintable(QStringLiteral("%1 %2").arg(first).arg(last)));
}

void tst_ScreenPixels::supportPanel()
{
    QQuickItem *preparingHeader = findItem(item("preparingPanel"), QLatin1String("header"));
    const QColor before = pixel(preparingHeader, { 5, preparingHeader->height() / 2 });
    QTest::keyClick(window, '*');
    QObject *dialog = window->findChild<QObject *>(QStringLiteral("supportDialog"));
    QVERIFY(dialog);
    QTRY_VERIFY(dialog->property("opened").toBool());
    shoot(QStringLiteral("screen-support.png"));

    QQuickItem *card = item("supportCard");
    QVERIFY(card);
    QVERIFY(near(pixel(card, { 8, card->height() / 2 }), QColor("#1D1D1D"), 2));
    QCOMPARE(card->mapToScene({ card->width(), 0 }).x(), window->width() - 8.0);
    // Behind the panel the board is darkened.
    const QColor after = pixel(preparingHeader, { 5, preparingHeader->height() / 2 });
    QVERIFY2(after.red() < before.red() / 2, qPrintable(before.name() + " -> " + after.name()));
}

QTEST_MAIN(tst_ScreenPixels)

#include "tst_screenpixels.moc"
