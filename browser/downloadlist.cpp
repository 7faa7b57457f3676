#include "browser/downloadlist.h"

#include "net/filename.h"

#include <QDesktopServices>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>
#include <QUrl>
#include <QWebEngineDownloadRequest>

#include <utility>

DownloadList::DownloadList(QObject *parent) : QAbstractListModel(parent) { }

DownloadList::~DownloadList()
{
    for (const Entry &entry : std::as_const(m_entries)) {
        if (entry.request)
            entry.request->disconnect(this);
    }
}

QString DownloadList::folder()
{
    return QStandardPaths::writableLocation(QStandardPaths::DownloadLocation);
}

QString DownloadList::uniqueFileName(const QString &folder, const QString &suggested,
                                     const QStringList &taken)
{
    const QString name = portableFileName(suggested, QStringLiteral("download"));
    int dot = name.lastIndexOf(QLatin1Char('.'));
    if (dot > 0 && name.left(dot).endsWith(QLatin1String(".tar"), Qt::CaseInsensitive))
        dot -= 4;
    const QString stem = dot > 0 ? name.left(dot) : name;
    const QString extension = dot > 0 ? name.mid(dot) : QString();

    const QDir dir(folder);
    QString candidate = name;
    for (int n = 1; dir.exists(candidate) || taken.contains(candidate, Qt::CaseInsensitive); ++n)
        candidate = QStringLiteral("%1 (%2)%3").arg(stem).arg(n).arg(extension);
    return candidate;
}

int DownloadList::activeCount() const
{
    return int(std::count_if(m_entries.cbegin(), m_entries.cend(),
                             [](const Entry &entry) { return entry.state == Downloading; }));
}

int DownloadList::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : m_entries.size();
}

QVariant DownloadList::data(const QModelIndex &index, int role) const
{
    if (!checkIndex(index, CheckIndexOption::IndexIsValid | CheckIndexOption::ParentIsInvalid))
        return {};
    const Entry &entry = m_entries.at(index.row());
    switch (role) {
    case Qt::DisplayRole:
    case FileNameRole:
        return entry.fileName;
    case FilePathRole:
        return entry.filePath;
    case ReceivedBytesRole:
        return entry.receivedBytes;
    case TotalBytesRole:
        return entry.totalBytes;
    case StateRole:
        return entry.state;
    }
    return {};
}

QHash<int, QByteArray> DownloadList::roleNames() const
{
    return {
        { FileNameRole, "fileName" },           { FilePathRole, "filePath" },
        { ReceivedBytesRole, "receivedBytes" }, { TotalBytesRole, "totalBytes" },
        { StateRole, "downloadState" },
    };
}

void DownloadList::accept(QObject *object)
{
    auto *request = qobject_cast<QWebEngineDownloadRequest *>(object);
    if (!request || request->state() != QWebEngineDownloadRequest::DownloadRequested || rowOf(request) >= 0)
        return;

    const QString dir = folder();
    QDir().mkpath(dir);
    const auto follow = [this, request] { update(request); };
    connect(request, &QWebEngineDownloadRequest::receivedBytesChanged, this, follow);
    connect(request, &QWebEngineDownloadRequest::totalBytesChanged, this, follow);
    connect(request, &QWebEngineDownloadRequest::stateChanged, this, follow);

    // The engine asks again for a download it resumes after a failed attempt;
    // it goes on under the name it already has.
    const int resumed = rowOfId(request->id());
    if (resumed >= 0) {
        Entry &entry = m_entries[resumed];
        if (entry.request)
            entry.request->disconnect(this);
        entry.request = request;
        request->setDownloadDirectory(dir);
        request->setDownloadFileName(entry.fileName);
        request->accept();
        return;
    }

    Entry entry;
    entry.request = request;
    entry.id = request->id();
    entry.fileName = uniqueFileName(dir, request->suggestedFileName(), namesInProgress());
    entry.filePath = QDir(dir).filePath(entry.fileName);
    entry.totalBytes = request->totalBytes();
    request->setDownloadDirectory(dir);
    request->setDownloadFileName(entry.fileName);

    beginInsertRows(QModelIndex(), m_entries.size(), m_entries.size());
    m_entries.append(entry);
    endInsertRows();
    Q_EMIT countChanged();
    Q_EMIT activeCountChanged();
    Q_EMIT downloadAdded(entry.fileName);

    request->accept();
}

void DownloadList::cancel(int row)
{
    if (row < 0 || row >= m_entries.size() || m_entries.at(row).state != Downloading)
        return;
    if (QWebEngineDownloadRequest *request = m_entries.at(row).request)
        request->cancel();
}

void DownloadList::openFile(int row) const
{
    if (row >= 0 && row < m_entries.size() && m_entries.at(row).state == Finished)
        QDesktopServices::openUrl(QUrl::fromLocalFile(m_entries.at(row).filePath));
}

void DownloadList::openFolder(int row) const
{
    if (row < 0 || row >= m_entries.size())
        return;
    const Entry &entry = m_entries.at(row);
#ifdef Q_OS_WIN
    if (entry.state == Finished) {
        // Explorer opens the folder with the file selected.
        QProcess::startDetached(QStringLiteral("explorer"),
                                { QStringLiteral("/select,"), QDir::toNativeSeparators(entry.filePath) });
        return;
    }
#endif
    QDesktopServices::openUrl(QUrl::fromLocalFile(QFileInfo(entry.filePath).path()));
}

void DownloadList::clearFinished()
{
    for (int row = m_entries.size() - 1; row >= 0; --row) {
        if (m_entries.at(row).state == Downloading)
            continue;
        if (QWebEngineDownloadRequest *request = m_entries.at(row).request)
            request->disconnect(this);
        beginRemoveRows(QModelIndex(), row, row);
        m_entries.removeAt(row);
        endRemoveRows();
    }
    Q_EMIT countChanged();
}

int DownloadList::rowOf(const QWebEngineDownloadRequest *request) const
{
    for (int row = 0; row < m_entries.size(); ++row) {
        if (m_entries.at(row).request == request)
            return row;
    }
    return -1;
}

int DownloadList::rowOfId(quint32 id) const
{
    for (int row = 0; row < m_entries.size(); ++row) {
        if (m_entries.at(row).state == Downloading && m_entries.at(row).id == id)
            return row;
    }
    return -1;
}

QStringList DownloadList::namesInProgress() const
{
    QStringList names;
    for (const Entry &entry : m_entries) {
        if (entry.state == Downloading)
            names.append(entry.fileName);
    }
    return names;
}

void DownloadList::update(QWebEngineDownloadRequest *request)
{
    const int row = rowOf(request);
    if (row < 0)
        return;
    Entry &entry = m_entries[row];
    if (entry.state != Downloading)
        return;

    entry.receivedBytes = request->receivedBytes();
    entry.totalBytes = request->totalBytes();
    switch (request->state()) {
    case QWebEngineDownloadRequest::DownloadCompleted:
        entry.state = Finished;
        break;
    case QWebEngineDownloadRequest::DownloadCancelled:
        entry.state = Cancelled;
        break;
    case QWebEngineDownloadRequest::DownloadInterrupted:
        entry.state = Failed;
        // The engine has given up resuming it by itself; nobody else will, so
        // let it drop what it has written.
        request->cancel();
        break;
    default:
        break;
    }
    if (entry.state == Cancelled || entry.state == Failed) {
        // The name was free when the download began, so whatever lies there now
        // is this download's partial file.
        QFile::remove(entry.filePath);
    }

    const QModelIndex index = createIndex(row, 0);
    Q_EMIT dataChanged(index, index);
    if (entry.state != Downloading)
        Q_EMIT activeCountChanged();
}
