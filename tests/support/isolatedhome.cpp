#include "isolatedhome.h"

#include <QDir>
#include <QFile>

namespace {
const char *const xdgVariables[] = { "XDG_CONFIG_HOME", "XDG_DATA_HOME", "XDG_CACHE_HOME", "XDG_STATE_HOME",
                                     "XDG_RUNTIME_DIR" };
} // namespace

IsolatedHome::IsolatedHome() : m_dir(QDir::tempPath() + QStringLiteral("/fenestra-home-XXXXXX"))
{
    for (const char *variable : xdgVariables) {
        QDir().mkpath(folder(variable));
        // Qt refuses a runtime folder that others may read.
        QFile::setPermissions(folder(variable),
                              QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    }
    QDir().mkpath(folder("TMPDIR"));
}

QString IsolatedHome::folder(const char *variable) const
{
    return m_dir.filePath(QString::fromLatin1(variable).toLower());
}

QProcessEnvironment IsolatedHome::environment(QProcessEnvironment base) const
{
    base.insert(QStringLiteral("HOME"), path());
    for (const char *variable : xdgVariables)
        base.insert(QString::fromLatin1(variable), folder(variable));
    base.insert(QStringLiteral("TMPDIR"), folder("TMPDIR"));
    return base;
}

void IsolatedHome::enter() const
{
    qputenv("HOME", QFile::encodeName(path()));
    for (const char *variable : xdgVariables)
        qputenv(variable, QFile::encodeName(folder(variable)));
}
