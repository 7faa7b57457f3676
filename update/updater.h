#pragma once

#include "update/fetchplaces.h"
#include "update/packagestager.h"
#include "update/releasedecision.h"

#include <QElapsedTimer>
#include <QObject>
#include <QPointer>
#include <QStringList>
#include <QTimer>
#include <QUrl>

#include <atomic>
#include <chrono>
#include <optional>

class BoundedFetch;
class QNetworkAccessManager;
class QThread;
class QWindow;

// The shell's side of updates, in an installation the launcher starts: at the
// window's first frame it leaves the mark the launcher judges a start by; once
// the window is up it reports a version on trial healthy, then fetches the
// signed manifest, and stages the release this desktop should take for the
// next start. Again every few hours; every step gets one log line.
class Updater : public QObject
{
    Q_OBJECT

public:
    struct Channel
    {
        QUrl manifest; // empty: updates off
        QStringList keys;
        int healthyDelayMs = 30000;
        int checkIntervalMs = 4 * 60 * 60 * 1000;
        // The most a check waits at random beyond its time.
        int checkSpreadMs = checkIntervalMs / 5;
        // The most a desktop that takes a release waits at random before it
        // fetches it, so that the first of a plant fill its cache for the rest.
        int downloadSpreadMs = 0;
        // The most memory a patch of a big file may take (the old file and the
        // decoder's window); 0: a quarter of what the desktop has free.
        qint64 patchMemory = 0;
    };

    // The manifest and its signature: at most 64 KiB each, given up after 30 s
    // without data and after 60 s in all.
    static constexpr int manifestStallMs = 30 * 1000;
    static constexpr int manifestTotalMs = 60 * 1000;

    // `root` is the installation's root, `ownVersion` the version folder this
    // shell runs from; a shell outside an installation (empty) never updates.
    Updater(const Channel &channel, const QString &root, const QString &ownVersion,
            QObject *parent = nullptr);
    // Stops an unpacking release at once: a quit never waits for it.
    ~Updater() override;

    // The channel built into this executable.
    static Channel builtInChannel();

    // Starts the health report and the checks once `window` has shown its first frame.
    void startWhenShown(QWindow *window);

    // One check of the channel now; checkFinished() follows.
    void check();

    // windows-x86_64 or linux-x86_64.
    static QString platform();

Q_SIGNALS:
    // A staged version starts at the next start.
    void versionReady(const QString &version);
    void checkFinished();

private:
    void started();
    void reportHealthy();
    void fetched();
    // `settled` is how the check ended when there is nothing to fetch.
    void act(const ReleaseDecision::Decision &decision, const char *settled);
    // Fetches the release by the files that changed when it has a file list
    // and this version's folder is whole, else (or when that fails) by its package.
    void fetchRelease(const UpdateManifest::Release &release);
    void download(const UpdateManifest::Release &release);
    // Removes the partial packages in update/downloads but `kept`.
    void removeDownloads(const QString &kept) const;
    void staged(const QString &version, const PackageStager::Result &result);
    // `result` is how the check ended, kept in the state for the next report
    // and IT's status file: a word InstallState::isResultWord() takes.
    void finishCheck(const char *result);
    void scheduleCheck(std::chrono::milliseconds wait);
    // IT's status file tells the check at once, not only at the launcher's next write.
    void refreshStatus(const InstallState::State &state) const;
    void removeOldVersions();
    ReleaseDecision::Situation situation(const InstallState::State &state,
                                         const Rollout::Policy &policy) const;
    QString filePath(const char *relative) const;
    bool readState(InstallState::State &state) const;
    bool writeState(const InstallState::State &state) const;

    const Channel m_channel;
    const QString m_root;
    const QString m_ownVersion;
    QNetworkAccessManager *m_network = nullptr; // made with the first check
    QPointer<BoundedFetch> m_manifestFetch;
    QPointer<BoundedFetch> m_signatureFetch;
    QPointer<QThread> m_staging; // unpacks off the window's thread
    std::atomic_bool m_cancelStaging { false };
    QTimer m_checkTimer; // set again after each check, once the window is up
    bool m_scheduled = false;
    bool m_checking = false;
    // What the channel's Retry-After asked of the next check, if anything.
    std::optional<std::chrono::milliseconds> m_retryAfter;
    // IT's and this check's manifest's, asked before the channel.
    FetchPlaces::Mirrors m_mirrors;
    // How this check's download went, kept with its result.
    struct Download
    {
        const char *result = nullptr; // none this check
        const char *via = nullptr; // "files" or "package"
        const char *from = nullptr; // FetchPlaces::word() of the place that gave most
        qint64 bytes = 0; // the file list's and files' too when the package followed them
        qint64 seconds = 0;
        int patched = 0; // files made from a patch, when by files
    } m_download;
    QElapsedTimer m_downloadTook;
};
