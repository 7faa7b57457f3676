#include "bridge/menuopt.h"

#include "bridge/profilecookiejar.h"
#include "config/appdir.h"
#include "config/logging.h"
#include "net/boundedfetch.h"
#include "net/networkaccess.h"

#include <QClipboard>
#include <QDesktopServices>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QGuiApplication>
#include <QImage>
#include <QNetworkAccessManager>
#include <QNetworkRequest>
#include <QPixmap>
#include <QQuickWebEngineProfile>
#include <QUrl>

MenuOpt *MenuOpt::getInstance()
{
    // A function-local static is initialised once, also under concurrent first calls.
    static MenuOpt *const instance = new MenuOpt;
    return instance;
}

MenuOpt::MenuOpt(QObject *parent) : QObject(parent), manager(NetworkAccess::create(this)) { }

void MenuOpt::useCookiesOf(QObject *profile)
{
    if (auto *webProfile = qobject_cast<QQuickWebEngineProfile *>(profile))
        manager->setCookieJar(new ProfileCookieJar(webProfile, manager));
}

void MenuOpt::copyText(const QString &text)
{
    QGuiApplication::clipboard()->setText(text, QClipboard::Clipboard);
}

void MenuOpt::copyImage(const QString &imageUrl)
{
    downloadImage(imageUrl, Action::Copy);
}

void MenuOpt::saveImage(const QString &imageUrl)
{
    downloadImage(imageUrl, Action::Save);
}

void MenuOpt::downloadImage(const QString &imageUrl, Action action)
{
    for (const Download &download : std::as_const(downloads)) {
        if (download.imageUrl == imageUrl) {
            qCDebug(lcBridge).noquote() << "The same image is being downloaded. Please try again later!";
            return;
        }
    }

    // An endless body (a camera stream shown as a picture) would fill the memory,
    // and a stalled one would keep its address refused for good.
    auto *fetch = new BoundedFetch(manager, QNetworkRequest(QUrl(imageUrl, QUrl::TolerantMode)),
                                   { maxImageSize, {}, transferTimeLimit }, {}, this);
    downloads.insert(fetch, Download { imageUrl, action });
    connect(fetch, &BoundedFetch::finished, this, [this, fetch] { onFetchFinished(fetch); });
}

void MenuOpt::onFetchFinished(BoundedFetch *fetch)
{
    const Download download = downloads.take(fetch);
    if (fetch->outcome() == BoundedFetch::Outcome::TooLarge)
        qCDebug(lcBridge).noquote() << "Image download stopped: larger than 64 MiB:"
                                    << fetch->url().toString();
    else if (fetch->outcome() == BoundedFetch::Outcome::TimedOut)
        qCDebug(lcBridge).noquote() << QStringLiteral("Image download stopped: not complete after %1 ms:")
                                               .arg(transferTimeLimit.count())
                                    << fetch->url().toString();
    else if (fetch->succeeded())
        deliver(QImage::fromData(fetch->body()), download.action);
    // Released only now: a save dialog's nested event loop would otherwise delete
    // the fetch while it is still announcing its end.
    fetch->deleteLater();
}

void MenuOpt::deliver(const QImage &image, Action action)
{
    if (image.isNull())
        return;
    qCDebug(lcBridge).noquote() << "Image downloaded successfully!";

    switch (action) {
    case Action::Copy:
        QGuiApplication::clipboard()->setPixmap(QPixmap::fromImage(image), QClipboard::Clipboard);
        qCDebug(lcBridge).noquote() << "The image has been copied to the clipboard!";
        break;
    case Action::Save:
        saveToFile(image);
        break;
    }
}

void MenuOpt::saveToFile(const QImage &image)
{
    QString folder = AppDir::filePath(QStringLiteral("下载"));
    if (!QDir().mkpath(folder))
        folder = QDir::homePath();

    // The dialog waits in a nested event loop; other downloads may finish meanwhile,
    // which is why the picture is held here rather than in the object.
    const QString path = QFileDialog::getSaveFileName(
            nullptr, QStringLiteral("保存图片"), QDir(folder).absoluteFilePath(QStringLiteral("image.png")),
            QStringLiteral("Images (*.png *.jpg *.bmp)"));
    if (path.isEmpty())
        return;

    const QString format = QFileInfo(path).suffix().toLower();
    if (format != QLatin1String("png") && format != QLatin1String("jpg") && format != QLatin1String("bmp"))
        return;
    if (!image.save(path, format.toLatin1().constData()))
        return;

    qCDebug(lcBridge).noquote() << "The image has been saved to:" << path;
    QDesktopServices::openUrl(QUrl::fromLocalFile(QFileInfo(path).absolutePath()));
}
