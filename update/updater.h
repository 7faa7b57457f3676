#pragma once

#include "update/updatemanifest.h"

#include <QObject>
#include <QPointer>
#include <QStringList>
#include <QTimer>
#include <QUrl>

class QNetworkAccessManager;
class QNetworkReply;
class QThread;
class QWindow;

// The shell's side of updates, in an installation the launcher starts: once the
// window is up it reports a version on trial healthy, then fetches the signed
// manifest, and stages the release this desktop should take for the next start.
// Again every few hours; every step gets one log line.
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
    };

    // `root` is the installation's root, `ownVersion` the version folder this
    // shell runs from; a shell outside an installation (empty) never updates.
    Updater(const Channel &channel, const QString &root, const QString &ownVersion,
            QObject *parent = nullptr);
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
    void take(const UpdateManifest &manifest);
    void staged(const QString &version, const QString &problem);
    void finishCheck();
    void removeOldVersions();
    QString statePath() const;
    QNetworkReply *get(const QUrl &url);

    const Channel m_channel;
    const QString m_root;
    const QString m_ownVersion;
    QNetworkAccessManager *m_network = nullptr; // made with the first check
    QPointer<QNetworkReply> m_manifestReply;
    QPointer<QNetworkReply> m_signatureReply;
    QPointer<QThread> m_staging; // unpacks off the window's thread
    QTimer m_checkTimer;
    bool m_checking = false;
};
