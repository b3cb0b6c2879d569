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
    void typefaceAndAssetsFromResources();
};

static QStringList warnings;

// Every component is created and shown; the singletons come with their users, and the pages
// need the core (tst_screens).
void tst_Km4AppModule::everyComponentLoadsWithoutAWarning()
{
    // Components that cannot exist without these.
    const QHash<QString, QVariantMap> required {
        { QStringLiteral("ImageButton.qml"), { { "source", "qrc:/icons/arrow-back-white.svg" } } },
        { QStringLiteral("KMTitleValueText.qml"), { { "title", "Домен" }, { "value", "cafe" } } },
    };
    QQmlEngine engine;
    engine.addImportPath(QStringLiteral("qrc:/"));
    QQuickWindow window;
    const QtMessageHandler previous
        = qInstallMessageHandler([](QtMsgType type, const QMessageLogContext &, const QString &m) {
              if (type != QtDebugMsg && type != QtInfoMsg)
                  warnings.append(m);
          });
    QDirIterator it(QStringLiteral(":/km4App/KMUI"), { QStringLiteral("*.qml") }, QDir::Files,
        QDirIterator::Subdirectories);
    int count = 0;
    while (it.hasNext()) {
        const QString path = it.next();
        const QString file = QFileInfo(path).fileName();
        if (file == QLatin1String("Theme.qml") || file == QLatin1String("DpiSettings.qml")
            || path.contains(QLatin1String("/Pages/")))
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
        ++count;
    }
    qInstallMessageHandler(previous);
    QVERIFY2(warnings.isEmpty(), qPrintable(warnings.join('\n')));
    QVERIFY(count >= 13);
}

// Every weight in Onest itself, with Cyrillic; every asset the QML names is in the resources.
void tst_Km4AppModule::typefaceAndAssetsFromResources()
{
    for (int weight : { QFont::Normal, QFont::Medium, QFont::DemiBold, QFont::Bold }) {
        QFont font(QStringLiteral("Onest"));
        font.setWeight(QFont::Weight(weight));
        QCOMPARE(QFontInfo(font).family(), QStringLiteral("Onest"));
        QCOMPARE(QFontInfo(font).weight(), weight);
    }
    QVERIFY(
        QFontDatabase::writingSystems(QStringLiteral("Onest")).contains(QFontDatabase::Cyrillic));
    QDirIterator it(QStringLiteral(":/km4App"), { QStringLiteral("*.qml") }, QDir::Files,
        QDirIterator::Subdirectories);
    const QRegularExpression asset(QStringLiteral("qrc(:/icons/[^\"']+)"));
    int assets = 0;
    while (it.hasNext()) {
        QFile qml(it.next());
        QVERIFY(qml.open(QIODevice::ReadOnly));
        for (const auto &match : asset.globalMatch(QString::fromUtf8(qml.readAll()))) {
            QVERIFY2(QFile::exists(match.captured(1)), qPrintable(match.captured(0)));
            ++assets;
        }
    }
    QVERIFY(assets >= 15);
}

QTEST_MAIN(tst_Km4AppModule)

#include "tst_km4appmodule.moc"
