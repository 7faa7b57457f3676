#include "testenvironment.h"

#include "config/appdir.h"
#include "isolatedhome.h"
#include "shellprocess.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

namespace {
// Removed when the test process ends, after the application object and the
// web engine are gone.
const IsolatedHome &home()
{
    static const IsolatedHome home;
    return home;
}
} // namespace

void prepareTestEnvironment()
{
    home().enter();
    useHeadlessWebEngine();
}

QString testHomePath()
{
    return home().path();
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
