#pragma once

#include "accesslog.h"

#include <QDate>
#include <QDateTime>
#include <QHash>
#include <QIODevice>
#include <QList>
#include <QMap>
#include <QSet>
#include <QString>

#include <optional>

// The fleet as the channel server's access logs show it: each desktop's last
// report from the manifest requests' queries, the versions they ran day by
// day, and how many requests came without a report (versions before reports,
// or report=0).
class Fleet
{
public:
    // What one update check told, each value checked as the shell checks it.
    struct Report
    {
        QDateTime time;
        QString id, version, previous, pending, ring, lastBad, os;
        bool trial = false;
        int bad = 0;
        int graphicsLevel = -1; // -1: not told
        int crashes = 0; // since the installation
        QString crashModule; // where the last one happened
        QString download; // how the last download ended: ok, failed or empty
        QString downloadVia; // files, package or empty
        QString downloadFrom; // mirror, share, manifest, origin or empty
        qint64 downloadBytes = 0;
        qint64 downloadSeconds = 0;
        int downloadPatched = -1; // by files, how many were made from patches; -1: not told
    };

    struct Desktop
    {
        Report last;
        // Every version this desktop named as its last rollback in any report.
        QSet<QString> rolledBack;
        // Per day, the version of that day's last report.
        QMap<QDate, std::pair<QDateTime, QString>> days;
        // Per version, the crashes its first and its last report counted:
        // the desktop crashed while it ran the version when they differ, or
        // when its first counted more than the last of the version before.
        // Kept by time, so that logs may be read in any order.
        struct CrashCounts
        {
            QDateTime first, last;
            int atFirst = 0, atLast = 0;
        };
        QHash<QString, CrashCounts> crashesWhileOn;
    };

    struct VersionCounts
    {
        QString version;
        int running = 0; // desktops whose last report names it
        int trial = 0; // of those, on trial
        int rolledBack = 0; // desktops that rolled it back
        int crashed = 0; // desktops that crashed while they ran it
    };

    struct Day
    {
        QDate date;
        QMap<QString, int> desktops; // version -> desktops whose last report that day names it
    };

    struct Counts
    {
        qint64 lines = 0;
        qint64 reports = 0;
        qint64 refused = 0; // manifest requests whose query the shell would not send
        qint64 skipped = 0; // garbage, too long, or not a desktop's manifest check
        qint64 withoutReport = 0;
        QDateTime lastWithoutReport;
        QDateTime latest; // the latest time of any line read
    };

    // A bound on memory against a log full of made-up ids.
    static constexpr int maxDesktops = 1000000;
    static constexpr int maxRolledBackPerDesktop = 64;
    static constexpr int maxVersionsPerDesktop = 64;

    // The report in a manifest request's query; none when a value is missing
    // or is not what the shell sends.
    static std::optional<Report> reportFrom(QByteArrayView query);
    // A successful GET of the manifest (not its signature).
    static bool isManifestCheck(const AccessLog::Request &request);

    // Reads one log file from its start; false when it cannot be read.
    bool read(QIODevice &log);
    void add(const AccessLog::Request &request);

    const QMap<QString, Desktop> &desktops() const { return m_desktops; }
    const Counts &counts() const { return m_counts; }
    // Newest version first.
    QList<VersionCounts> versions() const;
    // The `days` days up to `last`, oldest first.
    QList<Day> history(QDate last, int days) const;

private:
    void addReport(const Report &report);

    QMap<QString, Desktop> m_desktops;
    Counts m_counts;
};
