#pragma once

#include <QAbstractListModel>
#include <QList>
#include <QPointer>
#include <QString>
#include <QtQml/qqmlregistration.h>

class QWebEngineDownloadRequest;

// The downloads that pages start (attachments, links with a download
// attribute, blob: and data: addresses). Each one is accepted into the user's
// download folder under a name that no other file there has, and is listed
// with its progress until the user clears it.
class DownloadList : public QAbstractListModel
{
    Q_OBJECT
    QML_ELEMENT
    Q_PROPERTY(int count READ count NOTIFY countChanged)
    Q_PROPERTY(int activeCount READ activeCount NOTIFY activeCountChanged)

public:
    enum State { Downloading, Finished, Cancelled, Failed };
    Q_ENUM(State)

    enum Role {
        FileNameRole = Qt::UserRole + 1,
        FilePathRole,
        ReceivedBytesRole,
        TotalBytesRole,
        StateRole,
    };

    explicit DownloadList(QObject *parent = nullptr);
    ~DownloadList() override;

    // The user's download folder, where every download lands.
    static QString folder();

    // `suggested` made safe as a file name and, when `folder` already holds
    // that name or it is in `taken`, numbered: "report.xlsx" becomes
    // "report (1).xlsx", then "report (2).xlsx".
    static QString uniqueFileName(const QString &folder, const QString &suggested,
                                  const QStringList &taken = {});

    int count() const { return m_entries.size(); }
    int activeCount() const;

    int rowCount(const QModelIndex &parent = QModelIndex()) const override;
    QVariant data(const QModelIndex &index, int role) const override;
    QHash<int, QByteArray> roleNames() const override;

    // Takes a WebEngineDownloadRequest from the profile's downloadRequested.
    Q_INVOKABLE void accept(QObject *request);
    Q_INVOKABLE void cancel(int row);
    Q_INVOKABLE void openFile(int row) const;
    Q_INVOKABLE void openFolder(int row) const;
    // Drops the rows that are no longer downloading.
    Q_INVOKABLE void clearFinished();

Q_SIGNALS:
    void countChanged();
    void activeCountChanged();
    void downloadAdded(const QString &fileName);

private:
    struct Entry
    {
        QPointer<QWebEngineDownloadRequest> request;
        quint32 id = 0;
        QString fileName;
        QString filePath;
        qint64 receivedBytes = 0;
        qint64 totalBytes = -1;
        State state = Downloading;
    };

    int rowOf(const QWebEngineDownloadRequest *request) const;
    int rowOfId(quint32 id) const;
    void update(QWebEngineDownloadRequest *request);
    QStringList namesInProgress() const;

    QList<Entry> m_entries;
};
