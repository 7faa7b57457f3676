#pragma once

#include <QProcess>
#include <QString>
#include <QTemporaryDir>

#include <memory>
#include <vector>

// The real program, copied into a fresh application directory and run headless
// with a home folder of its own, for end-to-end tests.
class ShellProcess
{
public:
    ShellProcess();
    ~ShellProcess();

    QString appDirPath() const { return m_appDir.path(); }
    bool writeFile(const QString &relative, const QByteArray &content) const;
    QByteArray readFile(const QString &relative) const;

    // Extra environment, e.g. for a test that breaks the window on purpose.
    void setEnvironmentValue(const QString &name, const QString &value);

    void start();
    // Starts the program once more in the same folder and home, as a user who
    // double-clicks it again does; the process ends with this object.
    QProcess &startAnother();
    // Ends the program the way the desktop session does, and waits for it.
    bool stop();
    bool waitForExit(int milliseconds);

    QProcess &process() { return m_process; }
    // Everything the program has written to its debug log so far.
    QString log();

private:
    QTemporaryDir m_appDir;
    QTemporaryDir m_home;
    QProcess m_process;
    std::vector<std::unique_ptr<QProcess>> m_others;
    QProcessEnvironment m_environment;
    QString m_log;
};
