#include "update/filestager.h"

#include "config/logging.h"
#include "net/boundedfetch.h"
#include "net/networkaccess.h"
#include "update/packageformat.h"
#include "update/packagestager.h"
#include "update/zstdpatch.h"

#include <QCryptographicHash>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QNetworkAccessManager>
#include <QRandomGenerator>
#include <QSet>
#include <QTemporaryFile>
#include <QTimer>

#include <algorithm>
#include <functional>
#include <memory>
#include <optional>

namespace {

using Entry = PackageFormat::FileList::Entry;
using PatchList = PackageFormat::PatchList;
using Result = FileStager::Result;
using Place = FetchPlaces::Place;

void log(const QString &line)
{
    qCInfo(lcUpdate).noquote() << line;
}

// The server behind a place: one that does not answer is down for all its files.
QString server(const Place &place)
{
    return place.url.adjusted(QUrl::RemovePath | QUrl::RemoveQuery | QUrl::RemoveFragment).toString();
}

QString where(const Place &place)
{
    return place.kind == FetchPlaces::Kind::Share ? QDir::toNativeSeparators(place.path)
                                                  : place.url.toString(QUrl::RemoveQuery);
}

// The channel's files, one GET at a time on this thread, within one deadline
// for them all; a cancel aborts the one running.
class Fetcher
{
public:
    explicit Fetcher(const std::atomic_bool *cancel)
        : m_network(NetworkAccess::create(nullptr, NetworkAccess::Proxy::System)),
          m_deadline(FileStager::timeLimitMs),
          m_cancel(cancel)
    { }

    qint64 bytesFetched() const { return m_fetched; }
    void countRead(qint64 bytes) { m_fetched += bytes; }
    bool timeLeft() const { return !m_deadline.hasExpired(); }

    // Whether the last get() met a server that answered in time, though
    // perhaps with an error or another file.
    bool answered() const { return m_answered; }

    // Hands `url`'s body, at most `size` bytes, to `sink`; the problem, or empty.
    QString get(const QUrl &url, qint64 size, const BoundedFetch::Sink &sink)
    {
        const qint64 left = m_deadline.remainingTime();
        m_answered = false;
        if (left <= 0)
            return QStringLiteral("took too long");
        QNetworkRequest request(url);
        request.setAttribute(QNetworkRequest::RedirectPolicyAttribute,
                             QNetworkRequest::NoLessSafeRedirectPolicy);
        // The bytes as published: the sum is of those.
        request.setRawHeader("Accept-Encoding", "identity");
        BoundedFetch::Limits limits;
        limits.maxBytes = size;
        limits.stall = std::chrono::milliseconds(FileStager::stallLimitMs);
        limits.total = std::chrono::milliseconds(left);
        QString refusal;
        BoundedFetch *running = nullptr;
        BoundedFetch fetch(m_network.get(), request, limits, [&](QByteArrayView piece) {
            // A partial answer would be another file's bytes.
            if (running->status() != 200) {
                refusal = QStringLiteral("HTTP status %1").arg(running->status());
                return false;
            }
            m_fetched += piece.size();
            return sink(piece);
        });
        running = &fetch;
        QTimer watch;
        QObject::connect(&watch, &QTimer::timeout, &fetch, [this, &fetch] {
            if (m_cancel && m_cancel->load())
                fetch.abort();
        });
        watch.start(100);
        fetch.waitForFinished();
        m_answered = fetch.status() > 0 && fetch.outcome() != BoundedFetch::Outcome::Stalled
                && fetch.outcome() != BoundedFetch::Outcome::TimedOut;
        if (m_cancel && m_cancel->load())
            return QStringLiteral("cancelled");
        if (fetch.outcome() == BoundedFetch::Outcome::Refused)
            return refusal.isEmpty() ? QStringLiteral("cannot write it") : refusal;
        if (!fetch.succeeded())
            return fetch.errorString();
        if (fetch.status() != 200)
            return QStringLiteral("HTTP status %1").arg(fetch.status());
        return QString();
    }

private:
    std::unique_ptr<QNetworkAccessManager> m_network;
    const QDeadlineTimer m_deadline;
    const std::atomic_bool *m_cancel;
    qint64 m_fetched = 0;
    bool m_answered = false;
};

class Builder
{
public:
    // `channel` is where the release's list lies: its files and patches lie below it.
    Builder(const QString &staging, const QString &currentFolder, const QUrl &channel,
            const FetchPlaces::Mirrors &mirrors, const PatchList &patches, qint64 patchMemory,
            const std::atomic_bool *cancel, Fetcher &fetcher)
        : m_staging(staging),
          m_current(currentFolder),
          m_channel(channel),
          m_mirrors(mirrors),
          m_patches(patches),
          m_patchMemory(patchMemory),
          m_cancel(cancel),
          m_fetcher(fetcher)
    {
        // The running version's own sums find a file that moved.
        QFile sums(m_current + QLatin1Char('/') + PackageFormat::sumsName());
        QHash<QString, QByteArray> listed;
        if (sums.open(QIODevice::ReadOnly) && sums.size() <= PackageFormat::FileList::maxSize
            && PackageFormat::readSums(sums.readAll(), listed)) {
            for (auto it = listed.cbegin(); it != listed.cend(); ++it) {
                if (PackageStager::safeRelativePath(it.key()) == it.key())
                    m_currentBySum.insert(it.value(), it.key());
            }
        }
    }

    qint64 bytesCopied() const { return m_copied; }
    const std::array<qint64, 4> &bytesFrom() const { return m_from; }
    int filesPatched() const { return m_patched; }

    QString build(const PackageFormat::FileList &list)
    {
        QHash<QString, QString> links;
        QList<Entry> files;
        qint64 total = 0;
        for (const Entry &entry : list.entries) {
            if (PackageStager::safeRelativePath(entry.path) != entry.path)
                return QStringLiteral("unsafe entry %1").arg(entry.path.left(200));
            switch (entry.type) {
            case Entry::Type::Directory:
                if (!QDir().mkpath(m_staging + QLatin1Char('/') + entry.path))
                    return QStringLiteral("cannot make %1").arg(entry.path);
                break;
            case Entry::Type::Link:
                links.insert(entry.path, entry.target);
                break;
            case Entry::Type::File:
                total += entry.size;
                if (total > PackageStager::maxVersionSize)
                    return QStringLiteral("more than 4 GiB of files");
                files << entry;
                break;
            }
        }
        QList<Entry> missing;
        for (const Entry &entry : std::as_const(files)) {
            if (cancelled())
                return QStringLiteral("cancelled");
            if (!reuse(entry, Sources::All))
                missing << entry;
        }
        for (const Entry &entry : std::as_const(missing)) {
            // Two paths with one content are fetched once.
            if (reuse(entry, Sources::Staged) || writeSums(list, entry))
                continue;
            const QString problem = fetch(entry);
            if (!problem.isEmpty())
                return problem;
        }
        return PackageStager::makeLinks(m_staging, links).problem;
    }

private:
    bool cancelled() const { return m_cancel && m_cancel->load(); }

    QString target(const Entry &entry) const { return m_staging + QLatin1Char('/') + entry.path; }

    // Opens the entry's file for writing, never over another.
    bool create(const Entry &entry, QFile &file) const
    {
        file.setFileName(target(entry));
        return QDir().mkpath(QFileInfo(file.fileName()).path())
                && file.open(QIODevice::WriteOnly | QIODevice::NewOnly);
    }

    // The entry's file written and its sum as listed.
    void written(const Entry &entry, QFile &file)
    {
        if (entry.executable)
            file.setPermissions(file.permissions() | QFileDevice::ExeOwner | QFileDevice::ExeGroup
                                | QFileDevice::ExeOther);
        file.close();
        m_staged.insert(entry.sha256, target(entry));
    }

    enum class Sources { Staged, All };

    // Copies a file already here with the entry's content (one staged before,
    // or with All one of the running version), its sum checked as it is read;
    // false when there is none.
    bool reuse(const Entry &entry, Sources from)
    {
        QStringList sources;
        if (m_staged.contains(entry.sha256))
            sources << m_staged.value(entry.sha256);
        if (from == Sources::All && m_currentBySum.contains(entry.sha256))
            sources << m_current + QLatin1Char('/') + m_currentBySum.value(entry.sha256);
        if (from == Sources::All)
            sources << m_current + QLatin1Char('/') + entry.path;
        for (const QString &source : std::as_const(sources)) {
            const QFileInfo info(source);
            if (!info.isFile() || info.isSymLink() || info.size() != entry.size)
                continue;
            if (copy(source, entry))
                return true;
        }
        return false;
    }

    bool copy(const QString &source, const Entry &entry)
    {
        QFile from(source);
        QFile to;
        if (!from.open(QIODevice::ReadOnly) || !create(entry, to))
            return false;
        QCryptographicHash hash(QCryptographicHash::Sha256);
        QByteArray buffer(256 * 1024, Qt::Uninitialized);
        qint64 read = 0;
        qint64 copied = 0;
        while ((read = from.read(buffer.data(), buffer.size())) > 0 && !cancelled()) {
            hash.addData(QByteArrayView(buffer.constData(), read));
            if (to.write(buffer.constData(), read) != read)
                break;
            copied += read;
        }
        if (read != 0 || copied != entry.size || hash.result().toHex() != entry.sha256 || !to.flush()) {
            to.remove();
            return false;
        }
        m_copied += copied;
        written(entry, to);
        return true;
    }

    // The package's list of sums holds what the file list says of its files,
    // in its order: made here when it comes out as listed, and not fetched.
    bool writeSums(const PackageFormat::FileList &list, const Entry &entry)
    {
        if (entry.path != PackageFormat::sumsName())
            return false;
        QByteArray sums;
        for (const Entry &file : list.entries) {
            if (file.type == Entry::Type::File && file.path != entry.path)
                sums += PackageFormat::sumLine(file.path, file.sha256);
        }
        QFile out;
        if (QCryptographicHash::hash(sums, QCryptographicHash::Sha256).toHex() != entry.sha256
            || !create(entry, out))
            return false;
        if (out.write(sums) != sums.size() || !out.flush()) {
            out.remove();
            return false;
        }
        written(entry, out);
        return true;
    }

    // Fetches the entry from the first place that gives it as listed: IT's
    // share, which costs the network nothing, before a patch, which costs it
    // little, before the other places.
    QString fetch(const Entry &entry)
    {
        QFile file;
        if (!create(entry, file))
            return QStringLiteral("cannot write %1").arg(entry.path);
        if (entry.size == 0) {
            written(entry, file);
            return QString();
        }
        const QString name =
                PackageFormat::contentFolder() + QLatin1Char('/') + QString::fromLatin1(entry.sha256);
        QList<Place> places = FetchPlaces::inOrder(m_mirrors, name, m_channel.resolved(QUrl(name)));
        QList<Place> shared;
        while (!places.isEmpty() && places.constFirst().kind == FetchPlaces::Kind::Share)
            shared << places.takeFirst();
        std::optional<FetchPlaces::Kind> gave;
        QString problem = takeFirst(shared, entry, file, gave);
        if (!gave && patch(entry, file))
            return QString();
        if (!gave)
            problem = takeFirst(places, entry, file, gave);
        if (!gave) {
            file.remove();
            return QStringLiteral("%1 (%2): %3").arg(entry.path, QString::fromLatin1(entry.sha256), problem);
        }
        m_from[size_t(*gave)] += entry.size;
        written(entry, file);
        if (*gave != FetchPlaces::Kind::Share)
            share(entry);
        return QString();
    }

    // Writes into `file` what the first of `places` that gives `listed` (its
    // size and sum) holds, and names the place in `gave`; the last problem.
    QString takeFirst(const QList<Place> &places, const Entry &listed, QFile &file,
                      std::optional<FetchPlaces::Kind> &gave)
    {
        QString problem = QStringLiteral("nowhere to fetch it from");
        for (const Place &place : places) {
            if ((place.kind != FetchPlaces::Kind::Origin && m_down.contains(server(place)))
                || (place.kind == FetchPlaces::Kind::Share && !shareReachable()))
                continue;
            if (!file.isOpen() && !file.open(QIODevice::WriteOnly | QIODevice::Truncate))
                return QStringLiteral("cannot write %1").arg(listed.path);
            problem = take(place, listed, file);
            if (problem.isEmpty()) {
                gave = place.kind;
                return QString();
            }
            file.close();
            if (cancelled() || !m_fetcher.timeLeft())
                break;
            if (place.kind == FetchPlaces::Kind::Origin)
                continue;
            // A place that does not answer would cost each file its wait.
            if (place.kind != FetchPlaces::Kind::Share && !m_fetcher.answered()) {
                m_down.insert(server(place));
                log(QStringLiteral("not asking %1 again for this release: %2").arg(server(place), problem));
            } else if (place.kind != FetchPlaces::Kind::Share || QFileInfo::exists(place.path)) {
                // A share that lacks a file awaits the first desktop: nothing to say.
                log(QStringLiteral("skipped %1 for %2: %3").arg(where(place), listed.path, problem));
            }
        }
        return problem;
    }

    // Makes the entry into `file` from a file of the running version and its
    // patch, when the patch list has one and it fits in the memory given;
    // whether it did. Any failure leaves the file to be fetched whole.
    bool patch(const Entry &entry, QFile &file)
    {
        const auto listed = std::find_if(
                m_patches.entries.cbegin(), m_patches.entries.cend(), [&](const PatchList::Entry &patch) {
                    return patch.to == entry.sha256 && m_currentBySum.contains(patch.from);
                });
        if (listed == m_patches.entries.cend() || cancelled())
            return false;
        const QString old = m_current + QLatin1Char('/') + m_currentBySum.value(listed->from);
        const QFileInfo oldInfo(old);
        if (!oldInfo.isFile() || oldInfo.isSymLink())
            return false;
        const int windowLog = ZstdPatch::windowLogWithin(oldInfo.size(), entry.size, m_patchMemory);
        if (windowLog == 0) {
            log(QStringLiteral(
                        "fetching %1 whole: its patch would need more than the %2 MiB of memory it may take")
                        .arg(entry.path)
                        .arg(m_patchMemory / (1024 * 1024)));
            return false;
        }
        // Beside the files being staged, and gone with it whatever happens.
        QTemporaryFile patchFile(m_staging + QStringLiteral("/.patch-XXXXXX"));
        if (!patchFile.open())
            return false;
        const Entry asListed { Entry::Type::File, listed->name(), listed->size, listed->sha256 };
        const QList<Place> places =
                FetchPlaces::inOrder(m_mirrors, listed->name(), m_channel.resolved(QUrl(listed->name())));
        std::optional<FetchPlaces::Kind> gave;
        QString problem = takeFirst(places, asListed, patchFile, gave);
        if (gave) {
            patchFile.close();
            QCryptographicHash hash(QCryptographicHash::Sha256);
            qint64 made = 0;
            if (!file.isOpen() && !file.open(QIODevice::WriteOnly | QIODevice::Truncate))
                return false;
            problem = ZstdPatch::apply(
                    old, patchFile.fileName(), entry.size, windowLog,
                    [&](QByteArrayView piece) {
                        hash.addData(piece);
                        made += piece.size();
                        return file.write(piece.data(), piece.size()) == piece.size();
                    },
                    m_cancel);
            if (problem.isEmpty() && (made != entry.size || hash.result().toHex() != entry.sha256))
                problem = QStringLiteral("it does not make the listed file");
            if (problem.isEmpty() && !file.flush())
                problem = QStringLiteral("cannot write it");
        }
        if (!problem.isEmpty()) {
            file.close();
            log(QStringLiteral("could not patch %1: %2; fetching it whole").arg(entry.path, problem));
            return false;
        }
        m_from[size_t(*gave)] += listed->size;
        ++m_patched;
        written(entry, file);
        // The next desktop of the plant takes the whole file from the share.
        share(entry);
        return true;
    }

    // Writes the entry as `place` holds it into `file`; the problem, or empty.
    QString take(const Place &place, const Entry &entry, QFile &file)
    {
        QCryptographicHash hash(QCryptographicHash::Sha256);
        qint64 received = 0;
        const BoundedFetch::Sink sink = [&](QByteArrayView piece) {
            hash.addData(piece);
            received += piece.size();
            return file.write(piece.data(), piece.size()) == piece.size();
        };
        QString problem = place.kind == FetchPlaces::Kind::Share ? read(place.path, entry.size, sink)
                                                                 : m_fetcher.get(place.url, entry.size, sink);
        if (problem.isEmpty() && (received != entry.size || hash.result().toHex() != entry.sha256))
            problem = QStringLiteral("not the listed file");
        if (problem.isEmpty() && !file.flush())
            problem = QStringLiteral("cannot write it");
        if (place.kind == FetchPlaces::Kind::Share && problem == QLatin1String("not the listed file"))
            m_wrongInShare.insert(entry.sha256);
        return problem;
    }

    // Hands the share's file `path`, of `size` bytes, to `sink`; the problem, or empty.
    QString read(const QString &path, qint64 size, const BoundedFetch::Sink &sink)
    {
        QFile from(path);
        if (!from.open(QIODevice::ReadOnly))
            return QStringLiteral("cannot read it");
        if (from.size() != size)
            return QStringLiteral("not the listed file");
        QByteArray buffer(256 * 1024, Qt::Uninitialized);
        qint64 read = 0;
        qint64 total = 0;
        while (total < size
               && (read = from.read(buffer.data(), qMin<qint64>(buffer.size(), size - total))) > 0) {
            if (cancelled() || !m_fetcher.timeLeft())
                return QStringLiteral("cancelled");
            m_fetcher.countRead(read);
            total += read;
            if (!sink(QByteArrayView(buffer.constData(), read)))
                return QStringLiteral("cannot write it");
        }
        return read < 0 ? QStringLiteral("cannot read it") : QString();
    }

    // Whether IT's share is there at all: an unreachable one would cost each
    // file the system's wait for it.
    bool shareReachable()
    {
        if (!m_shareReachable) {
            m_shareReachable = QFileInfo(m_mirrors.share).isDir();
            if (!*m_shareReachable)
                log(QStringLiteral("cannot reach the share %1 for this release")
                            .arg(QDir::toNativeSeparators(m_mirrors.share)));
        }
        return *m_shareReachable;
    }

    // Leaves the verified entry in IT's share for the next desktop: under a
    // temporary name first, so that no reader meets half a file, and never
    // over a good one another desktop put there.
    void share(const Entry &entry)
    {
        if (m_mirrors.share.isEmpty() || m_shareUnwritable || !shareReachable())
            return;
        const QString folder = m_mirrors.share + QLatin1Char('/') + PackageFormat::contentFolder();
        const QString shared = folder + QLatin1Char('/') + QString::fromLatin1(entry.sha256);
        const bool wrong = m_wrongInShare.contains(entry.sha256);
        if (!wrong && QFileInfo::exists(shared))
            return;
        const QString partial = shared
                + QStringLiteral(".%1.part")
                          .arg(QRandomGenerator::global()->generate(), 8, 16, QLatin1Char('0'));
        QString problem;
        if (!QDir().mkpath(folder))
            problem = QStringLiteral("cannot make %1").arg(QDir::toNativeSeparators(folder));
        else if (!QFile::copy(target(entry), partial))
            problem = QStringLiteral("cannot write %1").arg(QDir::toNativeSeparators(partial));
        else if (wrong)
            QFile::remove(shared);
        // Another desktop may have put it there meanwhile: the same content.
        if (problem.isEmpty() && !QFile::rename(partial, shared) && !QFileInfo::exists(shared))
            problem = QStringLiteral("cannot write %1").arg(QDir::toNativeSeparators(shared));
        QFile::remove(partial);
        if (problem.isEmpty())
            return;
        m_shareUnwritable = true;
        log(QStringLiteral("cannot leave the release's files in the share: %1").arg(problem));
    }

    const QString m_staging;
    const QString m_current;
    const QUrl m_channel;
    const FetchPlaces::Mirrors m_mirrors;
    const PatchList m_patches;
    const qint64 m_patchMemory;
    const std::atomic_bool *m_cancel;
    Fetcher &m_fetcher;
    QHash<QByteArray, QString> m_currentBySum; // sum -> path in the running version
    QHash<QByteArray, QString> m_staged; // sum -> a file written into the staging folder
    qint64 m_copied = 0;
    std::array<qint64, 4> m_from {};
    int m_patched = 0;
    QSet<QString> m_down; // servers that did not answer
    QSet<QByteArray> m_wrongInShare; // sums of files the share holds wrong
    bool m_shareUnwritable = false;
    std::optional<bool> m_shareReachable; // asked once, when first needed
};

// The list `reference` names, as listed, into `text`; the problem, or empty.
QString fetchList(Fetcher &fetcher, const UpdateManifest::Reference &reference, const char *what,
                  QByteArray &text)
{
    text.clear();
    QCryptographicHash hash(QCryptographicHash::Sha256);
    const QString problem = fetcher.get(reference.url, reference.size, [&](QByteArrayView piece) {
        text.append(piece);
        hash.addData(piece);
        return true;
    });
    if (problem.isEmpty() && (text.size() != reference.size || hash.result().toHex() != reference.sha256))
        return QStringLiteral("not the listed %1").arg(QLatin1String(what));
    return problem;
}

} // namespace

namespace FileStager {

FetchPlaces::Kind Result::mostlyFrom() const
{
    size_t most = size_t(FetchPlaces::Kind::Origin);
    for (size_t kind = 0; kind < bytesFrom.size(); ++kind) {
        if (bytesFrom[kind] > bytesFrom[most])
            most = kind;
    }
    return FetchPlaces::Kind(most);
}

Result stage(const UpdateManifest::Release &release, const QString &currentFolder,
             const QString &versionsFolder, const FetchPlaces::Mirrors &mirrors, qint64 patchMemory,
             const std::atomic_bool *cancel)
{
    Result result;
    if (!release.files) {
        result.problem = QStringLiteral("no file list");
        return result;
    }
    if (PackageStager::isStaged(versionsFolder, release.version, release.sha256))
        return result;
    Fetcher fetcher(cancel);
    QByteArray text;
    result.problem = fetchList(fetcher, *release.files, "file list", text);
    result.bytesFetched = fetcher.bytesFetched();
    PackageFormat::FileList list;
    if (result.problem.isEmpty() && !PackageFormat::FileList::read(text, list))
        result.problem = QStringLiteral("an unreadable file list");
    if (!result.problem.isEmpty())
        return result;
    // Without its patches the release is fetched as well, only by more bytes.
    PatchList patches;
    if (release.patches && patchMemory > 0) {
        QString problem = fetchList(fetcher, *release.patches, "patch list", text);
        if (problem.isEmpty() && !PatchList::read(text, patches))
            problem = QStringLiteral("an unreadable patch list");
        if (!problem.isEmpty())
            log(QStringLiteral("no patches for %1: %2").arg(release.version, problem));
    }

    QString staging;
    result.problem = PackageStager::beginStaging(versionsFolder, release.version, &staging).problem;
    if (!result.problem.isEmpty())
        return result;
    Builder builder(staging, currentFolder, release.files->url, mirrors, patches, patchMemory, cancel,
                    fetcher);
    result.problem = builder.build(list);
    result.bytesFetched = fetcher.bytesFetched();
    result.bytesCopied = builder.bytesCopied();
    result.bytesFrom = builder.bytesFrom();
    result.filesPatched = builder.filesPatched();
    if (!result.problem.isEmpty()) {
        PackageStager::removeVersionFolder(staging);
        return result;
    }
    // The folder holds the package's content, so it names the package as a
    // folder unpacked from it does.
    result.problem = PackageStager::completeStaging(staging, release.version, release.sha256).problem;
    return result;
}

} // namespace FileStager
