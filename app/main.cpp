#include "app/appinit.h"
#include "app/chineselanguage.h"
#include "app/startupreport.h"
#include "app/terminationsignals.h"
#include "config/appdir.h"
#include "config/deployment.h"
#include "config/logging.h"
#include "desktop/crashwriter.h"
#include "desktop/logfile.h"
#include "desktop/singleinstance.h"
#include "desktop/startupsplash.h"
#include "update/crashupload.h"
#include "update/updatenotice.h"
#include "update/updater.h"

#include <QApplication>
#include <QIcon>
#include <QQmlApplicationEngine>
#include <QQuickWindow>
#include <QtWebEngineQuick>

#include <optional>

namespace {
QQuickWindow *mainWindow(QQmlApplicationEngine &engine)
{
    return engine.rootObjects().isEmpty() ? nullptr
                                          : qobject_cast<QQuickWindow *>(engine.rootObjects().first());
}
} // namespace

int main(int argc, char *argv[])
{
    // For the launcher, which tells a graphics driver's crash from one of ours.
    CrashWriter::install();
    // Qt WebEngine has to set up its shared graphics context before the
    // application object exists.
    QtWebEngineQuick::initialize();
    QApplication app(argc, argv);
    // A second start of this installation leaves before it touches anything of it.
    SingleInstance instance(AppDir::path());
    if (!instance.isFirst())
        return 0;
    useChineseLanguage();
    LogFile log(AppDir::filePath(QStringLiteral("logs/fenestra.log")));
    quitOnTerminationSignals();
    QGuiApplication::setWindowIcon(QIcon(QStringLiteral(":/images/qtweb.ico")));

    QQmlApplicationEngine engine;
    // During the start-up check there is no window yet; it comes to the front by itself.
    QObject::connect(&instance, &SingleInstance::activationRequested, &engine, [&engine] {
        if (QQuickWindow *window = mainWindow(engine)) {
            SingleInstance::bringToFront(window);
            qCInfo(lcDesktop).noquote() << "brought to the front by a second start";
        }
    });
    // The splash shows while the start-up waits for the index service; a start
    // that does not wait goes straight to the window.
    std::optional<StartupSplash> splash;
    if (!AppInit::getInstance()->init(&engine, [&splash] { splash.emplace(); }))
        return 0; // what the event loop returns when a signal ends it later
    AppInit::getInstance()->loadWindow(&engine);
    if (splash)
        splash->closeWhenShown(mainWindow(engine));
    StartupReport::logWhenShown(mainWindow(engine));
    // Updates begin only once the window is up, and only in an installation.
    Updater updater(Updater::builtInChannel(), AppDir::path(), AppDir::version());
    QObject::connect(&updater, &Updater::versionReady, &engine, [&engine](const QString &version) {
        UpdateNotice::show(&engine, mainWindow(engine), version);
    });
    // Crash dumps follow each update check, when IT named a crash server.
    CrashUpload crashUpload(AppDir::path(), AppDir::version(), Deployment::crashUploadAddress());
    QObject::connect(&updater, &Updater::checkFinished, &crashUpload, &CrashUpload::start);
    updater.startWhenShown(mainWindow(engine));
    return QApplication::exec();
}
