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
#include <QQmlContext>
#include <QUrl>
#include <QtQml/qqml.h>

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

void AppInit::loadWindow(QQmlApplicationEngine *engine)
{
    engine->rootContext()->setContextProperty(QStringLiteral("zx"), ZxJavascript::getInstance());
    engine->rootContext()->setContextProperty(QStringLiteral("addressRules"), AddressRules::getInstance());
    engine->rootContext()->setContextProperty(QStringLiteral("loadFailure"), LoadFailure::getInstance());
    engine->rootContext()->setContextProperty(QStringLiteral("appDir"), AppDir::path());
    // Qt 6.4's engine crashes when a tab takes over a new window that its opener
    // has written into; there new windows load their address instead.
    engine->rootContext()->setContextProperty(QStringLiteral("adoptsNewWindows"),
                                              QT_VERSION >= QT_VERSION_CHECK(6, 8, 0));
    qmlRegisterType<DownloadList>("Fenestra", 1, 0, "DownloadList");
    qmlRegisterType<PagePrinter>("Fenestra", 1, 0, "PagePrinter");
    qmlRegisterType<PermissionStore>("Fenestra", 1, 0, "PermissionStore");
    qmlRegisterType<NotificationPresenter>("Fenestra", 1, 0, "NotificationPresenter");

    const QUrl window(QStringLiteral("qrc:/main.qml"), QUrl::TolerantMode);
    QObject::connect(
            engine, &QQmlApplicationEngine::objectCreated, QCoreApplication::instance(),
            [window](QObject *object, const QUrl &url) {
                if (!object && url == window)
                    QCoreApplication::exit(-1);
            },
            Qt::QueuedConnection);
    engine->load(window);
}
