#pragma once

#include <QString>
#include <QStringList>
#include <QUrl>

#include <chrono>

// What IT decides for the desktops of an installation, in policy.ini beside
// config.dll (the shell's keys; the launcher reads graphics= itself):
//
//   [update]                     or at the top of the file, as before
//   enabled=0                    no updates at all (default on)
//   pin=1.2.0                    this version, whatever the manifest says
//   ring=pilot                   the manifest's version for this ring
//   report=0                     the checks do not say what this desktop runs
//   crash_upload=https://…       where crash dumps go
//   mirror=http://cache.plant/   a plant cache (http or https) or a share
//                                (\\server\share, an absolute folder) asked
//                                for the release's files before the channel
//   [tabs]
//   rest=0                       background tabs keep running (default on)
//   freeze_after_minutes=10      a tab not shown this long is frozen (1 to 1440)
//   discard_after_minutes=60     and this long, discarded; 0: never (0 to 1440)
//
// The file was update-policy.ini while it held updates alone, and the installer's
// options still write that name: it is read first, with the same keys, and
// each key policy.ini sets wins. An update key counts at the top of a file or
// under [update], the top first. Switches are off for 0, false, off or no and
// on for 1, true, on or yes (any letter case); one that is none of these is
// off, as IT wrote it to change something. A number out of range keeps its
// default. A file over 64 KiB is not read.
struct Policy
{
    struct Updates
    {
        bool enabled = true;
        QString pin;
        QString ring;
        // Whether the checks tell the channel what this desktop runs.
        bool report = true;
        // Where the shell sends its crash dumps; empty: the build's own, if any.
        QString crashUpload;
        // mirror=: a plant cache standing for the channel's folder, or a
        // folder (a share) holding files/<sha256>; at most one is set.
        QUrl mirror;
        QString share;
    };
    struct Tabs
    {
        // The shortest rest the file can ask for.
        static constexpr std::chrono::minutes shortestFreeze { 1 };

        bool rest = true;
        // Minutes in the file; finer here, so that a test can wait seconds.
        std::chrono::milliseconds freezeAfter = std::chrono::minutes(10);
        // Zero: frozen, never discarded. Never earlier than freezeAfter.
        std::chrono::milliseconds discardAfter = std::chrono::minutes(60);
    };

    Updates updates;
    Tabs tabs;
    // What was not understood, a line each naming its file; empty when all was.
    QStringList problems;

    // The policy of the installation whose config.dll lies in `folder`.
    static Policy read(const QString &folder);
};
