// Publishes a release on the update channel: packs a deployed folder into a
// package, writes the channel's manifest from the packages the channel holds
// and the last manifest, and signs it with minisign. Refuses what desktops
// would refuse, or what would lock them out.
#include "packer.h"
#include "releaseplan.h"
#include "signer.h"
#include "update/minisign.h"
#include "update/packageformat.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTextStream>

#include <cstdio>

namespace {

QTextStream &err()
{
    static QTextStream stream(stderr);
    return stream;
}

int refuse(const QString &why)
{
    err() << "fenestra-release: " << why << Qt::endl;
    return 1;
}

bool writeFile(const QString &path, const QByteArray &content)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(content) == content.size()
            && file.flush();
}

// NAME=V pairs.
bool readPairs(const QStringList &values, QHash<QString, QString> &out)
{
    for (const QString &value : values) {
        const qsizetype equals = value.indexOf(QLatin1Char('='));
        if (equals <= 0)
            return false;
        out.insert(value.left(equals), value.mid(equals + 1));
    }
    return true;
}

// The file lists of the channel's last `count` releases for `platform`,
// newest first, as `previous` lists them and the channel folder holds them.
QList<PackageFormat::FileList> earlierLists(const std::optional<UpdateManifest> &previous,
                                            const QString &channel, const QString &platform, int count)
{
    QList<PackageFormat::FileList> lists;
    if (!previous)
        return lists;
    for (auto it = previous->releases.crbegin(); it != previous->releases.crend() && lists.size() < count;
         ++it) {
        if (it->platform != platform || !it->files)
            continue;
        QFile file(QDir(channel).filePath(it->files->url.fileName()));
        const QByteArray text =
                file.open(QIODevice::ReadOnly) ? file.read(it->files->size + 1) : QByteArray();
        PackageFormat::FileList list;
        if (text.size() == it->files->size
            && QCryptographicHash::hash(text, QCryptographicHash::Sha256).toHex() == it->files->sha256
            && PackageFormat::FileList::read(text, list))
            lists << list;
    }
    return lists;
}

// A key id, or the .pub file of the key.
QString keyIdOf(const QString &value)
{
    QFile file(value);
    if (!file.open(QIODevice::ReadOnly))
        return value.toUpper();
    return Minisign::keyId(QString::fromLatin1(file.readAll().split('\n').value(1)).trimmed());
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QCommandLineParser parser;
    parser.setApplicationDescription(
            QStringLiteral("Publishes a release on the update channel.\n\n"
                           "  fenestra-release <deployed folder> <version> <secret key> [options]\n"
                           "      packs the folder as <channel>/fenestra-<version>-<platform>.tar.gz and\n"
                           "      signs a manifest with it as the target\n"
                           "  fenestra-release - <target version> <secret key> [options]\n"
                           "      packs nothing: signs the manifest again, e.g. to raise the share, pin\n"
                           "      desktops, pull a bad release or revoke a key"));
    parser.addHelpOption();
    parser.addPositionalArgument(QStringLiteral("folder"),
                                 QStringLiteral("The deployed folder, or - for none."));
    parser.addPositionalArgument(QStringLiteral("version"), QStringLiteral("The version, and the target."));
    parser.addPositionalArgument(QStringLiteral("key"), QStringLiteral("minisign's secret key file."));
    const QCommandLineOption channelOption(QStringLiteral("channel"),
                                           QStringLiteral("The channel folder, published as it is."),
                                           QStringLiteral("dir"), QStringLiteral("channel"));
    const QCommandLineOption baseUrlOption(
            QStringLiteral("base-url"), QStringLiteral("Where the channel folder is published."),
            QStringLiteral("url"), QStringLiteral("http://index.example.com/appindex/fenestra/"));
    const QCommandLineOption shareOption(QStringLiteral("share"),
                                         QStringLiteral("Per cent of desktops that take the target."),
                                         QStringLiteral("n"), QStringLiteral("100"));
    const QCommandLineOption saltOption(
            QStringLiteral("salt"), QStringLiteral("Picks the desktops of a share (default: the target)."),
            QStringLiteral("text"));
    const QCommandLineOption ringOption(QStringLiteral("ring"),
                                        QStringLiteral("Desktops whose policy.ini names ring NAME take V."),
                                        QStringLiteral("name=v"));
    const QCommandLineOption pinOption(QStringLiteral("pin"),
                                       QStringLiteral("The installation with id ID takes V."),
                                       QStringLiteral("id=v"));
    const QCommandLineOption serialOption(
            QStringLiteral("serial"),
            QStringLiteral("The manifest's serial, above the last one (default: seconds since 1970)."),
            QStringLiteral("n"));
    const QCommandLineOption daysOption(QStringLiteral("days"),
                                        QStringLiteral("The manifest expires after N days (1 to 366)."),
                                        QStringLiteral("n"), QStringLiteral("30"));
    const QCommandLineOption platformOption(
            QStringLiteral("platform"),
            QStringLiteral("windows-x86_64 or linux-x86_64 (default: from the folder)."),
            QStringLiteral("p"));
    const QCommandLineOption pullOption(
            QStringLiteral("pull"),
            QStringLiteral(
                    "Withdraws version V: no desktop takes it, and those that run it go back to the target."),
            QStringLiteral("v"));
    const QCommandLineOption revokeOption(
            QStringLiteral("revoke-key"),
            QStringLiteral(
                    "Revokes a stolen key for good (its id, or its .pub file); sign with the other key."),
            QStringLiteral("key"));
    const QCommandLineOption replaceOption(
            QStringLiteral("replace-serial"),
            QStringLiteral("Undoes serial N published by mistake: desktops that hold it take this manifest."),
            QStringLiteral("n"));
    const QCommandLineOption mirrorOption(
            QStringLiteral("mirror"),
            QStringLiteral("An http(s) address that serves the channel folder too, asked before the channel "
                           "(repeat for more; 'none' for none; default: the last manifest's)."),
            QStringLiteral("url"));
    parser.addOptions({ channelOption, baseUrlOption, shareOption, saltOption, ringOption, pinOption,
                        serialOption, daysOption, platformOption, pullOption, revokeOption, replaceOption,
                        mirrorOption });
    parser.process(app);
    const QStringList arguments = parser.positionalArguments();
    if (arguments.size() != 3)
        parser.showHelp(2);
    const QString folder = arguments.at(0);
    const QString key = arguments.at(2);

    ReleasePlan::Request request;
    request.target = arguments.at(1);
    request.baseUrl = parser.value(baseUrlOption);
    if (!request.baseUrl.endsWith(QLatin1Char('/')))
        request.baseUrl += QLatin1Char('/');
    bool ok = true;
    request.share = parser.value(shareOption).toInt(&ok);
    if (!ok)
        return refuse(QStringLiteral("the share is a number"));
    request.days = parser.value(daysOption).toInt(&ok);
    if (!ok)
        return refuse(QStringLiteral("the days are a number"));
    request.salt = parser.value(saltOption);
    if (!readPairs(parser.values(ringOption), request.rings)
        || !readPairs(parser.values(pinOption), request.pins))
        return refuse(QStringLiteral("rings and pins are given as NAME=VERSION"));
    if (parser.isSet(serialOption)) {
        request.serial = parser.value(serialOption).toULongLong(&ok);
        if (!ok)
            return refuse(QStringLiteral("the serial is a number"));
    }
    request.pull = parser.values(pullOption);
    for (const QString &value : parser.values(revokeOption))
        request.revokeKeys << keyIdOf(value);
    if (parser.isSet(mirrorOption))
        request.mirrors = parser.values(mirrorOption) == QStringList { QStringLiteral("none") }
                ? QStringList()
                : parser.values(mirrorOption);
    for (const QString &value : parser.values(replaceOption)) {
        request.replaceSerials << value.toULongLong(&ok);
        if (!ok)
            return refuse(QStringLiteral("a replaced serial is a number"));
    }

    const QString channel = parser.value(channelOption);
    if (!QDir().mkpath(channel))
        return refuse(QStringLiteral("cannot make %1").arg(channel));
    const QString manifestPath = QDir(channel).filePath(QStringLiteral("manifest.json"));
    std::optional<UpdateManifest> previous;
    if (QFileInfo::exists(manifestPath)) {
        QFile file(manifestPath);
        QString problem;
        const UpdateManifest last = file.open(QIODevice::ReadOnly)
                ? UpdateManifest::parse(file.read(UpdateManifest::maxSize + 1), &problem)
                : UpdateManifest();
        if (!file.isOpen() || !problem.isEmpty())
            return refuse(QStringLiteral("the channel's manifest %1 cannot be read: %2")
                                  .arg(manifestPath, problem));
        previous = last;
    }

    std::optional<UpdateManifest::Release> packed;
    QString packagePath;
    QString listPath;
    QString patchListPath;
    if (folder != QLatin1String("-")) {
        const QString platform =
                parser.isSet(platformOption) ? parser.value(platformOption) : Packer::platformOf(folder);
        if (platform.isEmpty())
            return refuse(QStringLiteral("%1 holds no fenestra.exe or bin/fenestra").arg(folder));
        const QString fileName = PackageFormat::fileName(request.target, platform);
        packagePath = QDir(channel).filePath(fileName);
        if (QFileInfo::exists(packagePath))
            return refuse(QStringLiteral("%1 exists: a version is never packed twice").arg(packagePath));
        UpdateManifest::Release release;
        release.version = request.target;
        release.platform = platform;
        release.url = QUrl(request.baseUrl).resolved(QUrl(fileName));
        release.size = 1;
        release.sha256 = QByteArray(64, '0');
        packed = release;
    }
    const auto filesInChannel = [&channel] {
        const QStringList files = QDir(channel).entryList(QDir::Files);
        return QSet<QString>(files.begin(), files.end());
    };
    // Everything checked before minutes go into packing.
    ReleasePlan::Result plan = ReleasePlan::compose(previous, request, packed, filesInChannel(),
                                                    QDateTime::currentDateTimeUtc());
    if (!plan.refusal.isEmpty())
        return refuse(plan.refusal);
    if (packed) {
        const Packer::Package package = Packer::pack(folder, packagePath + QStringLiteral(".part"));
        if (!package.problem.isEmpty())
            return refuse(package.problem);
        if (!QFile::rename(packagePath + QStringLiteral(".part"), packagePath))
            return refuse(QStringLiteral("cannot write %1").arg(packagePath));
        packed->size = package.size;
        packed->sha256 = package.sha256;
        // Each file once by its content, for desktops that fetch only what changed.
        const QString listName = PackageFormat::fileListName(request.target, packed->platform);
        listPath = QDir(channel).filePath(listName);
        Packer::Published published = Packer::publishFiles(folder, package, channel, listName);
        if (!published.problem.isEmpty()) {
            QFile::remove(packagePath);
            QFile::remove(listPath);
            return refuse(published.problem);
        }
        published.list.url = QUrl(request.baseUrl).resolved(QUrl(listName));
        packed->files = published.list;
        // Patches for the big files that changed since the last few releases.
        const QString patchListName = PackageFormat::patchListName(request.target, packed->platform);
        patchListPath = QDir(channel).filePath(patchListName);
        Packer::PublishedPatches patches =
                Packer::publishPatches(folder, package, channel,
                                       earlierLists(previous, channel, packed->platform, 3), patchListName);
        if (!patches.problem.isEmpty()) {
            QFile::remove(packagePath);
            QFile::remove(listPath);
            return refuse(patches.problem);
        }
        if (!patches.note.isEmpty())
            err() << "== " << patches.note << Qt::endl;
        if (patches.list) {
            patches.list->url = QUrl(request.baseUrl).resolved(QUrl(patchListName));
            packed->patches = patches.list;
        }
        err() << "== Patches: " << patches.made << " in "
              << (patches.list ? patchListName : QStringLiteral("no list")) << ", " << patches.leftOut
              << " left out as over " << Packer::maxPatchPercent << " % of their file" << Qt::endl;
        plan = ReleasePlan::compose(previous, request, packed, filesInChannel(),
                                    QDateTime::currentDateTimeUtc());
        err() << "== Package " << QFileInfo(packagePath).fileName() << ": " << package.size << " bytes, "
              << package.files.entries.size() << " entries in " << listName << Qt::endl;
    }
    // Signed beside the manifest, and put in its place only once it checks.
    const QString draft = manifestPath + QStringLiteral(".new");
    QString problem = plan.refusal;
    if (problem.isEmpty() && !writeFile(draft, plan.manifest.toJson()))
        problem = QStringLiteral("cannot write %1").arg(draft);
    if (problem.isEmpty())
        problem = Signer::sign(draft, key,
                               QStringLiteral("fenestra manifest serial %1").arg(plan.manifest.serial));
    if (problem.isEmpty()) {
        QFile::remove(manifestPath + QStringLiteral(".minisig"));
        if (!QFile::remove(manifestPath) && QFileInfo::exists(manifestPath))
            problem = QStringLiteral("cannot replace %1").arg(manifestPath);
        else if (!QFile::rename(draft, manifestPath)
                 || !QFile::rename(draft + QStringLiteral(".minisig"),
                                   manifestPath + QStringLiteral(".minisig")))
            problem = QStringLiteral("cannot write %1").arg(manifestPath);
    }
    if (!problem.isEmpty()) {
        QFile::remove(draft);
        QFile::remove(draft + QStringLiteral(".minisig"));
        // A package no manifest lists would block its own version name.
        if (!packagePath.isEmpty())
            QFile::remove(packagePath);
        if (!listPath.isEmpty())
            QFile::remove(listPath);
        if (!patchListPath.isEmpty())
            QFile::remove(patchListPath);
        return refuse(problem);
    }
    err() << "== Manifest serial " << plan.manifest.serial << ": " << QFileInfo(manifestPath).size()
          << " bytes, signed" << Qt::endl;
    err() << "== For the installer of " << request.target << ": -DSERIAL=" << plan.manifest.serial
          << " -DSIGNED=" << plan.manifest.signedAt.toSecsSinceEpoch() << Qt::endl;
    return 0;
}
