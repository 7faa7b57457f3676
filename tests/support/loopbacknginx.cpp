#include "loopbacknginx.h"

#include <QFile>
#include <QStandardPaths>
#include <QTcpServer>
#include <QTcpSocket>
#include <QThread>

namespace {

QString nginxExecutable()
{
    return QStandardPaths::findExecutable(QStringLiteral("nginx"), { QStringLiteral("/usr/sbin") });
}

quint16 freeLoopbackPort()
{
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost);
    return probe.serverPort();
}

} // namespace

LoopbackNginx::~LoopbackNginx()
{
    kill();
}

bool LoopbackNginx::isInstalled()
{
    return !nginxExecutable().isEmpty();
}

QString LoopbackNginx::folder() const
{
    return m_folder.path();
}

bool LoopbackNginx::start(const QString &httpDirectives, const QString &serverDirectives)
{
    if (!isInstalled() || !m_folder.isValid())
        return false;
    m_port = freeLoopbackPort();
    QFile config(m_folder.filePath(QStringLiteral("nginx.conf")));
    if (!config.open(QIODevice::WriteOnly))
        return false;
    config.write(
            QStringLiteral("daemon off;\nmaster_process off;\npid %1/nginx.pid;\nerror_log %1/error.log;\n"
                           "events {}\nhttp {\n  access_log off;\n"
                           "  client_body_temp_path %1/body;\n  proxy_temp_path %1/proxy;\n"
                           "  fastcgi_temp_path %1/fastcgi;\n  uwsgi_temp_path %1/uwsgi;\n"
                           "  scgi_temp_path %1/scgi;\n%2\n"
                           "  server {\n    listen 127.0.0.1:%3;\n%4\n  }\n}\n")
                    .arg(folder(), httpDirectives)
                    .arg(m_port)
                    .arg(serverDirectives)
                    .toUtf8());
    config.close();
    m_process.setProcessChannelMode(QProcess::ForwardedChannels);
    m_process.start(nginxExecutable(),
                    { QStringLiteral("-p"), folder(), QStringLiteral("-e"),
                      folder() + QStringLiteral("/error.log"), QStringLiteral("-c"), config.fileName() });
    for (int attempt = 0; attempt < 100 && isRunning(); ++attempt) {
        QTcpSocket socket;
        socket.connectToHost(QHostAddress::LocalHost, m_port);
        if (socket.waitForConnected(100))
            return true;
        QThread::msleep(50);
    }
    return false;
}

QUrl LoopbackNginx::url() const
{
    return QUrl(QStringLiteral("http://127.0.0.1:%1/").arg(m_port));
}

bool LoopbackNginx::isRunning() const
{
    return m_process.state() != QProcess::NotRunning;
}

void LoopbackNginx::kill()
{
    if (!isRunning())
        return;
    m_process.kill();
    m_process.waitForFinished(5000);
}
