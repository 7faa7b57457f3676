#pragma once

#include <QHash>
#include <QObject>

#include <chrono>

class QImage;
class QNetworkAccessManager;
class BoundedFetch;

// Carries out the page context menu's entries that need the desktop: copying
// texts and pictures to the clipboard and saving pictures to files.
//
// Pictures are fetched again from their address with a network manager of the
// object's own. Its cookie jar follows the pages' profile (useCookiesOf()), so
// that a picture the page shows only to a logged-in user can be copied and
// saved; nothing else is shared with the profile. A picture may hold at most
// 64 MiB and must arrive within a time limit; one that is refused or given up
// releases its address at once, so the user can try again.
class MenuOpt : public QObject
{
    Q_OBJECT

public:
    static MenuOpt *getInstance();

    explicit MenuOpt(QObject *parent = nullptr);

    // Keeps the manager's cookies those of `profile` (a WebEngineProfile), also
    // those it kept from an earlier start.
    Q_INVOKABLE void useCookiesOf(QObject *profile);

    // Puts `text` on the clipboard as plain text.
    Q_INVOKABLE void copyText(const QString &text);
    // Fetches the picture at `imageUrl` and puts it on the clipboard.
    Q_INVOKABLE void copyImage(const QString &imageUrl);
    // Fetches the picture at `imageUrl` and saves it where the user chooses.
    Q_INVOKABLE void saveImage(const QString &imageUrl);

    static constexpr qint64 maxImageSize = 64 * 1024 * 1024;
    // How long a picture may take from request to its last byte (one minute
    // unless changed).
    void setTransferTimeLimit(std::chrono::milliseconds limit) { transferTimeLimit = limit; }

private:
    enum class Action { Copy, Save };

    // What a download in flight was started for. Every fetch carries its own,
    // so downloads of different pictures may overlap without mixing.
    struct Download
    {
        QString imageUrl;
        Action action;
    };

    void downloadImage(const QString &imageUrl, Action action);
    void onFetchFinished(BoundedFetch *fetch);
    // Copies or saves a downloaded picture; a body that is no picture is dropped.
    void deliver(const QImage &image, Action action);
    void saveToFile(const QImage &image);

    QNetworkAccessManager *const manager;
    std::chrono::milliseconds transferTimeLimit { std::chrono::minutes(1) };
    QHash<BoundedFetch *, Download> downloads;
};
