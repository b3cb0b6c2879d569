#include "appfonts.h"

#include <QDirIterator>
#include <QFontDatabase>
#include <QFontInfo>
#include <QGuiApplication>
#include <QQmlComponent>
#include <QQmlEngine>
#include <QQuickItem>
#include <QQuickStyle>
#include <QQuickWindow>
#include <QtTest>

// Loads every component of the module as the program does (import path "qrc:/", Basic style) and
// fails on any warning the engine prints while doing so.
class tst_Km4AppModule : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void everyComponentLoads_data();
    void everyComponentLoads();
    void typefaceFromResources();

private:
    static QStringList s_warnings;
    static void collectWarnings(QtMsgType type, const QMessageLogContext &, const QString &message);
};

QStringList tst_Km4AppModule::s_warnings;

void tst_Km4AppModule::collectWarnings(
    QtMsgType type, const QMessageLogContext &, const QString &message)
{
    if (type != QtDebugMsg && type != QtInfoMsg)
        s_warnings.append(message);
}

void tst_Km4AppModule::initTestCase()
{
    QQuickStyle::setStyle(QStringLiteral("Basic"));
    QVERIFY(AppFonts::registerOnest());
}

void tst_Km4AppModule::everyComponentLoads_data()
{
    QTest::addColumn<QString>("url");
    QTest::addColumn<QVariantMap>("properties");

    // Components that cannot exist without these.
    const QHash<QString, QVariantMap> required {
        { QStringLiteral("ImageButton.qml"), { { "source", "qrc:/icons/arrow-back-white.svg" } } },
        { QStringLiteral("KMTitleValueText.qml"), { { "title", "Домен" }, { "value", "cafe" } } },
    };
    QDirIterator it(QStringLiteral(":/km4App/KMUI"), { QStringLiteral("*.qml") }, QDir::Files,
        QDirIterator::Subdirectories);
    int count = 0;
    while (it.hasNext()) {
        const QString path = it.next();
        const QString file = QFileInfo(path).fileName();
        // Singletons are created through their users; the pages need the core (tst_screens).
        if (file == QLatin1String("Theme.qml") || file == QLatin1String("DpiSettings.qml")
            || path.contains(QLatin1String("/Pages/")))
            continue;
        QTest::newRow(qPrintable(path.mid(QStringLiteral(":/km4App/").size())))
            << QStringLiteral("qrc") + path << required.value(file);
        ++count;
    }
    QVERIFY2(count >= 13, "the kit's components are missing from the resources");
}

void tst_Km4AppModule::everyComponentLoads()
{
    QFETCH(QString, url);
    QFETCH(QVariantMap, properties);

    QQmlEngine engine;
    engine.addImportPath(QStringLiteral("qrc:/"));
    QQuickWindow window;
    s_warnings.clear();
    const QtMessageHandler previous = qInstallMessageHandler(collectWarnings);
    QQmlComponent component(&engine, QUrl(url));
    std::unique_ptr<QObject> object(component.createWithInitialProperties(properties));
    if (auto *item = qobject_cast<QQuickItem *>(object.get()))
        item->setParentItem(window.contentItem());
    QCoreApplication::processEvents();
    qInstallMessageHandler(previous);

    QVERIFY2(object, qPrintable(component.errorString()));
    QVERIFY2(s_warnings.isEmpty(), qPrintable(s_warnings.join('\n')));
}

void tst_Km4AppModule::typefaceFromResources()
{
    QVERIFY(QFontDatabase::families().contains(QStringLiteral("Onest")));
    for (int weight : { QFont::Normal, QFont::Medium, QFont::DemiBold, QFont::Bold }) {
        QFont font(QStringLiteral("Onest"));
        font.setWeight(QFont::Weight(weight));
        const QFontInfo info(font);
        QCOMPARE(info.family(), QStringLiteral("Onest"));
        QCOMPARE(info.weight(), weight);
    }
    QVERIFY(
        QFontDatabase::writingSystems(QStringLiteral("Onest")).contains(QFontDatabase::Cyrillic));
}

QTEST_MAIN(tst_Km4AppModule)

#include "tst_km4appmodule.moc"
