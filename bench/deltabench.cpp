// A release that changes only the shell's own files, fetched by its files:
// two deployed folders of the system's Qt and WebEngine (the libraries, the
// web engine's resources and locales) that differ only in bin/fenestra, packed
// and published by the release tool's code, served over loopback. Prints the
// bytes a desktop fetches as a share of the whole package, beside the goal,
// and how long staging by files and by the package take.
#include "packer.h"
#include "testhttpserver.h"
#include "update/filestager.h"
#include "update/packageformat.h"
#include "update/packagestager.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <QTextStream>

namespace {

constexpr double goalPercent = 5.0;

const QString systemLibraries = QStringLiteral("/usr/lib/x86_64-linux-gnu");
const QString systemQt = QStringLiteral("/usr/share/qt6");

bool copyInto(const QString &from, const QString &to)
{
    QDir().mkpath(QFileInfo(to).path());
    return QFile::copy(from, to);
}

// Qt and the web engine as a deployed folder holds them; false when the system has none.
bool deployQt(const QString &folder)
{
    const QStringList libraries = {
        QStringLiteral("Core"),       QStringLiteral("Gui"),           QStringLiteral("Widgets"),
        QStringLiteral("Network"),    QStringLiteral("Qml"),           QStringLiteral("Quick"),
        QStringLiteral("WebChannel"), QStringLiteral("WebEngineCore"), QStringLiteral("WebEngineQuick"),
        QStringLiteral("Positioning")
    };
    for (const QString &library : libraries) {
        const QString name = QStringLiteral("libQt6%1.so.6").arg(library);
        const QFileInfo real(QFileInfo(systemLibraries + QLatin1Char('/') + name).canonicalFilePath());
        if (!real.isFile() || !copyInto(real.filePath(), folder + QStringLiteral("/lib/") + real.fileName())
            || !QFile::link(real.fileName(), folder + QStringLiteral("/lib/") + name))
            return false;
    }
    for (const QString &subfolder :
         { QStringLiteral("resources"), QStringLiteral("translations/qtwebengine_locales") }) {
        const QDir source(systemQt + QLatin1Char('/') + subfolder);
        for (const QString &name : source.entryList(QDir::Files)) {
            if (!copyInto(source.filePath(name),
                          folder + QLatin1Char('/') + subfolder + QLatin1Char('/') + name))
                return false;
        }
    }
    return true;
}

// The shell as built, without its debugging information as a release ships
// it, changed throughout for the second version.
bool deployShell(const QString &folder, bool changed)
{
    const QString stripped = folder + QStringLiteral(".shell");
    if (!QFile::copy(QStringLiteral(FENESTRA_SHELL), stripped)
        || QProcess::execute(QStringLiteral("strip"), { QStringLiteral("--strip-debug"), stripped }) != 0)
        return false;
    QFile self(stripped);
    if (!self.open(QIODevice::ReadOnly))
        return false;
    QByteArray content = self.readAll();
    self.remove();
    if (changed) {
        for (qsizetype i = 0; i < content.size(); i += 4096)
            content[i] = char(content[i] ^ 0x5a);
    }
    QDir().mkpath(folder + QStringLiteral("/bin"));
    QFile shell(folder + QStringLiteral("/bin/fenestra"));
    return shell.open(QIODevice::WriteOnly) && shell.write(content) == content.size()
            && shell.setPermissions(shell.permissions() | QFileDevice::ExeOwner);
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QTextStream out(stdout);
    QTemporaryDir work;
    const QString channel = work.filePath(QStringLiteral("channel"));
    QDir().mkpath(channel);
    TestHttpServer server;
    server.setFallback([&channel](const TestHttpServer::Request &request) {
        QFile file(channel + QString::fromUtf8(request.path()));
        if (!file.open(QIODevice::ReadOnly))
            return TestHttpServer::Response::text("not here", "text/plain", 404);
        return TestHttpServer::Response::text(file.readAll(), "application/octet-stream");
    });
    if (!server.listen()) {
        out << "cannot listen on loopback\n";
        return 1;
    }
    UpdateManifest::Release releases[2];
    for (int i = 0; i < 2; ++i) {
        const QString version = i == 0 ? QStringLiteral("1.0.0") : QStringLiteral("1.0.1");
        const QString deployed = work.filePath(QStringLiteral("deployed-") + version);
        if (!deployQt(deployed) || !deployShell(deployed, i == 1)) {
            out << "cannot deploy the system's Qt 6 and WebEngine into " << deployed << '\n';
            return 1;
        }
        const QString name = PackageFormat::fileName(version, QStringLiteral("linux-x86_64"));
        const Packer::Package package = Packer::pack(deployed, channel + QLatin1Char('/') + name);
        const QString listName = PackageFormat::fileListName(version, QStringLiteral("linux-x86_64"));
        Packer::Published published = Packer::publishFiles(deployed, package, channel, listName);
        if (!package.problem.isEmpty() || !published.problem.isEmpty()) {
            out << package.problem << published.problem << '\n';
            return 1;
        }
        published.list.url = server.url(QLatin1Char('/') + listName);
        releases[i] = { version,
                        QStringLiteral("linux-x86_64"),
                        server.url(QLatin1Char('/') + name),
                        package.size,
                        package.sha256,
                        published.list };
    }

    const QString versions = work.filePath(QStringLiteral("versions"));
    const PackageStager::Result installed =
            PackageStager::stage(channel + QLatin1Char('/') + releases[0].url.fileName(), versions,
                                 releases[0].version, releases[0].sha256);
    QElapsedTimer timer;
    timer.start();
    const FileStager::Result byFiles =
            FileStager::stage(releases[1], versions + QLatin1Char('/') + releases[0].version, versions, {});
    const qint64 filesMs = timer.elapsed();
    timer.restart();
    const PackageStager::Result byPackage = PackageStager::stage(
            channel + QLatin1Char('/') + releases[1].url.fileName(),
            work.filePath(QStringLiteral("from-package")), releases[1].version, releases[1].sha256);
    const qint64 packageMs = timer.elapsed();
    if (!installed.problem.isEmpty() || !byFiles.problem.isEmpty() || !byPackage.problem.isEmpty()) {
        out << "staging failed: " << installed.problem << byFiles.problem << byPackage.problem << '\n';
        return 1;
    }

    const double share = 100.0 * double(byFiles.bytesFetched) / double(releases[1].size);
    out << "program-only release, package " << releases[1].size << " bytes, shell "
        << QFileInfo(work.filePath(QStringLiteral("deployed-1.0.1/bin/fenestra"))).size() << " bytes\n"
        << "  fetched by files: " << byFiles.bytesFetched << " bytes (" << QString::number(share, 'f', 2)
        << " % of the package; goal <= " << goalPercent << " %) " << (share <= goalPercent ? "met" : "MISSED")
        << "\n  copied from the running version: " << byFiles.bytesCopied << " bytes"
        << "\n  staging by files: " << filesMs << " ms (fetch, copy, hash)"
        << "\n  staging from the package, already downloaded: " << packageMs << " ms\n";
    return share <= goalPercent ? 0 : 1;
}
