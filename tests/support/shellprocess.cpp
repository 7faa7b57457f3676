#include "shellprocess.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

ShellProcess::ShellProcess() : m_environment(QProcessEnvironment::systemEnvironment())
{
    QFile::copy(QStringLiteral(FENESTRA_TEST_SHELL), m_appDir.filePath(QStringLiteral("fenestra")));

    const QString home = m_home.path();
    m_environment.insert(QStringLiteral("HOME"), home);
    for (const char *name :
         { "XDG_CONFIG_HOME", "XDG_DATA_HOME", "XDG_CACHE_HOME", "XDG_STATE_HOME", "XDG_RUNTIME_DIR" }) {
        const QString folder = home + QLatin1Char('/') + QString::fromLatin1(name).toLower();
        QDir().mkpath(folder);
        QFile::setPermissions(folder,
                              QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
        m_environment.insert(QString::fromLatin1(name), folder);
    }
    // The program's lock and local socket go to the temporary folder: this one goes with the test.
    QDir().mkpath(home + QStringLiteral("/tmp"));
    m_environment.insert(QStringLiteral("TMPDIR"), home + QStringLiteral("/tmp"));
    m_environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    m_process.setProcessChannelMode(QProcess::MergedChannels);
}

ShellProcess::~ShellProcess()
{
    const auto end = [](QProcess &process) {
        if (process.state() != QProcess::NotRunning) {
            process.kill();
            process.waitForFinished(5000);
        }
    };
    for (const auto &other : m_others)
        end(*other);
    end(m_process);
}

bool ShellProcess::writeFile(const QString &relative, const QByteArray &content) const
{
    QFile file(m_appDir.filePath(relative));
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(content) == content.size();
}

QByteArray ShellProcess::readFile(const QString &relative) const
{
    QFile file(m_appDir.filePath(relative));
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

void ShellProcess::setEnvironmentValue(const QString &name, const QString &value)
{
    m_environment.insert(name, value);
}

void ShellProcess::start()
{
    m_process.setProcessEnvironment(m_environment);
    m_process.setWorkingDirectory(m_home.path());
    m_process.start(m_appDir.filePath(QStringLiteral("fenestra")), {});
}

QProcess &ShellProcess::startAnother()
{
    auto &process = *m_others.emplace_back(std::make_unique<QProcess>());
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.setProcessEnvironment(m_environment);
    process.setWorkingDirectory(m_home.path());
    process.start(m_appDir.filePath(QStringLiteral("fenestra")), {});
    return process;
}

bool ShellProcess::stop()
{
    m_process.terminate();
    return waitForExit(30000);
}

bool ShellProcess::waitForExit(int milliseconds)
{
    const bool finished = m_process.waitForFinished(milliseconds);
    log();
    return finished;
}

QString ShellProcess::log()
{
    m_log += QString::fromUtf8(m_process.readAll());
    return m_log;
}
