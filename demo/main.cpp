// The demo server: the sign-up site, the index service and a company
// application on loopback, for trying the shell without a company server.
#include "demoserver.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QTextStream>

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("Fenestra demo server"));
    parser.addHelpOption();
    parser.addOption({ QStringLiteral("port"), QStringLiteral("Port on loopback."), QStringLiteral("port"),
                       QStringLiteral("8765") });
    parser.addOption({ QStringLiteral("channel"), QStringLiteral("Release channel folder to serve."),
                       QStringLiteral("folder") });
    parser.process(app);

    DemoServer server;
    server.setReleaseChannel(parser.value(QStringLiteral("channel")));
    const quint16 port = parser.value(QStringLiteral("port")).toUShort();
    QTextStream out(stdout);
    if (!server.listen(port)) {
        QTextStream(stderr) << "demo server: port " << port << " is taken\n";
        return 1;
    }
    out << "demo server on http://localhost:" << port << "/client-register/register-company" << Qt::endl;
    QObject::connect(&server, &DemoServer::callbackReceived, &app,
                     [&out](const QString &file) { out << "callback: " << file << Qt::endl; });
    return app.exec();
}
