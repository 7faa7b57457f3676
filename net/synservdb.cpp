#include "net/synservdb.h"

#include "config/appdir.h"
#include "config/logging.h"
#include "net/filename.h"
#include "net/replywait.h"

#include <QDir>
#include <QFileInfo>
#include <QFontDatabase>
#include <QFontMetrics>
#include <QNetworkRequest>
#include <QProgressDialog>

#include <algorithm>
#include <climits>

namespace {
// What the network may read ahead of the disk. Without a bound a server faster
// than the disk fills memory with the whole file. Small enough that each piece
// is still in the processor's cache when it is written: at 4 MiB the download
// ran at 0.6-0.97x curl's speed, at 512 KiB at 1.2-1.3x.
constexpr qint64 readAheadBytes = 512 * 1024;
// The progress window repaints at most this often; repainting at every report
// of a fast transfer costs more than the transfer itself.
constexpr qint64 reportIntervalMs = 100;
} // namespace

SynServDb::SynServDb(const QString &fileName) : fileName(fileName)
{
    qRegisterMetaType<QNetworkReply::NetworkError>("QNetworkReply::NetworkError");
}

SynServDb::~SynServDb()
{
    delete progressDialog;
}

QString SynServDb::speedTitle(qint64 bytesRead, qint64 elapsedMs)
{
    // Bytes per millisecond are kilobytes per second.
    const qint64 speed = bytesRead / std::max<qint64>(elapsedMs, 1);
    return QStringLiteral("速度：%1").arg(speed) + QStringLiteral("KB/sec");
}

int SynServDb::progressWindowWidth(const QFont &titleFont)
{
    // Some window managers draw titles bold; the speed takes six digits up to 1 GB/s.
    QFont font = titleFont;
    font.setBold(true);
    const QFontMetrics metrics(font);
    const int title = metrics.horizontalAdvance(speedTitle(123456, 1));
    // The icon and three buttons of a title bar are each about two lines wide.
    return title + 8 * metrics.height();
}

std::pair<int, int> SynServDb::progressValues(qint64 bytesRead, qint64 totalBytes)
{
    int shift = 0;
    while ((std::max(bytesRead, totalBytes) >> shift) > INT_MAX)
        ++shift;
    return { int(bytesRead >> shift), totalBytes < 0 ? 0 : int(totalBytes >> shift) };
}

QString SynServDb::outermostMissingFolder(const QString &folder,
                                          const std::function<bool(const QString &)> &exists)
{
    QString outermost;
    // The top of a path is its own parent: "Q:/" stays "Q:/" when drive Q is missing.
    for (QString missing = folder; !exists(missing); missing = QFileInfo(missing).path()) {
        if (missing == outermost)
            break;
        outermost = missing;
    }
    return outermost;
}

QString SynServDb::download(const QString &fUrl, const QString &dstDir, const QString &callback)
{
    if (!isPortableFileName(fileName)) {
        qCDebug(lcNet) << "downloadFile refused: Windows cannot store the name" << fileName;
        return {};
    }

    const QString folder = QDir::cleanPath(QDir::fromNativeSeparators(
            AppDir::filePath(dstDir.isEmpty() ? QStringLiteral("server/www/src") : dstDir)));
    const QString target = QDir(folder).filePath(fileName);
    firstMadeFolder =
            outermostMissingFolder(folder, [](const QString &path) { return QFileInfo::exists(path); });
    if (!QDir().mkpath(folder)) {
        removeMadeFolders(folder);
        return {};
    }
    file.setFileName(target);
    if (!file.open(QIODevice::WriteOnly)) {
        removeMadeFolders(folder);
        return {};
    }

    reply = manager.get(QNetworkRequest(QUrl(fUrl, QUrl::TolerantMode)));
    reply->setReadBufferSize(readAheadBytes);
    connect(reply, &QNetworkReply::errorOccurred, this, &SynServDb::netError);
    connect(reply, &QNetworkReply::readyRead, this, &SynServDb::writeArrivedData);
    connect(reply, &QNetworkReply::downloadProgress, this, &SynServDb::updateDataReadProgress);

    progressDialog = new QProgressDialog(nullptr, Qt::Tool | Qt::WindowStaysOnTopHint);
    progressDialog->setWindowTitle(QStringLiteral("下载服务器数据"));
    // Without a known length the maximum is 0; an automatic reset would close
    // the window at the first report.
    progressDialog->setAutoReset(false);
    // The default width cuts the speed off the title.
    progressDialog->setMinimumWidth(progressWindowWidth(QFontDatabase::systemFont(QFontDatabase::TitleFont)));
    connect(progressDialog, &QProgressDialog::canceled, this, &SynServDb::cancelTransfer);
    progressDialog->show();

    cancelled = false;
    lastReportMs = -1;
    timer.start();
    waitUntilFinished(reply);

    if (cancelled) {
        discardFile();
        removeMadeFolders(folder);
        return {};
    }
    closeProgressDialog();
    if (hasError) {
        discardFile();
        removeMadeFolders(folder);
        return {};
    }
    writeArrivedData();
    if (!file.commit()) {
        removeMadeFolders(folder);
        return {};
    }

    if (!callback.isEmpty()) {
        reply = manager.get(QNetworkRequest(QUrl(callback, QUrl::TolerantMode)));
        waitUntilFinished(reply);
    }
    return target;
}

void SynServDb::netError(QNetworkReply::NetworkError err)
{
    Q_UNUSED(err)
    hasError = true;
}

void SynServDb::cancelTransfer()
{
    cancelled = true;
    if (reply)
        reply->abort();
    if (progressDialog) {
        progressDialog->hide();
        // We are inside the dialog's own signal.
        progressDialog->deleteLater();
        progressDialog = nullptr;
    }
}

void SynServDb::updateDataReadProgress(qint64 bytesRead, qint64 totalBytes)
{
    if (cancelled || !progressDialog)
        return;
    const qint64 now = timer.elapsed();
    if (lastReportMs >= 0 && now - lastReportMs < reportIntervalMs && bytesRead != totalBytes)
        return;
    lastReportMs = now;
    const auto [value, maximum] = progressValues(bytesRead, totalBytes);
    progressDialog->setMaximum(maximum);
    progressDialog->setValue(value);
    progressDialog->setWindowTitle(speedTitle(bytesRead, now));
}

// The body goes to disk as it arrives, so that large files never sit in memory.
void SynServDb::writeArrivedData()
{
    if (hasError)
        return;
    const QByteArray data = reply->readAll();
    if (file.write(data) != data.size()) {
        hasError = true;
        reply->abort();
    }
}

// Removes the temporary file at once instead of when the object goes.
void SynServDb::discardFile()
{
    file.cancelWriting();
    file.commit();
}

void SynServDb::removeMadeFolders(const QString &folder)
{
    if (firstMadeFolder.isEmpty())
        return;
    QString made = folder;
    while (made.size() >= firstMadeFolder.size() && QDir().rmdir(made)) {
        const QString parent = QFileInfo(made).path();
        if (parent == made)
            return;
        made = parent;
    }
}

void SynServDb::closeProgressDialog()
{
    if (!progressDialog)
        return;
    progressDialog->hide();
    delete progressDialog;
    progressDialog = nullptr;
}
