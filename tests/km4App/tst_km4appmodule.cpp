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
#include <QRegularExpression>
#include <QtTest>

// The module's files as the program loads them (import path "qrc:/", Basic style).
class tst_Km4AppModule : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        QQuickStyle::setStyle(QStringLiteral("Basic"));
        QVERIFY(AppFonts::registerOnest());
    }
    void everyComponentLoadsWithoutAWarning();
    void typefaceFromResources();
};

static QStringList warnings;

// Every QML file names only assets that are in the resources; every component but the singletons
// (created through their users) and the pages (they need the core: tst_screens) is created and
// shown without a warning.
void tst_Km4AppModule::everyComponentLoadsWithoutAWarning()
{
    // Components that cannot exist without these.
    const QHash<QString, QVariantMap> required {
        { QStringLiteral("ImageButton.qml"), { { "source", "qrc:/icons/arrow-back-white.svg" } } },
        { QStringLiteral("KMTitleValueText.qml"), { { "title", "Домен" }, { "value", "cafe" } } },
    };
    const QRegularExpression asset(QStringLiteral("qrc(:/icons/[^\"']+)"));
    QQmlEngine engine;
    engine.addImportPath(QStringLiteral("qrc:/"));
    QQuickWindow window;
    const QtMessageHandler previous
        = qInstallMessageHandler([](QtMsgType type, const QMessageLogContext &, const QString &m) {
              if (type != QtDebugMsg && type != QtInfoMsg)
                  warnings.append(m);
          });
    QDirIterator it(QStringLiteral(":/km4App"), { QStringLiteral("*.qml") }, QDir::Files,
        QDirIterator::Subdirectories);
    int components = 0;
    while (it.hasNext()) {
        const QString path = it.next();
        QFile qml(path);
        qml.open(QIODevice::ReadOnly);
        for (const auto &match : asset.globalMatch(QString::fromUtf8(qml.readAll()))) {
            if (!QFile::exists(match.captured(1)))
                warnings.append(path + QLatin1String(" names ") + match.captured(0));
        }
        const QString file = QFileInfo(path).fileName();
        if (!path.contains(QLatin1String("/KMUI/")) || path.contains(QLatin1String("/Pages/"))
            || file == QLatin1String("Theme.qml") || file == QLatin1String("DpiSettings.qml"))
            continue;
        QQmlComponent component(&engine, QUrl(QStringLiteral("qrc") + path));
        auto *object = component.createWithInitialProperties(required.value(file));
        if (!object)
            warnings.append(path + QLatin1Char(' ') + component.errorString());
        if (auto *item = qobject_cast<QQuickItem *>(object)) {
            item->setParent(&window);
            item->setParentItem(window.contentItem());
        }
        QCoreApplication::processEvents();
        ++components;
    }
    qInstallMessageHandler(previous);
    QVERIFY2(warnings.isEmpty(), qPrintable(warnings.join('\n')));
    QVERIFY(components >= 13);
}

// The window's typeface is Onest itself, with Cyrillic; the weights the screens use are its own.
void tst_Km4AppModule::typefaceFromResources()
{
    QCOMPARE(QFontInfo(QFont(QStringLiteral("Onest"))).family(), QStringLiteral("Onest"));
    QCOMPARE(QFontDatabase::styles(QStringLiteral("Onest")).size(), 4);
    QVERIFY(
        QFontDatabase::writingSystems(QStringLiteral("Onest")).contains(QFontDatabase::Cyrillic));
}

QTEST_MAIN(tst_Km4AppModule)

#include "tst_km4appmodule.moc"
