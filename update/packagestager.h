#pragma once

#include <QByteArray>
#include <QHash>
#include <QString>

#include <atomic>

// Unpacks a downloaded release into a version folder so that a half-done one
// can never be started: into `<versions>/<v>.staging`, every file checked
// against the package's fenestra-files.sha256, the marker written last, naming
// the package, then renamed to `<versions>/<v>`.
namespace PackageStager {

// The most a version folder may hold, unpacked.
constexpr qint64 maxVersionSize = qint64(4) * 1024 * 1024 * 1024;

// The file that marks a complete version folder.
QString markerName();

// The package a complete version folder was staged from, as its marker names
// it (SHA-256 in hex); empty when it names none, as for one an installer made.
QByteArray stagedPackage(const QString &versionFolder);

struct Result
{
    QString problem; // empty: staged
    // The package itself is wrong and would fail again; otherwise the
    // computer was (a full disk, a file held by a scanner, a cancel), and the
    // package is worth keeping for another try.
    bool packageAtFault = false;
};

// Stages `packagePath` (whose SHA-256 is `packageSha256`, hex) as `version`.
// Nothing of a failed attempt is left, inside the folder or outside it. Refused:
// entries with `..`, absolute paths, drive letters, names Windows cannot hold,
// links on Windows, links that lead out, lead through another link or that
// another entry would be written through, and entries of other types. Setting
// `cancel` stops it soon.
Result stage(const QString &packagePath, const QString &versionsFolder, const QString &version,
             const QByteArray &packageSha256, const std::atomic_bool *cancel = nullptr);

// Removes a version folder, its marker first, so that a removal cut short
// leaves a folder that is never started.
bool removeVersionFolder(const QString &folder);

// The rules every way of staging keeps (FileStager's too).

// A release's path inside the version folder, or empty when it may not be
// written: every part a name that Windows stores as given, none "." or "..",
// not absolute ("./" in front and "/" behind dropped).
QString safeRelativePath(const QString &name);
// Why the link `path` -> `target` among `links` (path -> target) may not be
// made; empty when it may: its target, read from the link's own folder, stays
// inside the folder and passes through no other link, and its own folder is
// no link either.
QString linkProblem(const QHash<QString, QString> &links, const QString &path, const QString &target);
// Makes `links` (path -> target) in `folder`, once every file is written, so
// that nothing is ever written through one; refused as linkProblem() says,
// and on Windows, where a version folder holds no links.
Result makeLinks(const QString &folder, const QHash<QString, QString> &links);

// `<versionsFolder>/<version>.staging`, made empty; anything an earlier
// attempt or another package of the same name left there and in the version
// folder is removed first.
Result beginStaging(const QString &versionsFolder, const QString &version, QString *staging);
// Writes the marker naming `packageSha256` into the whole `staging` folder and
// renames it to its version folder; removes it when either fails.
Result completeStaging(const QString &staging, const QString &version, const QByteArray &packageSha256);
// Whether `<versionsFolder>/<version>` is complete and was staged from `packageSha256`.
bool isStaged(const QString &versionsFolder, const QString &version, const QByteArray &packageSha256);

} // namespace PackageStager
