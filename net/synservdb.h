#pragma once

#include <QElapsedTimer>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QObject>
#include <QSaveFile>
#include <QString>

#include <functional>
#include <utility>

class QFont;
class QProgressDialog;

// Downloads one server file into a folder below the application directory while
// a small progress window shows the speed, then optionally requests a callback
// address. download() blocks in a local event loop, so the window stays usable
// and further downloads can run inside the wait. Each object serves one download.
class SynServDb : public QObject
{
    Q_OBJECT

public:
    explicit SynServDb(const QString &fileName);
    ~SynServDb() override;

    // Fetches `fUrl` into `dstDir` (relative to the application directory;
    // "server/www/src" when empty) under the file name given at construction.
    // The body goes to a temporary file beside the target that replaces it only
    // once the transfer has succeeded. Returns the stored file's path, or the
    // empty text when the name is unusable (isPortableFileName(), checked before
    // any request), the transfer failed or was
    // cancelled, or the file could not be stored; `callback` is requested only
    // after a stored file. Folders made for a download that fails are removed.
    QString download(const QString &fUrl, const QString &dstDir, const QString &callback);

    // The window title for `bytesRead` bytes after `elapsedMs` milliseconds.
    static QString speedTitle(qint64 bytesRead, qint64 elapsedMs);

    // The progress window's width, enough for its longest title ("速度：123456KB/sec")
    // in `titleFont` beside the icon and buttons of a usual title bar.
    static int progressWindowWidth(const QFont &titleFont);

    // The progress bar's value and maximum for `bytesRead` of `totalBytes`,
    // scaled down together when either leaves the bar's int range. An unknown
    // total (-1) gives the maximum 0, which makes the bar a busy indicator.
    static std::pair<int, int> progressValues(qint64 bytesRead, qint64 totalBytes);

    // The outermost of `folder` and the folders above it that `exists` calls
    // missing, up to the first that exists: the first folder a download makes.
    // Empty when `folder` exists. Ends at the top of the path (a drive, a share,
    // "/"), which is missing too for a drive or a server that is not there.
    static QString outermostMissingFolder(const QString &folder,
                                          const std::function<bool(const QString &)> &exists);

private Q_SLOTS:
    void netError(QNetworkReply::NetworkError err);
    void cancelTransfer();
    void updateDataReadProgress(qint64 bytesRead, qint64 totalBytes);

private:
    void writeArrivedData();
    void discardFile();
    // Removes the folders this download made, deepest first, as far as they are empty.
    void removeMadeFolders(const QString &folder);
    void closeProgressDialog();

    QNetworkAccessManager manager; // owns the replies
    const QString fileName;
    QNetworkReply *reply = nullptr;
    QProgressDialog *progressDialog = nullptr;
    bool cancelled = false;
    QElapsedTimer timer;
    // Time of the last repaint of the progress window; -1 before the first report.
    qint64 lastReportMs = -1;
    bool hasError = false;
    QSaveFile file;
    QString firstMadeFolder; // the outermost folder this download made; empty: none
};
