#include "update/updater.h"

#include "config/deployment.h"
#include "config/logging.h"
#include "launcher/installation.h"
#include "launcher/installlayout.h"
#include "launcher/status.h"
#include "net/boundedfetch.h"
#include "net/networkaccess.h"
#include "update/checkschedule.h"
#include "update/filestager.h"
#include "update/manifestcheck.h"
#include "update/packagedownload.h"
#include "update/packageformat.h"
#include "update/updatereport.h"
#include "update/zstdpatch.h"

#include <QDateTime>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QNetworkAccessManager>
#include <QQuickWindow>
#include <QRandomGenerator>
#include <QSysInfo>
#include <QThread>

namespace {

std::string toStd(const QString &text)
{
    return text.toUtf8().toStdString();
}

QString fromStd(const std::string &text)
{
    return QString::fromUtf8(text.data(), qsizetype(text.size()));
}

void log(const QString &line)
{
    qCInfo(lcUpdate).noquote() << line;
}

ManifestTrust trustOf(const InstallState::State &state)
{
    ManifestTrust trust;
    trust.serial = state.serial;
    trust.sha256 = QByteArray::fromStdString(state.manifestSha256);
    trust.key = fromStd(state.serialKey);
    trust.timeFloor = state.timeFloor;
    for (const std::string &key : state.revokedKeys)
        trust.revokedKeys << fromStd(key);
    trust.rejectedSha256 = QByteArray::fromStdString(state.rejectedSha256);
    return trust;
}

bool sameTrust(const ManifestTrust &a, const ManifestTrust &b)
{
    return a.serial == b.serial && a.sha256 == b.sha256 && a.key == b.key && a.timeFloor == b.timeFloor
            && a.revokedKeys == b.revokedKeys && a.rejectedSha256 == b.rejectedSha256;
}

void keep(const ManifestTrust &trust, InstallState::State &state)
{
    state.serial = trust.serial;
    state.manifestSha256 = trust.sha256.toStdString();
    state.serialKey = toStd(trust.key);
    state.timeFloor = trust.timeFloor;
    state.revokedKeys.clear();
    for (const QString &key : trust.revokedKeys)
        state.revokedKeys.push_back(toStd(key));
    state.rejectedSha256 = trust.rejectedSha256.toStdString();
}

} // namespace

Updater::Updater(const Channel &channel, const QString &root, const QString &ownVersion, QObject *parent)
    : QObject(parent), m_channel(channel), m_root(root), m_ownVersion(ownVersion)
{
    m_checkTimer.setSingleShot(true);
    connect(&m_checkTimer, &QTimer::timeout, this, &Updater::check);
}

Updater::~Updater()
{
    // The unpacking stops at its next entry or block, and leaves nothing: the
    // single-instance lock is not held for the seconds a whole release takes.
    m_cancelStaging = true;
    if (m_staging) {
        m_staging->wait();
        delete m_staging;
    }
}

Updater::Channel Updater::builtInChannel()
{
    Channel channel;
    channel.manifest = QUrl(Deployment::updateManifestAddress());
    channel.keys = Deployment::updateKeys();
    channel.healthyDelayMs = Deployment::healthyDelayMs();
    channel.checkSpreadMs = Deployment::checkSpreadMs();
    channel.downloadSpreadMs = Deployment::downloadSpreadMs();
    return channel;
}

QString Updater::platform()
{
#ifdef Q_OS_WIN
    return QStringLiteral("windows-") + QSysInfo::buildCpuArchitecture();
#else
    return QStringLiteral("linux-") + QSysInfo::buildCpuArchitecture();
#endif
}

void Updater::startWhenShown(QWindow *window)
{
    auto *quickWindow = qobject_cast<QQuickWindow *>(window);
    if (!quickWindow || m_ownVersion.isEmpty())
        return;
    connect(quickWindow, &QQuickWindow::frameSwapped, this, &Updater::started,
            static_cast<Qt::ConnectionType>(Qt::QueuedConnection | Qt::SingleShotConnection));
}

QString Updater::filePath(const char *relative) const
{
    return m_root + QLatin1Char('/') + QString::fromLatin1(relative);
}

bool Updater::readState(InstallState::State &state) const
{
    std::string why;
    if (InstallState::read(toStd(filePath(InstallLayout::stateFile)), state, &why)
        == InstallState::ReadResult::Read)
        return true;
    // Never written over: what it holds (the serial, the bad versions) matters.
    log(QStringLiteral("cannot read %1 (%2)").arg(filePath(InstallLayout::stateFile), fromStd(why)));
    return false;
}

bool Updater::writeState(const InstallState::State &state) const
{
    if (InstallState::write(toStd(filePath(InstallLayout::stateFile)), state))
        return true;
    log(QStringLiteral("cannot write %1").arg(filePath(InstallLayout::stateFile)));
    return false;
}

void Updater::started()
{
    // The launcher judges how this start ended by this mark.
    QFile mark(filePath(InstallLayout::firstFrameFile));
    if (!mark.open(QIODevice::WriteOnly | QIODevice::Truncate)
        || mark.write(m_ownVersion.toUtf8() + '\n') < 0)
        log(QStringLiteral("cannot write %1").arg(mark.fileName()));
    mark.close();
    log(QStringLiteral("running %1").arg(m_ownVersion));
    InstallState::State state;
    if (readState(state) && fromStd(state.trial) == m_ownVersion)
        QTimer::singleShot(m_channel.healthyDelayMs, this, &Updater::reportHealthy);
    // A version on trial first proves itself before it stages another.
    m_scheduled = true;
    scheduleCheck(std::chrono::milliseconds(m_channel.healthyDelayMs));
}

void Updater::reportHealthy()
{
    InstallState::State state;
    if (!readState(state) || fromStd(state.trial) != m_ownVersion)
        return;
    if (state.current != state.trial)
        state.previous = state.current;
    state.current = state.trial;
    state.trial.clear();
    state.trialStarts = 0;
    if (!writeState(state))
        return;
    log(QStringLiteral("healthy %1").arg(m_ownVersion));
    if (!m_checking)
        removeOldVersions();
}

void Updater::check()
{
    if (m_checking)
        return;
    if (m_channel.manifest.isEmpty() || m_ownVersion.isEmpty()) {
        Q_EMIT checkFinished();
        return;
    }
    m_checking = true;
    m_download = Download();
    InstallState::State state;
    if (!readState(state)) {
        finishCheck("no-state");
        return;
    }
    const Policy policy = Policy::read(m_root);
    for (const QString &problem : policy.problems)
        log(problem);
    m_mirrors = { policy.updates.mirror, policy.updates.share, {} };
    const ReleaseDecision::Situation now = situation(state, policy.updates);
    if (!now.policy.enabled) {
        const ReleaseDecision::Decision decision = ReleaseDecision::decide(nullptr, now);
        log(decision.why);
        act(decision, "off");
        return;
    }
    if (!m_network)
        m_network = NetworkAccess::create(this, NetworkAccess::Proxy::System);
    BoundedFetch::Limits limits;
    limits.maxBytes = UpdateManifest::maxSize;
    limits.stall = std::chrono::milliseconds(manifestStallMs);
    limits.total = std::chrono::milliseconds(manifestTotalMs);
    const auto fetch = [this, &limits](const QUrl &url) {
        QNetworkRequest request(url);
        request.setAttribute(QNetworkRequest::RedirectPolicyAttribute,
                             QNetworkRequest::NoLessSafeRedirectPolicy);
        auto *fetch = new BoundedFetch(m_network, request, limits, {}, this);
        connect(fetch, &BoundedFetch::finished, this, &Updater::fetched);
        return fetch;
    };
    m_manifestFetch = fetch(UpdateReport::withReport(m_channel.manifest, now));
    m_signatureFetch = fetch(QUrl(m_channel.manifest.toString() + QStringLiteral(".minisig")));
}

void Updater::fetched()
{
    if (!m_manifestFetch || !m_signatureFetch || !m_manifestFetch->isFinished()
        || !m_signatureFetch->isFinished())
        return;
    BoundedFetch *manifestFetch = m_manifestFetch;
    BoundedFetch *signatureFetch = m_signatureFetch;
    manifestFetch->deleteLater();
    signatureFetch->deleteLater();
    m_manifestFetch = nullptr;
    m_signatureFetch = nullptr;
    for (BoundedFetch *fetch : { manifestFetch, signatureFetch }) {
        if (fetch->outcome() == BoundedFetch::Outcome::TooLarge) {
            log(QStringLiteral("refused the manifest: over 64 KiB"));
            finishCheck("refused");
            return;
        }
        if (!fetch->succeeded()) {
            log(QStringLiteral("channel unreachable: %1: %2")
                        .arg(fetch->url().toString(), fetch->errorString()));
            m_retryAfter = CheckSchedule::retryAfter(fetch->rawHeader("Retry-After"),
                                                     QDateTime::currentDateTimeUtc());
            if (m_retryAfter)
                log(QStringLiteral("the channel asks to come back in %1 s")
                            .arg(std::chrono::duration_cast<std::chrono::seconds>(*m_retryAfter).count()));
            finishCheck("unreachable");
            return;
        }
    }
    InstallState::State state;
    if (!readState(state)) {
        finishCheck("no-state");
        return;
    }
    const ManifestCheck verdict = checkManifest(manifestFetch->body(), signatureFetch->body(), m_channel.keys,
                                                trustOf(state), QDateTime::currentDateTimeUtc());
    if (!verdict.refusal.isEmpty()) {
        log(QStringLiteral("refused the manifest: %1").arg(verdict.refusal));
        finishCheck("refused");
        return;
    }
    if (!verdict.note.isEmpty())
        log(QStringLiteral("manifest serial %1: %2").arg(verdict.manifest.serial).arg(verdict.note));
    // Kept before anything else: a replayed older manifest is refused from now on.
    const bool learnt = !sameTrust(trustOf(state), verdict.trust);
    keep(verdict.trust, state);
    if (learnt && !writeState(state)) {
        finishCheck("no-state");
        return;
    }
    m_mirrors.manifest = verdict.manifest.mirrors;
    const ReleaseDecision::Decision decision =
            ReleaseDecision::decide(&verdict.manifest, situation(state, Policy::read(m_root).updates));
    log(QStringLiteral("checked the manifest, serial %1: %2").arg(verdict.manifest.serial).arg(decision.why));
    act(decision, "current");
}

ReleaseDecision::Situation Updater::situation(const InstallState::State &state,
                                              const Rollout::Policy &policy) const
{
    ReleaseDecision::Situation situation;
    situation.state = state;
    situation.ownVersion = m_ownVersion;
    situation.policy = policy;
    situation.platform = platform();
    bool told = false;
    const int level = qEnvironmentVariableIntValue("FENESTRA_GRAPHICS_LEVEL", &told);
    situation.graphicsLevel = told && level >= 0 && level <= 3 ? level : -1;
    const QString versions = filePath(InstallLayout::versionsFolder);
    for (const std::string &version : Installation::completeVersions(toStd(m_root))) {
        const QString name = fromStd(version);
        situation.onDisk.insert(name, PackageStager::stagedPackage(versions + QLatin1Char('/') + name));
    }
    return situation;
}

void Updater::act(const ReleaseDecision::Decision &decision, const char *settled)
{
    using Kind = ReleaseDecision::Decision::Kind;
    switch (decision.kind) {
    case Kind::Nothing:
        finishCheck(settled);
        return;
    case Kind::Withdraw: {
        InstallState::State state;
        if (readState(state) && fromStd(state.pending) == decision.version) {
            state.pending.clear();
            writeState(state);
        }
        finishCheck("withdrawn");
        return;
    }
    case Kind::MarkPending:
        staged(decision.version, PackageStager::Result());
        return;
    case Kind::Stage: {
        const std::chrono::milliseconds wait = CheckSchedule::spreadOut(
                std::chrono::milliseconds(0), std::chrono::milliseconds(m_channel.downloadSpreadMs),
                *QRandomGenerator::global());
        if (wait.count() > 0)
            log(QStringLiteral("fetches %1 in %2 s").arg(decision.version).arg(wait.count() / 1000));
        QTimer::singleShot(wait, this, [this, release = decision.release] { fetchRelease(release); });
        return;
    }
    }
}

void Updater::fetchRelease(const UpdateManifest::Release &release)
{
    m_downloadTook.start();
    const QString versions = filePath(InstallLayout::versionsFolder);
    const QString own = versions + QLatin1Char('/') + m_ownVersion;
    if (!release.files || !QFileInfo::exists(own + QLatin1Char('/') + PackageStager::markerName())) {
        download(release);
        return;
    }
    // Copying and hashing a version's files takes seconds: off the window's thread.
    auto result = std::make_shared<FileStager::Result>();
    // A patch that would crowd the desktop's memory is not worth the bytes it saves.
    const qint64 patchMemory =
            m_channel.patchMemory > 0 ? m_channel.patchMemory : ZstdPatch::availableMemory() / 4;
    QThread *thread =
            QThread::create([this, result, release, own, versions, mirrors = m_mirrors, patchMemory] {
                *result = FileStager::stage(release, own, versions, mirrors, patchMemory, &m_cancelStaging);
            });
    connect(thread, &QThread::finished, this, [this, thread, result, release] {
        thread->deleteLater();
        m_download.bytes += result->bytesFetched;
        if (!result->problem.isEmpty()) {
            log(QStringLiteral("could not fetch %1 by its files: %2; fetching its package")
                        .arg(release.version, result->problem));
            download(release);
            return;
        }
        m_download.result = "ok";
        m_download.via = "files";
        m_download.from = FetchPlaces::word(result->mostlyFrom());
        m_download.seconds = m_downloadTook.elapsed() / 1000;
        m_download.patched = result->filesPatched;
        log(QStringLiteral("fetched %1 by its files: %2 bytes fetched, %3 bytes copied, %4 files patched")
                    .arg(release.version)
                    .arg(result->bytesFetched)
                    .arg(result->bytesCopied)
                    .arg(result->filesPatched));
        // A package an earlier check began is no longer wanted.
        removeDownloads(QString());
        staged(release.version, PackageStager::Result());
    });
    m_staging = thread;
    thread->start(QThread::LowPriority);
}

void Updater::download(const UpdateManifest::Release &release)
{
    const QString downloads = filePath(InstallLayout::downloadsFolder);
    QDir().mkpath(downloads);
    const QString fileName = PackageFormat::fileName(release.version, platform()) + QStringLiteral(".part");
    // Only the wanted package's partial file is worth resuming.
    removeDownloads(fileName);
    const QString file = downloads + QLatin1Char('/') + fileName;
    const QString versions = filePath(InstallLayout::versionsFolder);
    auto *download = new PackageDownload(m_network, this);
    connect(download, &PackageDownload::skipped, this, [release](const QUrl &place, const QString &problem) {
        log(QStringLiteral("skipped %1 for the package of %2: %3")
                    .arg(place.toString(QUrl::RemoveQuery), release.version, problem));
    });
    connect(download, &PackageDownload::finished, this,
            [this, download, file, release, versions](const QString &problem) {
                download->deleteLater();
                m_download = { problem.isEmpty() ? "ok" : "failed", "package",
                               problem.isEmpty() ? FetchPlaces::word(download->from()) : nullptr,
                               m_download.bytes + download->bytesFetched(), m_downloadTook.elapsed() / 1000 };
                const QString target = release.version;
                if (!problem.isEmpty()) {
                    log(QStringLiteral("download of %1 failed: %2").arg(target, problem));
                    finishCheck("download-failed");
                    return;
                }
                log(QStringLiteral("downloaded %1 (%2 bytes)").arg(target).arg(release.size));
                // Unpacking takes seconds; the window stays responsive meanwhile.
                auto result = std::make_shared<PackageStager::Result>();
                QThread *thread =
                        QThread::create([this, result, file, versions, target, sha256 = release.sha256] {
                            *result = PackageStager::stage(file, versions, target, sha256, &m_cancelStaging);
                        });
                connect(thread, &QThread::finished, this, [this, thread, result, file, target] {
                    thread->deleteLater();
                    // A package that failed to unpack would fail again; one that met a
                    // full disk or a held file is kept for the next check.
                    if (result->problem.isEmpty() || result->packageAtFault)
                        QFile::remove(file);
                    staged(target, *result);
                });
                m_staging = thread;
                thread->start(QThread::LowPriority);
            });
    download->start(FetchPlaces::inOrder(m_mirrors, release.url.fileName(), release.url), file, release.size,
                    release.sha256);
}

void Updater::removeDownloads(const QString &kept) const
{
    const QString downloads = filePath(InstallLayout::downloadsFolder);
    for (const QString &name : QDir(downloads).entryList(QDir::Files)) {
        if (name != kept)
            QFile::remove(downloads + QLatin1Char('/') + name);
    }
}

void Updater::staged(const QString &version, const PackageStager::Result &result)
{
    if (!result.problem.isEmpty()) {
        if (result.packageAtFault)
            log(QStringLiteral("refused the package of %1: %2").arg(version, result.problem));
        else
            log(QStringLiteral("could not stage %1: %2; the package is kept for the next check")
                        .arg(version, result.problem));
        finishCheck("stage-failed");
        return;
    }
    InstallState::State state;
    if (!readState(state)) {
        finishCheck("no-state");
        return;
    }
    if (state.isBad(toStd(version))) {
        finishCheck("current");
        return;
    }
    state.pending = toStd(version);
    if (!writeState(state)) {
        finishCheck("no-state");
        return;
    }
    log(QStringLiteral("staged %1 for the next start").arg(version));
    Q_EMIT versionReady(version);
    finishCheck("staged");
}

void Updater::finishCheck(const char *result)
{
    InstallState::State state;
    if (readState(state)) {
        state.lastCheckAt = QDateTime::currentSecsSinceEpoch();
        state.lastCheckResult = result;
        if (m_download.result) {
            state.downloadResult = m_download.result;
            state.downloadVia = m_download.via;
            state.downloadFrom = m_download.from ? m_download.from : "";
            state.downloadBytes = m_download.bytes;
            state.downloadSeconds = m_download.seconds;
            state.downloadPatched = m_download.patched;
        }
        if (writeState(state))
            refreshStatus(state);
    }
    removeOldVersions();
    m_checking = false;
    // A check called from outside before the window was up sets no schedule.
    if (m_scheduled)
        scheduleCheck(m_retryAfter.value_or(std::chrono::milliseconds(m_channel.checkIntervalMs)));
    m_retryAfter.reset();
    Q_EMIT checkFinished();
}

void Updater::refreshStatus(const InstallState::State &state) const
{
    // Only a file the launcher wrote: a shell started without it has none.
    const std::string text = Installation::statusText(toStd(m_root));
    if (text.empty())
        return;
    Status::Facts facts = Status::readFacts(text);
    facts.state = state;
    if (!InstallState::replaceAtomically(Installation::statusPath(toStd(m_root)), Status::json(facts),
                                         InstallState::Durability::Cached))
        log(QStringLiteral("cannot write %1").arg(filePath(InstallLayout::statusFile)));
}

void Updater::scheduleCheck(std::chrono::milliseconds wait)
{
    m_checkTimer.start(
            std::max(CheckSchedule::spreadOut(wait, std::chrono::milliseconds(m_channel.checkSpreadMs),
                                              *QRandomGenerator::global()),
                     std::chrono::milliseconds(1)));
}

void Updater::removeOldVersions()
{
    InstallState::State state;
    if (!readState(state))
        return;
    const QStringList kept = { fromStd(state.current), fromStd(state.previous),  fromStd(state.pending),
                               fromStd(state.trial),   fromStd(state.installed), m_ownVersion };
    const QString versions = filePath(InstallLayout::versionsFolder);
    const QString stagingSuffix = QString::fromLatin1(InstallLayout::stagingSuffix);
    for (const QString &name : QDir(versions).entryList(QDir::Dirs | QDir::NoDotAndDotDot | QDir::Hidden)) {
        const bool staging = name.endsWith(stagingSuffix);
        const QString version = staging ? name.chopped(stagingSuffix.size()) : name;
        if (!InstallState::isValidVersion(toStd(version)) || (!staging && kept.contains(version)))
            continue;
        if (PackageStager::removeVersionFolder(versions + QLatin1Char('/') + name))
            log(QStringLiteral("removed %1").arg(name));
    }
}
