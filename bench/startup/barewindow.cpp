// The yardstick of the start-up benchmark: a bare Qt WebEngine window, one view
// on the persistent profile the shell uses, nothing else. It opens the address
// given as its only argument.
#include "app/terminationsignals.h"

#include <QGuiApplication>
#include <QQmlApplicationEngine>
#include <QQmlContext>
#include <QUrl>
#include <QtWebEngineQuick>

int main(int argc, char *argv[])
{
    QtWebEngineQuick::initialize();
    QGuiApplication app(argc, argv);
    quitOnTerminationSignals();
    if (argc < 2)
        return 2;

    QQmlApplicationEngine engine;
    engine.rootContext()->setContextProperty(QStringLiteral("startUrl"),
                                             QUrl(QString::fromLocal8Bit(argv[1])));
    engine.loadData(R"(
import QtQuick
import QtQuick.Window
import QtWebEngine

Window {
    visible: true
    visibility: Window.Maximized
    WebEngineView {
        anchors.fill: parent
        url: startUrl
        profile: WebEngineProfile {
            offTheRecord: false
            persistentCookiesPolicy: WebEngineProfile.ForcePersistentCookies
            storageName: "loginInfo"
        }
    }
}
)");
    return engine.rootObjects().isEmpty() ? -1 : QGuiApplication::exec();
}
