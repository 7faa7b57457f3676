#pragma once

#include <QProcess>
#include <QTemporaryDir>
#include <QUrl>

// Debian's nginx on a free loopback port, in the foreground as one process
// without a user switch, keeping everything it writes in a temporary folder of
// its own: the tests' plant cache and the benchmarks' file server. Killed when
// it goes.
class LoopbackNginx
{
public:
    ~LoopbackNginx();

    static bool isInstalled();

    // Where it keeps its configuration, logs and cache; for the directives.
    QString folder() const;
    // Starts with `httpDirectives` in the http block and `serverDirectives` in
    // its one server; true once it answers.
    bool start(const QString &httpDirectives, const QString &serverDirectives);
    QUrl url() const;
    bool isRunning() const;
    void kill();

private:
    QTemporaryDir m_folder;
    QProcess m_process;
    quint16 m_port = 0;
};
