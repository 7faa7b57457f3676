#include "shellprocess.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>

#include <unistd.h>

void useHeadlessWebEngine()
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    if (geteuid() == 0)
        qputenv("QTWEBENGINE_DISABLE_SANDBOX", "1");
    if (qEnvironmentVariableIsEmpty("QTWEBENGINE_CHROMIUM_FLAGS"))
        qputenv("QTWEBENGINE_CHROMIUM_FLAGS", "--disable-gpu --disable-background-networking");
}

ShellProcess::ShellProcess(const QString &program) : m_environment(m_home.environment())
{
    QFile::copy(program, m_appDir.filePath(QStringLiteral("fenestra")));
    // Tests read the program's own lines from their start.
    m_environment.remove(QStringLiteral("QT_MESSAGE_PATTERN"));
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
    const QString path = m_appDir.filePath(relative);
    QDir().mkpath(QFileInfo(path).path());
    QFile file(path);
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

void ShellProcess::start(const QStringList &arguments)
{
    m_process.setProcessEnvironment(m_environment);
    m_process.setWorkingDirectory(m_home.path());
    m_clock.start();
    m_process.start(m_appDir.filePath(QStringLiteral("fenestra")), arguments);
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
    // Decoded whole: a read may end inside a character.
    m_output += m_process.readAll();
    return QString::fromUtf8(m_output);
}

QString ShellProcess::line(const QString &prefix)
{
    static const QRegularExpression category(QStringLiteral("^fenestra\\.\\w+: "));
    QStringList lines = log().split(QLatin1Char('\n'));
    // The last piece is a line still being written, or nothing.
    lines.removeLast();
    for (QString &line : lines) {
        line.remove(category);
        if (line.startsWith(prefix))
            return line;
    }
    return {};
}
