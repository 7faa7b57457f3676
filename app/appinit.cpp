#include "app/appinit.h"

#include "app/terminationsignals.h"
#include "bridge/addressrules.h"
#include "bridge/menuopt.h"
#include "bridge/zxjavascript.h"
#include "browser/downloadlist.h"
#include "browser/loadfailure.h"
#include "browser/notificationpresenter.h"
#include "browser/pageprinter.h"
#include "browser/permissionstore.h"
#include "config/appdir.h"
#include "config/config.h"
#include "config/deployment.h"
#include "net/mynetwork.h"
#include "sync/reportfolders.h"

#include <QCoreApplication>
#include <QDebug>
#include <QQmlApplicationEngine>
#include <QQmlComponent>
#include <QQmlContext>
#include <QQuickWebEngineProfile>
#include <QTimer>
#include <QUrl>
#include <QtQml/qqml.h>

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

bool AppInit::init(QQmlApplicationEngine *engine)
{
    Config *config = Config::getInstance();
    MyNetwork::getInstance(QStringLiteral("app_index"))->setBaseUrl(Deployment::indexServiceAddress());
    config->loadConfig();
    prepareWindow(engine);
    if (!terminationRequested())
        config->checkCodeVersion();
    if (terminationRequested())
        return false;
    switchReportFolders();
    qDebug().noquote() << "---------url" + config->getUrl(0);

    engine->rootContext()->setContextProperty(QStringLiteral("config"), config);
    engine->rootContext()->setContextProperty(QStringLiteral("menuOpt"), MenuOpt::getInstance());
    return true;
}

void AppInit::prepareWindow(QQmlApplicationEngine *engine)
{
    qmlRegisterType<DownloadList>("Fenestra", 1, 0, "DownloadList");
    qmlRegisterType<PagePrinter>("Fenestra", 1, 0, "PagePrinter");
    qmlRegisterType<PermissionStore>("Fenestra", 1, 0, "PermissionStore");
    qmlRegisterType<NotificationPresenter>("Fenestra", 1, 0, "NotificationPresenter");
    // Compiled on the engine's loader thread while the code-version request is in
    // flight; load() finds it in the engine's cache, or waits for the rest.
    preparedWindow = new QQmlComponent(engine, windowDocument(), QQmlComponent::Asynchronous, engine);
    // The web engine starts its own processes with its first profile, which takes
    // a while: the request goes first, this follows from within its wait. The
    // profile keeps nothing on disk and goes once the window has its own.
    QTimer::singleShot(0, engine, [this, engine] {
        if (preparedWindow)
            engineStarter = new QQuickWebEngineProfile(engine);
    });
}

void AppInit::loadWindow(QQmlApplicationEngine *engine)
{
    engine->rootContext()->setContextProperty(QStringLiteral("zx"), ZxJavascript::getInstance());
    engine->rootContext()->setContextProperty(QStringLiteral("addressRules"), AddressRules::getInstance());
    engine->rootContext()->setContextProperty(QStringLiteral("loadFailure"), LoadFailure::getInstance());
    engine->rootContext()->setContextProperty(QStringLiteral("appDir"), AppDir::path());

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
