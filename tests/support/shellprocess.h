#pragma once

#include "isolatedhome.h"

#include <QElapsedTimer>
#include <QProcess>
#include <QString>
#include <QTemporaryDir>

#include <memory>
#include <vector>

// Runs Qt and its web engine headless in this process and the programs it
// starts, unless the environment says otherwise; as root without the sandbox,
// which refuses to run there.
void useHeadlessWebEngine();

// The real program, copied into a fresh application directory and run headless
// with a home folder of its own and this process's other environment, for
// end-to-end tests and benchmarks. Another
// build of it, or another program, may take its place.
class ShellProcess
{
public:
    explicit ShellProcess(const QString &program = QStringLiteral(FENESTRA_TEST_SHELL));
    ~ShellProcess();

    QString appDirPath() const { return m_appDir.path(); }
    // Writes a file of the application directory, making its folders.
    bool writeFile(const QString &relative, const QByteArray &content) const;
    QByteArray readFile(const QString &relative) const;

    // Extra environment, e.g. for a test that breaks the window on purpose.
    void setEnvironmentValue(const QString &name, const QString &value);

    void start(const QStringList &arguments = {});
    // Starts the program once more in the same folder and home, as a user who
    // double-clicks it again does; the process ends with this object.
    QProcess &startAnother();
    // Ends the program the way the desktop session does, and waits for it.
    bool stop();
    bool waitForExit(int milliseconds);

    QProcess &process() { return m_process; }
    // Milliseconds since the last start().
    qint64 elapsed() const { return m_clock.elapsed(); }
    // Everything the program has written to its debug log so far.
    QString log();
    // The first whole line of the log whose text starts with `prefix`, without
    // the name of its logging category; empty while there is none.
    QString line(const QString &prefix);

private:
    QTemporaryDir m_appDir;
    IsolatedHome m_home;
    QProcess m_process;
    std::vector<std::unique_ptr<QProcess>> m_others;
    QProcessEnvironment m_environment;
    QByteArray m_output;
    QElapsedTimer m_clock;
};
