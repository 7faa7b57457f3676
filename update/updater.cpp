#include "update/updater.h"

#include "config/deployment.h"
#include "launcher/installstate.h"
#include "update/packagedownload.h"
#include "update/packagestager.h"
#include "update/rollout.h"

#include <QDebug>
#include <QDir>
#include <QFileInfo>
#include <QNetworkAccessManager>
#include <QNetworkProxyFactory>
#include <QNetworkReply>
#include <QQuickWindow>
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
    qDebug().noquote() << QStringLiteral("update: ") + line;
}

// The proxy the system names, for this program's own requests only: the rest
// of the shell keeps its connections as they are.
class SystemProxyFactory : public QNetworkProxyFactory
{
public:
    QList<QNetworkProxy> queryProxy(const QNetworkProxyQuery &query) override
    {
        return systemProxyForQuery(query);
    }
};

} // namespace

Updater::Updater(const Channel &channel, const QString &root, const QString &ownVersion, QObject *parent)
    : QObject(parent), m_channel(channel), m_root(root), m_ownVersion(ownVersion)
{
    m_checkTimer.setInterval(m_channel.checkIntervalMs);
    connect(&m_checkTimer, &QTimer::timeout, this, &Updater::check);
}

Updater::~Updater()
{
    // A window closed while a release unpacks waits for it; a process killed
    // meanwhile leaves a staging folder that the next check removes.
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

QString Updater::statePath() const
{
    return m_root + QStringLiteral("/update/state.ini");
}

void Updater::started()
{
    InstallState::State state;
    InstallState::read(toStd(statePath()), state);
    log(QStringLiteral("running %1").arg(m_ownVersion));
    if (fromStd(state.trial) == m_ownVersion)
        QTimer::singleShot(m_channel.healthyDelayMs, this, &Updater::reportHealthy);
    // A version on trial first proves itself before it stages another.
    QTimer::singleShot(m_channel.healthyDelayMs, this, &Updater::check);
    m_checkTimer.start();
}

void Updater::reportHealthy()
{
    InstallState::State state;
    InstallState::read(toStd(statePath()), state);
    if (fromStd(state.trial) != m_ownVersion)
        return;
    if (state.current != state.trial)
        state.previous = state.current;
    state.current = state.trial;
    state.trial.clear();
    state.trialStarts = 0;
    if (!InstallState::write(toStd(statePath()), state)) {
        log(QStringLiteral("cannot write %1").arg(statePath()));
        return;
    }
    log(QStringLiteral("healthy %1").arg(m_ownVersion));
    if (!m_checking)
        removeOldVersions();
}

QNetworkReply *Updater::get(const QUrl &url)
{
    QNetworkRequest request(url);
    request.setTransferTimeout(30 * 1000);
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute, QNetworkRequest::NoLessSafeRedirectPolicy);
    QNetworkReply *reply = m_network->get(request);
    // Bounded: a larger answer is cut off and then refused.
    connect(reply, &QNetworkReply::downloadProgress, reply, [reply](qint64 received, qint64) {
        if (received > UpdateManifest::maxSize) {
            reply->setProperty("tooLarge", true);
            reply->abort();
        }
    });
    // And bounded in time as a whole, however slowly it trickles.
    QTimer::singleShot(60 * 1000, reply, &QNetworkReply::abort);
    connect(reply, &QNetworkReply::finished, this, &Updater::fetched);
    return reply;
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
    if (!Rollout::readPolicy(m_root + QStringLiteral("/update-policy.ini")).enabled) {
        log(QStringLiteral("turned off by update-policy.ini"));
        finishCheck();
        return;
    }
    if (!m_network) {
        m_network = new QNetworkAccessManager(this);
        m_network->setProxyFactory(new SystemProxyFactory);
    }
    m_manifestReply = get(m_channel.manifest);
    m_signatureReply = get(QUrl(m_channel.manifest.toString() + QStringLiteral(".minisig")));
}

void Updater::fetched()
{
    if (!m_manifestReply || !m_signatureReply || !m_manifestReply->isFinished()
        || !m_signatureReply->isFinished())
        return;
    QNetworkReply *manifestReply = m_manifestReply;
    QNetworkReply *signatureReply = m_signatureReply;
    manifestReply->deleteLater();
    signatureReply->deleteLater();
    m_manifestReply = nullptr;
    m_signatureReply = nullptr;
    if (manifestReply->property("tooLarge").toBool() || signatureReply->property("tooLarge").toBool()) {
        log(QStringLiteral("refused the manifest: over 64 KiB"));
        finishCheck();
        return;
    }
    for (QNetworkReply *reply : { manifestReply, signatureReply }) {
        if (reply->error() != QNetworkReply::NoError) {
            log(QStringLiteral("channel unreachable: %1: %2")
                        .arg(reply->url().toString(), reply->errorString()));
            finishCheck();
            return;
        }
    }
    InstallState::State state;
    InstallState::read(toStd(statePath()), state);
    const ManifestCheck verdict =
            checkManifest(manifestReply->readAll(), signatureReply->readAll(), m_channel.keys, state.serial,
                          QDateTime::currentDateTimeUtc());
    if (!verdict.refusal.isEmpty()) {
        log(QStringLiteral("refused the manifest: %1").arg(verdict.refusal));
        finishCheck();
        return;
    }
    take(verdict.manifest);
}

void Updater::take(const UpdateManifest &manifest)
{
    InstallState::State state;
    InstallState::read(toStd(statePath()), state);
    QStringList bad;
    for (const std::string &version : state.bad)
        bad << fromStd(version);
    const Rollout::Policy policy = Rollout::readPolicy(m_root + QStringLiteral("/update-policy.ini"));
    const QString target = Rollout::target(manifest, fromStd(state.installationId), policy, bad, platform());
    // One line when nothing is to be done.
    const QString checked = QStringLiteral("checked the manifest, serial %1: ").arg(manifest.serial);
    // A replayed older manifest is refused from now on.
    if (manifest.serial > state.serial) {
        state.serial = manifest.serial;
        if (!InstallState::write(toStd(statePath()), state))
            log(QStringLiteral("cannot write %1").arg(statePath()));
    }
    const QString versions = m_root + QStringLiteral("/versions");
    const QString pending = fromStd(state.pending);
    if (target.isEmpty() || target == m_ownVersion || target == fromStd(state.current)
        || target == fromStd(state.trial)) {
        // A release pulled before it was started is not started.
        if (!pending.isEmpty() && pending != target) {
            state.pending.clear();
            log(checked + QStringLiteral("withdrew %1").arg(pending));
        } else {
            log(checked + QStringLiteral("nothing new"));
        }
        if (state.pending.empty() != pending.isEmpty() && !InstallState::write(toStd(statePath()), state))
            log(QStringLiteral("cannot write %1").arg(statePath()));
        finishCheck();
        return;
    }
    if (QFileInfo::exists(versions + QLatin1Char('/') + target + QLatin1Char('/')
                          + PackageStager::markerName())) {
        if (target == pending) {
            log(checked + QStringLiteral("nothing new"));
            finishCheck();
            return;
        }
        staged(target, QString());
        return;
    }
    log(checked + target);
    const UpdateManifest::Release release = *manifest.release(target, platform());
    const QString downloads = m_root + QStringLiteral("/update/downloads");
    QDir().mkpath(downloads);
    const QString fileName = QStringLiteral("fenestra-%1-%2.tar.gz.part").arg(target, platform());
    // Only the wanted package's partial file is worth resuming.
    for (const QString &old : QDir(downloads).entryList(QDir::Files)) {
        if (old != fileName)
            QFile::remove(downloads + QLatin1Char('/') + old);
    }
    const QString file = downloads + QLatin1Char('/') + fileName;
    auto *download = new PackageDownload(m_network, this);
    connect(download, &PackageDownload::finished, this,
            [this, download, file, target, release, versions](const QString &problem) {
                download->deleteLater();
                if (!problem.isEmpty()) {
                    log(QStringLiteral("download of %1 failed: %2").arg(target, problem));
                    finishCheck();
                    return;
                }
                log(QStringLiteral("downloaded %1 (%2 bytes)").arg(target).arg(release.size));
                // Unpacking takes seconds; the window stays responsive meanwhile.
                auto *result = new QString;
                QThread *thread = QThread::create([result, file, versions, target] {
                    *result = PackageStager::stage(file, versions, target);
                });
                connect(thread, &QThread::finished, this, [this, thread, result, file, target] {
                    const QString problem = *result;
                    delete result;
                    thread->deleteLater();
                    // A package that failed to unpack would fail again.
                    QFile::remove(file);
                    staged(target, problem);
                });
                m_staging = thread;
                thread->start(QThread::LowPriority);
            });
    download->start(release.url, file, release.size, release.sha256);
}

void Updater::staged(const QString &version, const QString &problem)
{
    if (!problem.isEmpty()) {
        log(QStringLiteral("refused the package of %1: %2").arg(version, problem));
        finishCheck();
        return;
    }
    InstallState::State state;
    InstallState::read(toStd(statePath()), state);
    if (state.isBad(toStd(version))) {
        finishCheck();
        return;
    }
    state.pending = toStd(version);
    if (!InstallState::write(toStd(statePath()), state)) {
        log(QStringLiteral("cannot write %1").arg(statePath()));
        finishCheck();
        return;
    }
    log(QStringLiteral("staged %1 for the next start").arg(version));
    Q_EMIT versionReady(version);
    finishCheck();
}

void Updater::finishCheck()
{
    removeOldVersions();
    m_checking = false;
    Q_EMIT checkFinished();
}

void Updater::removeOldVersions()
{
    InstallState::State state;
    if (InstallState::read(toStd(statePath()), state) != InstallState::ReadResult::Read)
        return;
    const QStringList kept = { fromStd(state.current), fromStd(state.previous), fromStd(state.pending),
                               fromStd(state.trial), m_ownVersion };
    const QString versions = m_root + QStringLiteral("/versions");
    for (const QString &name : QDir(versions).entryList(QDir::Dirs | QDir::NoDotAndDotDot | QDir::Hidden)) {
        const bool staging = name.endsWith(QLatin1String(".staging"));
        const QString version = staging ? name.chopped(8) : name;
        if (!InstallState::isValidVersion(toStd(version)) || (!staging && kept.contains(version)))
            continue;
        if (PackageStager::removeVersionFolder(versions + QLatin1Char('/') + name))
            log(QStringLiteral("removed %1").arg(name));
    }
}
