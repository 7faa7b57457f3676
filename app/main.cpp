#include "app/appinit.h"
#include "app/chineselanguage.h"
#include "app/terminationsignals.h"
#include "config/appdir.h"
#include "desktop/logfile.h"
#include "desktop/singleinstance.h"
#include "desktop/startupsplash.h"

#include <QApplication>
#include <QDebug>
#include <QIcon>
#include <QQmlApplicationEngine>
#include <QQuickWindow>
#include <QtWebEngineQuick>

namespace {
QQuickWindow *mainWindow(QQmlApplicationEngine &engine)
{
    return engine.rootObjects().isEmpty() ? nullptr
                                          : qobject_cast<QQuickWindow *>(engine.rootObjects().first());
}
} // namespace

int main(int argc, char *argv[])
{
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
    StartupSplash splash;

    QQmlApplicationEngine engine;
    // During the start-up check there is no window yet; it comes to the front by itself.
    QObject::connect(&instance, &SingleInstance::activationRequested, &engine, [&engine] {
        if (QQuickWindow *window = mainWindow(engine)) {
            SingleInstance::bringToFront(window);
            qDebug().noquote() << "brought to the front by a second start";
        }
    });
    if (!AppInit::getInstance()->init(&engine))
        return 0; // what the event loop returns when a signal ends it later
    AppInit::getInstance()->loadWindow(&engine);
    splash.closeWhenShown(mainWindow(engine));
    return QApplication::exec();
}
