#include "app/appinit.h"

#include "app/terminationsignals.h"
#include "bridge/menuopt.h"
#include "bridge/zxjavascript.h"
#include "config/appdir.h"
#include "config/config.h"
#include "config/deployment.h"
#include "config/logging.h"
#include "net/mynetwork.h"
#include "sync/reportfolders.h"

#include <QCoreApplication>
#include <QQmlApplicationEngine>
#include <QQmlComponent>
#include <QQmlContext>
#include <QQuickWebEngineProfile>
#include <QTimer>
#include <QUrl>

// Module Fenestra has no plugin: its types register themselves from the core
// library once the linker keeps their registration, which this reference does.
void qml_register_types_Fenestra();

namespace {
QUrl windowDocument()
{
    return QUrl(QStringLiteral("qrc:/main.qml"), QUrl::TolerantMode);
}
} // namespace

AppInit *AppInit::getInstance()
{
    static AppInit *const instance = new AppInit;
    return instance;
}

bool AppInit::init(QQmlApplicationEngine *engine, const std::function<void()> &whileWaiting)
{
    Config *config = Config::getInstance();
    MyNetwork::getInstance(QStringLiteral("app_index"))->setBaseUrl(Deployment::indexServiceAddress());
    config->loadConfig();
    prepareWindow(engine, whileWaiting);
    if (!terminationRequested())
        config->checkCodeVersion();
    if (terminationRequested())
        return false;
    switchReportFolders();
    qCDebug(lcStartup).noquote() << "---------url" + config->getUrl(0);

    engine->rootContext()->setContextProperty(QStringLiteral("config"), config);
    engine->rootContext()->setContextProperty(QStringLiteral("menuOpt"), MenuOpt::getInstance());
    return true;
}

void AppInit::prepareWindow(QQmlApplicationEngine *engine, const std::function<void()> &whileWaiting)
{
    volatile auto registration = &qml_register_types_Fenestra;
    Q_UNUSED(registration);
    // The documents compiled ahead of time live in the core library's cache loader,
    // which the linker would leave out as nothing else refers to it (Qt 6.8 does):
    // every start would then compile the documents anew.
    Q_INIT_RESOURCE(qmlcache_fenestra_core);
    // Compiled on the engine's loader thread while the code-version request is in
    // flight; load() finds it in the engine's cache, or waits for the rest.
    preparedWindow = new QQmlComponent(engine, windowDocument(), QQmlComponent::Asynchronous, engine);
    // The web engine starts its own processes with its first profile, which takes
    // a while: the request goes first, this follows from within its wait, after
    // what the caller shows meanwhile. The profile keeps nothing on disk and goes
    // once the window has its own.
    QTimer::singleShot(0, engine, [this, engine, whileWaiting] {
        if (!preparedWindow)
            return;
        if (whileWaiting)
            whileWaiting();
        engineStarter = new QQuickWebEngineProfile(engine);
    });
}

void AppInit::loadWindow(QQmlApplicationEngine *engine)
{
    engine->rootContext()->setContextProperty(QStringLiteral("zx"), ZxJavascript::getInstance());
    engine->rootContext()->setContextProperty(QStringLiteral("appDir"), AppDir::path());
    // Qt 6.4's engine crashes when a tab takes over a new window that its opener
    // has written into; there new windows load their address instead.
    engine->rootContext()->setContextProperty(QStringLiteral("adoptsNewWindows"),
                                              QT_VERSION >= QT_VERSION_CHECK(6, 8, 0));

    const QUrl window = windowDocument();
    QObject::connect(
            engine, &QQmlApplicationEngine::objectCreated, QCoreApplication::instance(),
            [window](QObject *object, const QUrl &url) {
                if (!object && url == window)
                    QCoreApplication::exit(-1);
            },
            Qt::QueuedConnection);
    engine->load(window);
    delete preparedWindow;
    preparedWindow = nullptr;
    delete engineStarter;
    engineStarter = nullptr;
}
