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
    // Given more than once for a shell whose sign-up site and index service
    // have ports of their own, as the test build's have.
    parser.addOption({ QStringLiteral("port"),
                       QStringLiteral("Port on loopback; may be given more than once."),
                       QStringLiteral("port"), QStringLiteral("8765") });
    parser.addOption({ QStringLiteral("channel"), QStringLiteral("Release channel folder to serve."),
                       QStringLiteral("folder") });
    parser.addOption({ QStringLiteral("access-log"),
                       QStringLiteral("Appends the channel's requests to this file in the combined format."),
                       QStringLiteral("file") });
    parser.process(app);

    DemoServer server;
    server.setReleaseChannel(parser.value(QStringLiteral("channel")));
    server.setAccessLog(parser.value(QStringLiteral("access-log")));
    const QStringList ports = parser.values(QStringLiteral("port"));
    for (const QString &port : ports) {
        if (!server.listen(port.toUShort())) {
            QTextStream(stderr) << "demo server: port " << port << " is taken\n";
            return 1;
        }
    }
    QTextStream out(stdout);
    out << "demo server on http://localhost:" << ports.first() << "/client-register/register-company"
        << Qt::endl;
    QObject::connect(&server, &DemoServer::callbackReceived, &app,
                     [&out](const QString &file) { out << "callback: " << file << Qt::endl; });
    return app.exec();
}
