#include "app/appinit.h"
#include "app/chineselanguage.h"
#include "app/terminationsignals.h"

#include <QApplication>
#include <QIcon>
#include <QQmlApplicationEngine>
#include <QtWebEngineQuick>

int main(int argc, char *argv[])
{
    // Qt WebEngine has to set up its shared graphics context before the
    // application object exists.
    QtWebEngineQuick::initialize();
    QApplication app(argc, argv);
    useChineseLanguage();
    quitOnTerminationSignals();
    QGuiApplication::setWindowIcon(QIcon(QStringLiteral(":/images/qtweb.ico")));

    QQmlApplicationEngine engine;
    if (!AppInit::getInstance()->init(&engine))
        return 0; // what the event loop returns when a signal ends it later
    AppInit::getInstance()->loadWindow(&engine);
    return QApplication::exec();
}
