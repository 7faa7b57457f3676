#pragma once

#include <QHash>
#include <QObject>

class QImage;
class QNetworkAccessManager;
class QNetworkReply;

// Carries out the page context menu's entries that need the desktop: copying
// texts and pictures to the clipboard and saving pictures to files.
//
// Pictures are fetched again from their address with a network manager of the
// object's own, so nothing is shared with the pages' profile.
class MenuOpt : public QObject
{
    Q_OBJECT

public:
    static MenuOpt *getInstance();

    explicit MenuOpt(QObject *parent = nullptr);

    // Puts `text` on the clipboard as plain text.
    Q_INVOKABLE void copyText(const QString &text);
    // Fetches the picture at `imageUrl` and puts it on the clipboard.
    Q_INVOKABLE void copyImage(const QString &imageUrl);
    // Fetches the picture at `imageUrl` and saves it where the user chooses.
    Q_INVOKABLE void saveImage(const QString &imageUrl);

private:
    enum class Action { Copy, Save };

    // What a download in flight was started for. Every reply carries its own,
    // so downloads of different pictures may overlap without mixing.
    struct Download
    {
        QString imageUrl;
        Action action;
    };

    void downloadImage(const QString &imageUrl, Action action);
    void onReplyFinished(QNetworkReply *reply);
    // Copies or saves a downloaded picture; a body that is no picture is dropped.
    void deliver(const QImage &image, Action action);
    void saveToFile(const QImage &image);

    QNetworkAccessManager *const manager;
    QHash<QNetworkReply *, Download> downloads;
};
