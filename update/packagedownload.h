#pragma once

#include "update/fetchplaces.h"

#include <QByteArray>
#include <QFile>
#include <QObject>
#include <QPointer>
#include <QUrl>

class BoundedFetch;
class QNetworkAccessManager;
class QThread;

// Fetches a release package into a partial file, resuming what an earlier run
// left with a range request, from the first of its places (FetchPlaces) that
// gives it whole. Never takes more than the listed size, gives up
// after a minute without data and after half an hour in all, writes nothing
// of an answer other than 200 or 206, and keeps the file only when its SHA-256
// matches.
class PackageDownload : public QObject
{
    Q_OBJECT

public:
    PackageDownload(QNetworkAccessManager *network, QObject *parent = nullptr);
    ~PackageDownload() override;

    // Downloads the package from `places` to `file` (`size` bytes, `sha256`
    // in hex); finished() follows, after a skipped() for each place that failed.
    void start(const QList<FetchPlaces::Place> &places, const QString &file, qint64 size,
               const QByteArray &sha256);

    // The place that gave the package, once it has.
    FetchPlaces::Kind from() const { return m_places.value(m_next - 1).kind; }

    // The bytes this download took from the network; a part an earlier run
    // fetched is not counted again.
    qint64 bytesFetched() const { return m_fetched; }

    // The whole download is abandoned after this long; the partial file stays.
    static constexpr int timeLimitMs = 30 * 60 * 1000;
    static constexpr int stallLimitMs = 60 * 1000;

Q_SIGNALS:
    // `problem` is empty when `file` holds the package; a package found wrong is deleted.
    void finished(const QString &problem);
    // `place` failed; the next is asked.
    void skipped(const QUrl &place, const QString &problem);

private:
    // Asks the next place.
    void fetchFromNext();
    bool take(QByteArrayView piece);
    void ended();
    void finish(const QString &problem);
    // Checks the SHA-256 on a thread of its own, then finishes: a package of a
    // hundred megabytes read on the window's thread would hold the window up.
    void verifyThenFinish();

    QNetworkAccessManager *m_network;
    QList<FetchPlaces::Place> m_places;
    qsizetype m_next = 0;
    QPointer<BoundedFetch> m_fetch;
    QPointer<QThread> m_verifier;
    QFile m_file;
    qint64 m_size = 0;
    QByteArray m_sha256;
    bool m_resumed = false;
    bool m_started = false; // the answer's first bytes decided where they go
    QString m_refusal; // why the answer's body was refused
    bool m_remove = false; // the partial file is wrong and goes
    qint64 m_fetched = 0;
};
