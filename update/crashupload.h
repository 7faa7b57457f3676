#pragma once

#include <QDate>
#include <QObject>
#include <QPointer>
#include <QStringList>
#include <QUrl>

class BoundedFetch;
class QNetworkAccessManager;

// Sends the crash dumps the launcher wrote to IT's crash server, when IT named
// one: each dump once, in the multipart form crash servers take
// (`upload_file_minidump` beside `prod`, `ver` and `guid`, as Breakpad and
// Crashpad send it, so Socorro or Sentry accept it), at most a few a day and
// none over a size. A dump the server took (2xx) is removed; one it did not
// take stays for the next try. Off unless an address is given: dumps hold
// the memory of pages.
class CrashUpload : public QObject
{
    Q_OBJECT

public:
    static constexpr int maxPerDay = 3;
    static constexpr qint64 maxDumpBytes = 16 * 1024 * 1024;
    // Sending one dump is given up after a minute without progress and after ten in all.
    static constexpr int stallMs = 60 * 1000;
    static constexpr int totalMs = 10 * 60 * 1000;

    // The address dumps go to: IT's policy first, then the build's. Only https,
    // or http to this computer itself (a local relay, the demo); anything else
    // is none, and `problem` says why.
    static QUrl address(const QString &fromPolicy, const QString &builtIn, QString *problem = nullptr);

    // `root` is the installation's root; `version` the version this shell
    // runs; `builtIn` the build's address, used when IT's policy names none.
    CrashUpload(const QString &root, const QString &version, const QString &builtIn,
                QObject *parent = nullptr);

    // Sends the dumps that wait, one after another, to the address IT's policy
    // names now; finished() follows. Does nothing while a send is under way.
    void start();

    // The dumps that wait in `folder`, oldest first.
    static QStringList waiting(const QString &folder);

    // The multipart body for one dump; `boundary` must not occur in `dump`.
    static QByteArray form(const QByteArray &boundary, const QString &version, const QString &installationId,
                           const QString &fileName, const QByteArray &dump);

Q_SIGNALS:
    void finished();

private:
    void sendNext();
    void sent();
    int sentOn(QDate day) const;
    void countSent(QDate day);
    QString filePath(const char *relative) const;

    const QString m_root;
    const QString m_version;
    const QString m_builtIn;
    QUrl m_address;
    QNetworkAccessManager *m_network = nullptr;
    QPointer<BoundedFetch> m_sending;
    QString m_sendingFile;
    QStringList m_queue;
    QString m_installationId;
};
