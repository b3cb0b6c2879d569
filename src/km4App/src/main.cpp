#include "appfonts.h"
#include "cachingnetworkaccessmanagerfactory.h"
#include "qmlappcore.h"
#include "services/kmapi/timezoneapi.h"
#include "shared/appexception.h"

#include <QGuiApplication>
#include <QQmlApplicationEngine>
#include <QQmlContext>
#include <QQuickStyle>
#include <QScreen>
#include <QUrl>

#include <exception>
#include <memory>

namespace {

// Builds the core, reporting a failure instead of letting it end the program unexplained.
QmlAppCore *createCore(QObject *parent)
{
    try {
        return new QmlAppCore(parent);
    } catch (const AppException &e) {
        qCritical() << "cannot start the core:" << e.message() << e.description();
    } catch (const std::exception &e) {
        qCritical() << "cannot start the core:" << e.what();
    }
    return nullptr;
}

} // namespace

int main(int argc, char **argv)
{
    QGuiApplication app(argc, argv);
    QGuiApplication::setOrganizationName(QStringLiteral("Kolmira"));
    QGuiApplication::setOrganizationDomain(QStringLiteral("kolmira.ru"));
    QGuiApplication::setApplicationName(QStringLiteral("Kolmira Queue"));
    QGuiApplication::setApplicationVersion(QStringLiteral("1.0.0"));
    app.setProperty("VERSION_CODE", QStringLiteral("9"));
    QQuickStyle::setStyle(QStringLiteral("Basic"));
    // Lets a board on a machine without the outside world (a simulator, a test) check its clock
    // against a local time-zone service.
    const QString timeZoneHost = qEnvironmentVariable("KM4_TIMEZONE_HOST");
    if (!timeZoneHost.isEmpty())
        TimezoneApi::setServiceHost(timeZoneHost);

    int exitCode = 1;
    {
        // The engine may ask the factory for managers until it is gone, so the factory outlives it.
        const auto factory = std::make_unique<CachingNetworkAccessManagerFactory>();
        QQmlApplicationEngine engine;
        engine.addImportPath(QStringLiteral("qrc:/"));
        engine.setNetworkAccessManagerFactory(factory.get());

        QmlAppCore *core = createCore(&app);
        if (!core)
            return 1;
        engine.rootContext()->setContextProperty(QStringLiteral("appCore"), core);

        if (!AppFonts::registerOnest())
            qWarning() << "the Onest typeface is incomplete; the screens fall back to other fonts";

        // Only a landscape screen says so; every screen gets the board all the same.
        const QScreen *screen = QGuiApplication::primaryScreen();
        if (screen && screen->primaryOrientation() == Qt::LandscapeOrientation)
            engine.rootContext()->setContextProperty(QStringLiteral("verticaled"), false);
        engine.load(QUrl(QStringLiteral("qrc:/km4App/Main.qml")));

        if (engine.rootObjects().isEmpty()) {
            qCritical() << "cannot load the main window";
        } else {
            exitCode = QGuiApplication::exec();
        }
        // Pool work reports to the core and its models; let it end while everything is alive.
        core->waitForBackgroundWork();
        // The engine goes before the factory and the application object, which then deletes
        // the core.
    }
    return exitCode;
}
