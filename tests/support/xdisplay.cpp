#include "xdisplay.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QThread>

namespace {

constexpr char insideMarker[] = "FENESTRA_TEST_ON_XDISPLAY";

bool runXdotool(const QProcessEnvironment &environment, const QStringList &arguments)
{
    QProcess xdotool;
    xdotool.setProcessEnvironment(environment);
    xdotool.setProcessChannelMode(QProcess::MergedChannels);
    xdotool.start(QStringLiteral("xdotool"), arguments);
    if (!xdotool.waitForFinished(10000)) {
        xdotool.kill();
        xdotool.waitForFinished(1000);
        return false;
    }
    return xdotool.exitStatus() == QProcess::NormalExit && xdotool.exitCode() == 0;
}

void end(QProcess &process)
{
    if (process.state() == QProcess::NotRunning)
        return;
    process.terminate();
    if (!process.waitForFinished(5000)) {
        process.kill();
        process.waitForFinished(5000);
    }
}

} // namespace

XDisplay::XDisplay()
{
    // -displayfd: Xvfb takes the first free number and writes it to its output.
    m_server.setStandardErrorFile(QProcess::nullDevice());
    m_server.start(QStringLiteral("Xvfb"),
                   { QStringLiteral("-displayfd"), QStringLiteral("1"), QStringLiteral("-screen"),
                     QStringLiteral("0"), QStringLiteral("1280x800x24"), QStringLiteral("-nolisten"),
                     QStringLiteral("tcp") });
    QByteArray number;
    const QDeadlineTimer deadline(20000);
    while (!number.contains('\n') && !deadline.hasExpired() && m_server.state() != QProcess::NotRunning) {
        m_server.waitForReadyRead(500);
        number += m_server.readAllStandardOutput();
    }
    bool ok = false;
    const int display = number.trimmed().toInt(&ok);
    if (!ok) {
        qWarning("Xvfb did not start");
        return;
    }
    const QString name = QStringLiteral(":%1").arg(display);

    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("DISPLAY"), name);
    // Whatever openbox keeps of its own stays in a folder that goes with the test.
    QProcessEnvironment managerEnvironment = environment;
    for (const char *name :
         { "HOME", "XDG_CONFIG_HOME", "XDG_CACHE_HOME", "XDG_DATA_HOME", "XDG_STATE_HOME" })
        managerEnvironment.insert(QString::fromLatin1(name), m_home.path());
    m_windowManager.setProcessEnvironment(managerEnvironment);
    m_windowManager.setStandardOutputFile(QProcess::nullDevice());
    m_windowManager.setStandardErrorFile(QProcess::nullDevice());
    m_windowManager.start(QStringLiteral("openbox"), { QStringLiteral("--sm-disable") });
    // The window manager is ready once it names the desktop on the root window.
    while (!runXdotool(environment, { QStringLiteral("get_desktop") })) {
        if (deadline.hasExpired() || m_windowManager.state() == QProcess::NotRunning) {
            qWarning("openbox did not start");
            return;
        }
        QThread::msleep(100);
    }
    m_name = name;
}

XDisplay::~XDisplay()
{
    end(m_windowManager);
    end(m_server);
}

int XDisplay::runInside(int argc, char *argv[]) const
{
    if (!isRunning())
        return 1;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("DISPLAY"), m_name);
    environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
    environment.insert(QString::fromLatin1(insideMarker), QStringLiteral("1"));
    QStringList arguments;
    for (int i = 1; i < argc; ++i)
        arguments << QString::fromLocal8Bit(argv[i]);
    QProcess test;
    test.setProcessEnvironment(environment);
    test.setProcessChannelMode(QProcess::ForwardedChannels);
    test.start(QCoreApplication::applicationFilePath(), arguments);
    if (!test.waitForFinished(-1) || test.exitStatus() != QProcess::NormalExit)
        return 1;
    return test.exitCode();
}

bool XDisplay::isInside()
{
    return qEnvironmentVariableIsSet(insideMarker);
}

bool XDisplay::xdotool(const QStringList &arguments)
{
    return runXdotool(QProcessEnvironment::systemEnvironment(), arguments);
}

bool XDisplay::movePointer(const QPoint &global)
{
    // Hover follows motion: a pointer that lands in one jump may not count as
    // having entered on every path through the window manager.
    return xdotool({ QStringLiteral("mousemove"), QString::number(global.x() - 3),
                     QString::number(global.y()) })
            && xdotool({ QStringLiteral("mousemove"), QString::number(global.x()),
                         QString::number(global.y()) });
}

bool XDisplay::pressKeys(const QString &keys)
{
    return xdotool({ QStringLiteral("key"), keys });
}
