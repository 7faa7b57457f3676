#include "releasefixtures.h"
#include "releaseplan.h"
#include "update/manifestcheck.h"
#include "update/packageformat.h"
#include "update/packagestager.h"
#include "update/zstdpatch.h"

#include <QCryptographicHash>
#include <QProcess>
#include <QRandomGenerator>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtTest>

#include <functional>

namespace {

const QDateTime now = QDateTime(QDate(2026, 12, 10), QTime(12, 0), Qt::UTC);
const quint64 nowSerial = quint64(now.toSecsSinceEpoch());

UpdateManifest::Release release(const QString &version)
{
    UpdateManifest::Release r;
    r.version = version;
    r.platform = QStringLiteral("linux-x86_64");
    r.url = QUrl(QStringLiteral("http://index.example.com/fenestra-%1-linux-x86_64.tar.gz").arg(version));
    r.size = 1000;
    r.sha256 = QByteArray(64, 'a');
    return r;
}

QString packageOf(const QString &version)
{
    return QStringLiteral("fenestra-%1-linux-x86_64.tar.gz").arg(version);
}

// The channel's last manifest: 1.0.0 and 1.1.0 released, a day ago.
UpdateManifest last()
{
    UpdateManifest m;
    m.serial = nowSerial - 86400;
    m.signedAt = now.addDays(-1);
    m.expires = now.addDays(29);
    m.releases << release(QStringLiteral("1.0.0")) << release(QStringLiteral("1.1.0"));
    m.rollout.target = QStringLiteral("1.1.0");
    m.rollout.share = 100;
    m.revokedKeys << QStringLiteral("0123456789ABCDEF");
    return m;
}

QByteArray readFile(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

} // namespace

// IT's release tool: what it refuses, and what it publishes is what a desktop
// takes.
class TestReleaseTool : public QObject
{
    Q_OBJECT

private:
    MinisignKey key;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();

    int run(const QStringList &arguments, QByteArray *output = nullptr)
    {
        QProcess tool;
        tool.setProcessEnvironment(environment);
        tool.setProcessChannelMode(QProcess::MergedChannels);
        tool.start(QStringLiteral(FENESTRA_RELEASE_TOOL), arguments);
        if (!tool.waitForFinished(60000))
            return -1;
        if (output)
            *output = tool.readAll();
        return tool.exitCode();
    }

private Q_SLOTS:
    void initTestCase() { QVERIFY2(key.isValid(), "minisign makes no keys"); }

    void compose()
    {
        struct Row
        {
            const char *name;
            std::function<void(ReleasePlan::Request &)> request;
            std::optional<UpdateManifest> previous;
            std::optional<UpdateManifest::Release> packed;
            QStringList missingPackages;
            QString refusal; // a part of it; empty: composed
            std::function<bool(const UpdateManifest &)> holds;
        };
        const auto target = [](const char *version) {
            return [version](ReleasePlan::Request &r) { r.target = QString::fromLatin1(version); };
        };
        const std::vector<Row> rows = {
            { "a new release",
              target("1.2.0"),
              last(),
              release(QStringLiteral("1.2.0")),
              {},
              QString(),
              [](const UpdateManifest &m) {
                  return m.serial == nowSerial && m.releases.size() == 3
                          && m.rollout.salt == QLatin1String("1.2.0")
                          && m.revokedKeys == QStringList { QStringLiteral("0123456789ABCDEF") };
              } },
            { "the first release of a channel",
              target("1.0.0"),
              std::nullopt,
              release(QStringLiteral("1.0.0")),
              {},
              QString(),
              [](const UpdateManifest &m) { return m.releases.size() == 1; } },
            { "a serial not above the last",
              [](ReleasePlan::Request &r) {
                  r.target = QStringLiteral("1.1.0");
                  r.serial = nowSerial - 86400;
              },
              last(),
              std::nullopt,
              {},
              QStringLiteral("is not above the channel's last serial"),
              nullptr },
            { "a serial with a digit too many",
              [](ReleasePlan::Request &r) {
                  r.target = QStringLiteral("1.1.0");
                  r.serial = nowSerial * 10;
              },
              last(),
              std::nullopt,
              {},
              QStringLiteral("is implausible"),
              nullptr },
            { "a mistaken serial replaced",
              [](ReleasePlan::Request &r) {
                  r.target = QStringLiteral("1.1.0");
                  r.replaceSerials << nowSerial + 200 * 86400;
              },
              [] {
                  UpdateManifest m = last();
                  m.serial = nowSerial + 200 * 86400;
                  return m;
              }(),
              std::nullopt,
              {},
              QString(),
              [](const UpdateManifest &m) {
                  return m.serial == nowSerial
                          && m.replacesSerials == QList<quint64> { nowSerial + 200 * 86400 };
              } },
            { "a clock behind the last signing",
              target("1.1.0"),
              [] {
                  UpdateManifest m = last();
                  m.signedAt = now.addDays(1);
                  return m;
              }(),
              std::nullopt,
              {},
              QStringLiteral("is behind the channel's last signing time"),
              nullptr },
            { "a version name released before",
              target("1.1.0"),
              last(),
              release(QStringLiteral("1.1.0")),
              {},
              QStringLiteral("was released before"),
              nullptr },
            { "a package gone from the channel",
              target("1.1.0"),
              last(),
              std::nullopt,
              { packageOf(QStringLiteral("1.0.0")) },
              QString(),
              [](const UpdateManifest &m) { return m.releases.size() == 1; } },
            { "pulling the current release",
              [](ReleasePlan::Request &r) {
                  r.target = QStringLiteral("1.0.0");
                  r.pull << QStringLiteral("1.1.0");
              },
              last(),
              std::nullopt,
              {},
              QString(),
              [](const UpdateManifest &m) {
                  return m.pulled == QStringList { QStringLiteral("1.1.0") } && m.releases.size() == 1
                          && m.rollout.target == QLatin1String("1.0.0");
              } },
            { "a pulled version as the target",
              [](ReleasePlan::Request &r) {
                  r.target = QStringLiteral("1.1.0");
                  r.pull << QStringLiteral("1.1.0");
              },
              last(),
              std::nullopt,
              {},
              QStringLiteral("1.1.0 is pulled"),
              nullptr },
            { "a target without a package",
              target("1.3.0"),
              last(),
              std::nullopt,
              {},
              QStringLiteral("1.3.0 has no package in the channel"),
              nullptr },
            { "a ring's version without a package",
              [](ReleasePlan::Request &r) {
                  r.target = QStringLiteral("1.1.0");
                  r.rings.insert(QStringLiteral("pilot"), QStringLiteral("1.3.0"));
              },
              last(),
              std::nullopt,
              {},
              QStringLiteral("1.3.0 has no package"),
              nullptr },
            { "a pin that names no installation",
              [](ReleasePlan::Request &r) {
                  r.target = QStringLiteral("1.1.0");
                  r.pins.insert(QStringLiteral("desk-12"), QStringLiteral("1.0.0"));
              },
              last(),
              std::nullopt,
              {},
              QStringLiteral("'desk-12' is no installation id"),
              nullptr },
            { "a version name of a staging folder",
              target("1.2.staging"),
              last(),
              release(QStringLiteral("1.2.staging")),
              {},
              QStringLiteral("is no version name"),
              nullptr },
            { "a key revoked",
              [](ReleasePlan::Request &r) {
                  r.target = QStringLiteral("1.1.0");
                  r.revokeKeys << QStringLiteral("fedcba9876543210");
              },
              last(),
              std::nullopt,
              {},
              QString(),
              [](const UpdateManifest &m) {
                  return m.revokedKeys
                          == QStringList { QStringLiteral("0123456789ABCDEF"),
                                           QStringLiteral("FEDCBA9876543210") };
              } },
            { "mirrors named",
              [](ReleasePlan::Request &r) {
                  r.target = QStringLiteral("1.1.0");
                  r.mirrors = QStringList { QStringLiteral("http://cdn.example.com/fenestra/") };
              },
              last(),
              std::nullopt,
              {},
              QString(),
              [](const UpdateManifest &m) {
                  return m.mirrors == QList<QUrl> { QUrl(QStringLiteral("http://cdn.example.com/fenestra/")) }
                  && UpdateManifest::parse(m.toJson(), nullptr).mirrors == m.mirrors;
              } },
            { "the last manifest's mirrors stay unless given",
              target("1.1.0"),
              [] {
                  UpdateManifest m = last();
                  m.mirrors << QUrl(QStringLiteral("http://cdn.example.com/"));
                  return m;
              }(),
              std::nullopt,
              {},
              QString(),
              [](const UpdateManifest &m) {
                  return m.mirrors == QList<QUrl> { QUrl(QStringLiteral("http://cdn.example.com/")) };
              } },
            { "a mirror that carries a password",
              [](ReleasePlan::Request &r) {
                  r.target = QStringLiteral("1.1.0");
                  r.mirrors = QStringList { QStringLiteral("https://it:pw@cdn.example.com/") };
              },
              last(),
              std::nullopt,
              {},
              QStringLiteral("is no mirror"),
              nullptr },
            { "a folder is no mirror of the manifest's",
              [](ReleasePlan::Request &r) {
                  r.target = QStringLiteral("1.1.0");
                  r.mirrors = QStringList { QStringLiteral("\\\\plant-fs\\share") };
              },
              last(),
              std::nullopt,
              {},
              QStringLiteral("is no mirror"),
              nullptr },
            { "a manifest over 64 KiB",
              [](ReleasePlan::Request &r) {
                  r.target = QStringLiteral("1.1.0");
                  for (int i = 0; i < 2000; ++i)
                      r.pins.insert(QStringLiteral("%1").arg(i, 32, 16, QLatin1Char('0')),
                                    QStringLiteral("1.0.0"));
              },
              last(),
              std::nullopt,
              {},
              QStringLiteral("desktops refuse one over 64 KiB"),
              nullptr },
        };
        for (const Row &row : rows) {
            ReleasePlan::Request request;
            request.baseUrl = QStringLiteral("http://index.example.com/");
            row.request(request);
            QSet<QString> files = { packageOf(QStringLiteral("1.0.0")), packageOf(QStringLiteral("1.1.0")) };
            for (const QString &missing : row.missingPackages)
                files.remove(missing);
            const ReleasePlan::Result result =
                    ReleasePlan::compose(row.previous, request, row.packed, files, now);
            QVERIFY2(row.refusal.isEmpty() ? result.refusal.isEmpty() : result.refusal.contains(row.refusal),
                     qPrintable(QStringLiteral("%1: %2").arg(QLatin1String(row.name), result.refusal)));
            if (row.holds)
                QVERIFY2(row.holds(result.manifest), row.name);
        }
    }

    // The real tool, signing with the real minisign: a desktop takes what it
    // publishes, texts with quotes and all; it never packs a version twice.
    void publishesWhatDesktopsTake()
    {
        QTemporaryDir dir;
        const QString deployed = dir.filePath(QStringLiteral("deployed"));
        QVERIFY(QDir().mkpath(deployed + QStringLiteral("/bin")));
        QVERIFY(QDir().mkpath(deployed + QStringLiteral("/lib")));
        QFile shell(deployed + QStringLiteral("/bin/fenestra"));
        QVERIFY(shell.open(QIODevice::WriteOnly));
        shell.write("#!/bin/sh\n");
        shell.close();
        QVERIFY(shell.setPermissions(shell.permissions() | QFileDevice::ExeOwner));
        QFile library(deployed + QStringLiteral("/lib/libQt6Core.so.6.8.0"));
        QVERIFY(library.open(QIODevice::WriteOnly));
        library.write(QByteArray(10000, 'q'));
        library.close();
        QVERIFY(QFile::link(QStringLiteral("libQt6Core.so.6.8.0"),
                            deployed + QStringLiteral("/lib/libQt6Core.so.6")));
        const QString channel = dir.filePath(QStringLiteral("channel"));
        const QString salt = QStringLiteral("the \"night\" shift \\ 门窗");

        QByteArray output;
        QCOMPARE(run({ deployed, QStringLiteral("1.1.0"), key.secretKeyFile(), QStringLiteral("--channel"),
                       channel, QStringLiteral("--salt"), salt, QStringLiteral("--base-url"),
                       QStringLiteral("http://127.0.0.1:1/channel") },
                     &output),
                 0);
        const QByteArray manifest = readFile(channel + QStringLiteral("/manifest.json"));
        const ManifestCheck check =
                checkManifest(manifest, readFile(channel + QStringLiteral("/manifest.json.minisig")),
                              { key.publicKey() }, ManifestTrust(), QDateTime::currentDateTimeUtc());
        QVERIFY2(check.refusal.isEmpty(), qPrintable(check.refusal));
        QCOMPARE(check.manifest.rollout.salt, salt);
        const UpdateManifest::Release *released =
                check.manifest.release(QStringLiteral("1.1.0"), QStringLiteral("linux-x86_64"));
        QVERIFY(released);
        QCOMPARE(released->url,
                 QUrl(QStringLiteral("http://127.0.0.1:1/channel/fenestra-1.1.0-linux-x86_64.tar.gz")));
        const QString package = channel + QStringLiteral("/fenestra-1.1.0-linux-x86_64.tar.gz");
        const QByteArray packageBytes = readFile(package);
        QCOMPARE(QCryptographicHash::hash(packageBytes, QCryptographicHash::Sha256).toHex(),
                 released->sha256);
        QCOMPARE(qint64(packageBytes.size()), released->size);
        QVERIFY(output.contains("-DSERIAL=" + QByteArray::number(check.manifest.serial)));

        // Each file once under its content, listed beside the package as the manifest says.
        QVERIFY(released->files);
        QCOMPARE(released->files->url,
                 QUrl(QStringLiteral("http://127.0.0.1:1/channel/fenestra-1.1.0-linux-x86_64.files")));
        const QByteArray listText = readFile(channel + QStringLiteral("/fenestra-1.1.0-linux-x86_64.files"));
        QCOMPARE(qint64(listText.size()), released->files->size);
        QCOMPARE(QCryptographicHash::hash(listText, QCryptographicHash::Sha256).toHex(),
                 released->files->sha256);
        PackageFormat::FileList list;
        QVERIFY(PackageFormat::FileList::read(listText, list));
        QStringList described;
        for (const PackageFormat::FileList::Entry &entry : std::as_const(list.entries)) {
            using Type = PackageFormat::FileList::Entry::Type;
            if (entry.type == Type::File) {
                const QByteArray content =
                        readFile(channel + QStringLiteral("/files/") + QString::fromLatin1(entry.sha256));
                QCOMPARE(QCryptographicHash::hash(content, QCryptographicHash::Sha256).toHex(), entry.sha256);
                QCOMPARE(qint64(content.size()), entry.size);
            }
            described << (entry.type == Type::File           ? (entry.executable ? "x " : "f ")
                                  : entry.type == Type::Link ? "l "
                                                             : "d ")
                            + entry.path + (entry.type == Type::Link ? " " + entry.target : QString());
        }
        QCOMPARE(described,
                 (QStringList { QStringLiteral("d bin"), QStringLiteral("x bin/fenestra"),
                                QStringLiteral("d lib"), QStringLiteral("f lib/libQt6Core.so.6.8.0"),
                                QStringLiteral("f fenestra-files.sha256"),
                                QStringLiteral("l lib/libQt6Core.so.6 libQt6Core.so.6.8.0") }));

        const QString versions = dir.filePath(QStringLiteral("versions"));
        const PackageStager::Result staged =
                PackageStager::stage(package, versions, QStringLiteral("1.1.0"), released->sha256);
        QVERIFY2(staged.problem.isEmpty(), qPrintable(staged.problem));
        QCOMPARE(readFile(versions + QStringLiteral("/1.1.0/lib/libQt6Core.so.6")), QByteArray(10000, 'q'));
        QVERIFY(QFileInfo(versions + QStringLiteral("/1.1.0/bin/fenestra")).isExecutable());

        // Packed again under the same name: refused, and the package stays.
        QCOMPARE(run({ deployed, QStringLiteral("1.1.0"), key.secretKeyFile(), QStringLiteral("--channel"),
                       channel },
                     &output),
                 1);
        QVERIFY2(output.contains("a version is never packed twice"), output.constData());
        QCOMPARE(readFile(package), packageBytes);
        // A serial not above the last: refused, and the manifest stays.
        QCOMPARE(
                run({ QStringLiteral("-"), QStringLiteral("1.1.0"), key.secretKeyFile(),
                      QStringLiteral("--channel"), channel, QStringLiteral("--serial"), QStringLiteral("1") },
                    &output),
                1);
        QVERIFY2(output.contains("is not above the channel's last serial"), output.constData());
        QCOMPARE(readFile(channel + QStringLiteral("/manifest.json")), manifest);

        // The next release shares the files of this one; one damaged in the channel is written again.
        const QString core =
                channel + QStringLiteral("/files/")
                + QString::fromLatin1(
                        QCryptographicHash::hash(QByteArray(10000, 'q'), QCryptographicHash::Sha256).toHex());
        QFile damaged(core);
        QVERIFY(damaged.open(QIODevice::ReadWrite));
        QVERIFY(damaged.write("Q") == 1);
        damaged.close();
        QCOMPARE(run({ deployed, QStringLiteral("1.2.0"), key.secretKeyFile(), QStringLiteral("--channel"),
                       channel, QStringLiteral("--serial"), QString::number(check.manifest.serial + 1) },
                     &output),
                 0);
        QCOMPARE(readFile(core), QByteArray(10000, 'q'));
        QCOMPARE(QDir(channel + QStringLiteral("/files")).entryList(QDir::Files).size(), 3);
    }

    void patchesPayOrAreLeftOut_data()
    {
        QTest::addColumn<QString>("change"); // how each release changes the library
        QTest::addColumn<qint64>("size"); // the library's
        QTest::addColumn<bool>("zstd"); // whether the tool finds zstd
        QTest::addColumn<int>("patches"); // listed for the fifth release
        QTest::addColumn<QByteArray>("said");
        const qint64 big = 2 * 1024 * 1024;
        QTest::newRow("a few places, from the last three releases")
                << "few" << big << true << 3
                << QByteArray("Patches: 3 in fenestra-1.4.0-linux-x86_64.patches, 0 left out");
        QTest::newRow("rewritten throughout: not worth a patch")
                << "all" << big << true << 0 << QByteArray("Patches: 0 in no list, 3 left out as over 50 %");
        QTest::newRow("a file of 1 MiB is fetched whole") << "few" << qint64(1024 * 1024) << true << 0
                                                          << QByteArray("Patches: 0 in no list, 0 left out");
        QTest::newRow("no zstd: published without patches")
                << "few" << big << false << 0 << QByteArray("no zstd to make patches with");
    }

    // Five releases of a library: the fifth has patches from the three before
    // it that pay, each making the library from the one before as a desktop applies it.
    void patchesPayOrAreLeftOut()
    {
        QFETCH(QString, change);
        QFETCH(qint64, size);
        QFETCH(bool, zstd);
        QFETCH(int, patches);
        QFETCH(QByteArray, said);
        QTemporaryDir dir;
        // minisign alone, where the tool looks for zstd.
        const QString tools = dir.filePath(QStringLiteral("tools"));
        QVERIFY(QDir().mkpath(tools));
        QVERIFY(QFile::link(QStandardPaths::findExecutable(QStringLiteral("minisign")),
                            tools + QStringLiteral("/minisign")));
        environment = QProcessEnvironment::systemEnvironment();
        if (!zstd)
            environment.insert(QStringLiteral("PATH"), tools);
        const QString channel = dir.filePath(QStringLiteral("channel"));
        const QString deployed = dir.filePath(QStringLiteral("deployed"));
        QRandomGenerator engine(11);
        QByteArray library(size, Qt::Uninitialized);
        for (char &byte : library)
            byte = char(engine.generate());
        QByteArray output;
        QList<QByteArray> libraries;
        for (int i = 0; i < 5; ++i) {
            if (change == QLatin1String("all")) {
                for (char &byte : library)
                    byte = char(engine.generate());
            } else {
                library.replace(i * 1000, 100, QByteArray(100, char('a' + i)));
            }
            libraries << library;
            QVERIFY(QDir().mkpath(deployed + QStringLiteral("/bin")));
            QFile shell(deployed + QStringLiteral("/bin/fenestra"));
            QVERIFY(shell.open(QIODevice::WriteOnly) && shell.write("#!/bin/sh\n") > 0);
            shell.close();
            QVERIFY(shell.setPermissions(shell.permissions() | QFileDevice::ExeOwner));
            QFile file(deployed + QStringLiteral("/libQt6WebEngineCore.so.6"));
            QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(library) == size);
            file.close();
            const QString version = QStringLiteral("1.%1.0").arg(i);
            QCOMPARE(run({ deployed, version, key.secretKeyFile(), QStringLiteral("--channel"), channel,
                           QStringLiteral("--serial"), QString::number(1000 + i) },
                         &output),
                     0);
        }
        QVERIFY2(output.contains(said), output.constData());
        const QByteArray manifest = readFile(channel + QStringLiteral("/manifest.json"));
        QString problem;
        const UpdateManifest read = UpdateManifest::parse(manifest, &problem);
        QVERIFY2(problem.isEmpty(), qPrintable(problem));
        const UpdateManifest::Release *last =
                read.release(QStringLiteral("1.4.0"), QStringLiteral("linux-x86_64"));
        QVERIFY(last);
        QCOMPARE(bool(last->patches), patches > 0);
        if (!last->patches)
            return;
        const QByteArray text = readFile(channel + QStringLiteral("/fenestra-1.4.0-linux-x86_64.patches"));
        QCOMPARE(QCryptographicHash::hash(text, QCryptographicHash::Sha256).toHex(), last->patches->sha256);
        PackageFormat::PatchList list;
        QVERIFY(PackageFormat::PatchList::read(text, list));
        QCOMPARE(list.entries.size(), patches);
        const auto sumOf = [](const QByteArray &content) {
            return QCryptographicHash::hash(content, QCryptographicHash::Sha256).toHex();
        };
        for (int i = 0; i < patches; ++i) {
            // Newest first: from 1.3.0, 1.2.0 and 1.1.0, never from 1.0.0.
            const PackageFormat::PatchList::Entry &entry = list.entries.at(i);
            QCOMPARE(entry.from, sumOf(libraries.at(3 - i)));
            QCOMPARE(entry.to, sumOf(libraries.at(4)));
            const QString patch = channel + QLatin1Char('/') + entry.name();
            QCOMPARE(QFileInfo(patch).size(), entry.size);
            QVERIFY(entry.size * 2 <= size);
            QCOMPARE(sumOf(readFile(patch)), entry.sha256);
            QByteArray made;
            QCOMPARE(ZstdPatch::apply(channel + QStringLiteral("/files/") + QString::fromLatin1(entry.from),
                                      patch, size, ZstdPatch::windowLogFor(size, size),
                                      [&](QByteArrayView piece) {
                                          made += piece;
                                          return true;
                                      }),
                     QString());
            QCOMPARE(made, libraries.at(4));
        }
    }
};

QTEST_GUILESS_MAIN(TestReleaseTool)
#include "tst_releasetool.moc"
