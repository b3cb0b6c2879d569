#include "../pixelprobe.h"
#include "appfonts.h"
#include "screensfixture.h"
#include "testenvironment.h"

#include <QCoreApplication>
#include <QQmlApplicationEngine>
#include <QQuickStyle>
#include <QtTest>

// The program's window drawn for real, page by page, over a real core and the server double.
// Each page is kept as a screenshot in the build folder.
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
    QQuickItem *item(const char *name, const char *inside = nullptr) const;
    QString currentPage() const;
    void shoot(const QString &fileName);

    ScreensFixture fixture;
    std::unique_ptr<QQmlApplicationEngine> engine;
    QQuickWindow *window = nullptr;
    std::unique_ptr<PixelProbe> probe;
};

void tst_ScreenPixels::initTestCase()
{
    QQuickStyle::setStyle(QStringLiteral("Basic"));
    QVERIFY(AppFonts::registerOnest());
    TestEnvironment::init();
    fixture.start();
    engine = std::make_unique<QQmlApplicationEngine>();
    engine->addImportPath(QStringLiteral("qrc:/"));
    fixture.setEngine(engine.get());
    engine->load(QUrl(QStringLiteral("qrc:/km4App/Main.qml")));
    QCOMPARE(engine->rootObjects().size(), 1);
    window = qobject_cast<QQuickWindow *>(engine->rootObjects().constFirst());
    QVERIFY(window);
    probe = std::make_unique<PixelProbe>(window);
    QVERIFY(QTest::qWaitForWindowExposed(window));
    QVERIFY2(window->rendererInterface()->graphicsApi() != QSGRendererInterface::Software,
        "the graphical effects need an OpenGL scene graph");
}

void tst_ScreenPixels::cleanupTestCase()
{
    engine.reset();
    fixture.stop();
}

QQuickItem *tst_ScreenPixels::item(const char *name, const char *inside) const
{
    QQuickItem *found
        = inside ? PixelProbe::find(probe->item(inside), QLatin1String(name)) : probe->item(name);
    if (!found)
        qWarning() << "no item named" << name;
    return found;
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
    probe->shoot(fileName);
}

void tst_ScreenPixels::loginPage()
{
    QTRY_COMPARE(currentPage(), QStringLiteral("authPage"));
    shoot(QStringLiteral("screen-login.png"));
    // The rounded mask draws the domain view: the sign-in button in its own blue.
    const QColor fill = probe->fill(item("signInButton"));
    QVERIFY2(PixelProbe::near(fill, QColor("#009CF3")), qPrintable(fill.name()));
    // The picture behind is darkened.
    const QColor back = probe->pixel(item("authPage"), { 300, 300 });
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
    QVERIFY(PixelProbe::near(probe->pixel(item("loadingPage"), { 5, 5 }), QColor("#1D1D1D")));
    QVERIFY(probe->pixelsNear(item("supportButton"), QColor("#009CF3"), 40) > 20);
}

void tst_ScreenPixels::board()
{
    fixture.announceSyncFinished();
    QTRY_COMPARE_WITH_TIMEOUT(currentPage(), QStringLiteral("ordersPage"), 5000);
    fixture.addOrder(17, QStringLiteral("packaged"));
    fixture.addOrder(71, QStringLiteral("packaged"));
    fixture.addOrder(5, QStringLiteral("cooking"));
    QQuickItem *grid = item("grid", "readyPanel");
    QTRY_COMPARE(grid->property("count").toInt(), 2);
    shoot(QStringLiteral("screen-board.png"));
    QVERIFY(PixelProbe::near(probe->fill(item("header", "readyPanel")), QColor("#64CC64")));
    QVERIFY(PixelProbe::near(probe->fill(item("header", "preparingPanel")), QColor("#9DA4AE")));

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
    const int first = probe->pixelsNear(cells[0], QColor("#64CC64"), 30);
    const int last = probe->pixelsNear(cells[1], QColor("#64CC64"), 30);
    QVERIFY2(
        first > 50 && last > first * 1.5, qPrintable(QStringLiteral("%1 %2").arg(first).arg(last)));
}

void tst_ScreenPixels::supportPanel()
{
    QQuickItem *preparingHeader = item("header", "preparingPanel");
    const QColor before = probe->fill(preparingHeader);
    QTest::keyClick(window, '*');
    QObject *dialog = window->findChild<QObject *>(QStringLiteral("supportDialog"));
    QVERIFY(dialog);
    QTRY_VERIFY(dialog->property("opened").toBool());
    shoot(QStringLiteral("screen-support.png"));

    QQuickItem *card = item("supportCard");
    QVERIFY(card);
    QVERIFY(PixelProbe::near(probe->pixel(card, { 8, card->height() / 2 }), QColor("#1D1D1D"), 2));
    QCOMPARE(card->mapToScene({ card->width(), 0 }).x(), window->width() - 8.0);
    // Behind the panel the board is darkened.
    const QColor after = probe->fill(preparingHeader);
    QVERIFY2(after.red() < before.red() / 2, qPrintable(before.name() + " -> " + after.name()));
}

QTEST_MAIN(tst_ScreenPixels)

#include "tst_screenpixels.moc"
