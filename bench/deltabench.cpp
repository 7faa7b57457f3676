// Releases fetched by their files: deployed folders of the system's Qt and
// WebEngine (the libraries, the web engine's resources and locales) and the
// shell, packed and published by the release tool's code, served over
// loopback. Prints the bytes a desktop fetches as a share of the whole
// package, beside the goal, and how long staging takes, for
//  - a program-only release: the folders differ only in bin/fenestra;
//  - a patch release made from two builds: each `--pair <older> <newer> <path>`
//    puts one build's file at <path> of the first folder and the other's in
//    the second, and the release tool makes its zstd patches, e.g.
//      fenestra_bench_delta --pair shell-of-commit-A shell-of-commit-B bin/fenestra
//    A pair whose patch is over half its file is left out by the tool and
//    fetched whole.
#include "packer.h"
#include "testhttpserver.h"
#include "update/filestager.h"
#include "update/packageformat.h"
#include "update/packagestager.h"
#include "update/zstdpatch.h"

#include <QCommandLineParser>
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
constexpr double patchGoalPercent = 15.0;

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

// A file of the newer folder that replaces one of the older.
struct Pair
{
    QString older;
    QString newer;
    QString path; // in the deployed folder
};

// The shell as a release ships it, from `build`.
bool deployShellFrom(const QString &folder, const QString &build)
{
    QDir().mkpath(folder + QStringLiteral("/bin"));
    const QString shell = folder + QStringLiteral("/bin/fenestra");
    QFile::remove(shell);
    return QFile::copy(build, shell)
            && QProcess::execute(QStringLiteral("strip"), { QStringLiteral("--strip-debug"), shell }) == 0;
}

struct Staged
{
    QString problem;
    qint64 packageSize = 0;
    FileStager::Result byFiles;
    qint64 filesMs = 0;
    qint64 packageMs = 0;
    Packer::PublishedPatches patches;
    qint64 patchesMs = 0; // the release tool's, to make and check them
};

// Publishes the two deployed folders as 1.0.0 and 1.0.1 in a fresh channel
// served over loopback, the second with patches when `patches` is set, stages
// 1.0.0 from its package and then 1.0.1 by its files.
Staged stageRelease(const QString &work, const QStringList &deployed, bool patches)
{
    Staged staged;
    const QString channel = work + QStringLiteral("/channel");
    QDir().mkpath(channel);
    TestHttpServer server;
    server.setFallback([&channel](const TestHttpServer::Request &request) {
        QFile file(channel + QString::fromUtf8(request.path()));
        if (!file.open(QIODevice::ReadOnly))
            return TestHttpServer::Response::text("not here", "text/plain", 404);
        return TestHttpServer::Response::text(file.readAll(), "application/octet-stream");
    });
    if (!server.listen()) {
        staged.problem = QStringLiteral("cannot listen on loopback");
        return staged;
    }
    UpdateManifest::Release releases[2];
    PackageFormat::FileList earlier;
    for (int i = 0; i < 2; ++i) {
        const QString version = i == 0 ? QStringLiteral("1.0.0") : QStringLiteral("1.0.1");
        const QString name = PackageFormat::fileName(version, QStringLiteral("linux-x86_64"));
        const Packer::Package package = Packer::pack(deployed[i], channel + QLatin1Char('/') + name);
        const QString listName = PackageFormat::fileListName(version, QStringLiteral("linux-x86_64"));
        Packer::Published published = Packer::publishFiles(deployed[i], package, channel, listName);
        if (!package.problem.isEmpty() || !published.problem.isEmpty()) {
            staged.problem = package.problem + published.problem;
            return staged;
        }
        published.list.url = server.url(QLatin1Char('/') + listName);
        releases[i] = { version,
                        QStringLiteral("linux-x86_64"),
                        server.url(QLatin1Char('/') + name),
                        package.size,
                        package.sha256,
                        published.list };
        if (i == 1 && patches) {
            const QString patchListName =
                    PackageFormat::patchListName(version, QStringLiteral("linux-x86_64"));
            QElapsedTimer making;
            making.start();
            staged.patches =
                    Packer::publishPatches(deployed[i], package, channel, { earlier }, patchListName);
            staged.patchesMs = making.elapsed();
            if (!staged.patches.problem.isEmpty() || !staged.patches.note.isEmpty()) {
                staged.problem = staged.patches.problem + staged.patches.note;
                return staged;
            }
            if (staged.patches.list) {
                staged.patches.list->url = server.url(QLatin1Char('/') + patchListName);
                releases[i].patches = staged.patches.list;
            }
        }
        earlier = package.files;
    }
    staged.packageSize = releases[1].size;

    const QString versions = work + QStringLiteral("/versions");
    const PackageStager::Result installed =
            PackageStager::stage(channel + QLatin1Char('/') + releases[0].url.fileName(), versions,
                                 releases[0].version, releases[0].sha256);
    QElapsedTimer timer;
    timer.start();
    // As the shell bounds a patch's memory.
    staged.byFiles = FileStager::stage(releases[1], versions + QLatin1Char('/') + releases[0].version,
                                       versions, {}, ZstdPatch::availableMemory() / 4);
    staged.filesMs = timer.elapsed();
    timer.restart();
    const PackageStager::Result byPackage = PackageStager::stage(
            channel + QLatin1Char('/') + releases[1].url.fileName(), work + QStringLiteral("/from-package"),
            releases[1].version, releases[1].sha256);
    staged.packageMs = timer.elapsed();
    if (!installed.problem.isEmpty() || !staged.byFiles.problem.isEmpty() || !byPackage.problem.isEmpty())
        staged.problem = QStringLiteral("staging failed: ") + installed.problem + staged.byFiles.problem
                + byPackage.problem;
    return staged;
}

double percentOf(qint64 part, qint64 whole)
{
    return 100.0 * double(part) / double(whole);
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QTextStream out(stdout);
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("Bytes and time of releases fetched by their files."));
    parser.addHelpOption();
    const QCommandLineOption pairOption(
            QStringLiteral("pair"),
            QStringLiteral("For the patch release, two builds of a file and its path in the folder, "
                           "as <older>,<newer>,<path> (repeat for more)."),
            QStringLiteral("older,newer,path"));
    parser.addOption(pairOption);
    parser.process(app);
    QList<Pair> pairs;
    for (const QString &value : parser.values(pairOption)) {
        const QStringList parts = value.split(QLatin1Char(','));
        if (parts.size() != 3 || !QFileInfo(parts[0]).isFile() || !QFileInfo(parts[1]).isFile()) {
            out << "a pair is <older file>,<newer file>,<path in the folder>: " << value << '\n';
            return 2;
        }
        pairs << Pair { parts[0], parts[1], parts[2] };
    }

    QTemporaryDir work;
    QStringList deployed;
    for (int i = 0; i < 2; ++i) {
        deployed << work.filePath(QStringLiteral("deployed-%1").arg(i));
        if (!deployQt(deployed[i]) || !deployShell(deployed[i], i == 1)) {
            out << "cannot deploy the system's Qt 6 and WebEngine into " << deployed[i] << '\n';
            return 1;
        }
    }
    const Staged program = stageRelease(work.filePath(QStringLiteral("program")), deployed, false);
    if (!program.problem.isEmpty()) {
        out << program.problem << '\n';
        return 1;
    }
    const double share = percentOf(program.byFiles.bytesFetched, program.packageSize);
    out << "program-only release, package " << program.packageSize << " bytes, shell "
        << QFileInfo(deployed[1] + QStringLiteral("/bin/fenestra")).size() << " bytes\n"
        << "  fetched by files: " << program.byFiles.bytesFetched << " bytes ("
        << QString::number(share, 'f', 2) << " % of the package; goal <= " << goalPercent << " %) "
        << (share <= goalPercent ? "met" : "MISSED")
        << "\n  copied from the running version: " << program.byFiles.bytesCopied << " bytes"
        << "\n  staging by files: " << program.filesMs << " ms (fetch, copy, hash)"
        << "\n  staging from the package, already downloaded: " << program.packageMs << " ms\n";
    if (pairs.isEmpty()) {
        out << "patch release: no --pair of two builds given\n";
        return share <= goalPercent ? 0 : 1;
    }

    for (int i = 0; i < 2; ++i) {
        for (const Pair &pair : std::as_const(pairs)) {
            const QString target = deployed[i] + QLatin1Char('/') + pair.path;
            QFile::remove(target);
            const bool copied = pair.path == QLatin1String("bin/fenestra")
                    ? deployShellFrom(deployed[i], i == 0 ? pair.older : pair.newer)
                    : copyInto(i == 0 ? pair.older : pair.newer, target);
            if (!copied) {
                out << "cannot put " << (i == 0 ? pair.older : pair.newer) << " at " << target << '\n';
                return 1;
            }
        }
    }
    const Staged patched = stageRelease(work.filePath(QStringLiteral("patched")), deployed, true);
    if (!patched.problem.isEmpty()) {
        out << patched.problem << '\n';
        return 1;
    }
    const double patchShare = percentOf(patched.byFiles.bytesFetched, patched.packageSize);
    out << "patch release made from two builds, package " << patched.packageSize << " bytes\n";
    for (const Pair &pair : std::as_const(pairs))
        out << "  " << pair.path << ": " << QFileInfo(pair.older).fileName() << " ("
            << QFileInfo(pair.older).size() << " bytes) -> " << QFileInfo(pair.newer).fileName() << " ("
            << QFileInfo(pair.newer).size() << " bytes)\n";
    out << "  patches made: " << patched.patches.made << ", left out as over " << Packer::maxPatchPercent
        << " % of their file: " << patched.patches.leftOut << " (the release tool took " << patched.patchesMs
        << " ms)\n"
        << "  files made from patches: " << patched.byFiles.filesPatched << "\n"
        << "  fetched by files: " << patched.byFiles.bytesFetched << " bytes ("
        << QString::number(patchShare, 'f', 2) << " % of the package; goal <= " << patchGoalPercent << " %) "
        << (patchShare <= patchGoalPercent ? "met" : "MISSED") << "\n  staging by files: " << patched.filesMs
        << " ms (fetch, patch, copy, hash)"
        << "\n  staging from the package, already downloaded: " << patched.packageMs << " ms\n";
    return share <= goalPercent && patchShare <= patchGoalPercent ? 0 : 1;
}
