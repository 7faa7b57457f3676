#include "testenvironment.h"

#include "config/appdir.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <unistd.h>

namespace {
// Removed when the test process ends, after the application object and the
// web engine are gone.
QTemporaryDir *homeDir()
{
    static QTemporaryDir dir(QDir::tempPath() + QStringLiteral("/fenestra-home-XXXXXX"));
    return &dir;
}
} // namespace

void prepareTestEnvironment()
{
    const QString home = homeDir()->path();
    const QByteArray homeBytes = QFile::encodeName(home);
    qputenv("HOME", homeBytes);
    for (const char *name :
         { "XDG_CONFIG_HOME", "XDG_DATA_HOME", "XDG_CACHE_HOME", "XDG_STATE_HOME", "XDG_RUNTIME_DIR" }) {
        const QByteArray folder = homeBytes + '/' + QByteArray(name).toLower();
        QDir().mkpath(QFile::decodeName(folder));
        QFile::setPermissions(QFile::decodeName(folder),
                              QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
        qputenv(name, folder);
    }
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    if (geteuid() == 0)
        qputenv("QTWEBENGINE_DISABLE_SANDBOX", "1");
    if (qEnvironmentVariableIsEmpty("QTWEBENGINE_CHROMIUM_FLAGS"))
        qputenv("QTWEBENGINE_CHROMIUM_FLAGS", "--disable-gpu --disable-background-networking");
}

QString testHomePath()
{
    return homeDir()->path();
}

TemporaryAppDir::TemporaryAppDir()
{
    AppDir::setPath(m_dir.path());
}

TemporaryAppDir::~TemporaryAppDir()
{
    AppDir::setPath(QString());
}

QByteArray TemporaryAppDir::read(const QString &relative) const
{
    QFile file(filePath(relative));
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

bool TemporaryAppDir::write(const QString &relative, const QByteArray &content) const
{
    const QString path = filePath(relative);
    QDir().mkpath(QFileInfo(path).path());
    QFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(content) == content.size();
}
