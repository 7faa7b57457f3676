#pragma once

#include <QNetworkCookieJar>
#include <QString>

class QQuickWebEngineProfile;

// The cookies of a web profile, for the requests the program makes itself on
// behalf of the pages' user (a picture behind the login).
//
// The profile's cookie store tells of every cookie it adds or removes while the
// program runs, but never of those it reads back from disk, not even when asked
// to load them all: a login kept from an earlier start, which the server need
// not set again, would be missing here. So the jar keeps what it heard as the
// profile keeps its own (session cookies too where the profile keeps them) in a
// file in the profile's folder, and starts from it. The engine keeps the same
// cookies unencrypted in that folder, so the file shows nothing new. A profile
// that keeps nothing on disk has no such file.
class ProfileCookieJar : public QNetworkCookieJar
{
public:
    explicit ProfileCookieJar(QQuickWebEngineProfile *profile, QObject *parent = nullptr);

    // The file's name in the profile's folder.
    static QString fileName();
    // What the file may hold; cookies past it are not kept.
    static constexpr qint64 maxFileSize = 4 * 1024 * 1024;

private:
    void load();
    void saveSoon();
    void save();
    bool isKept(const QNetworkCookie &cookie) const;

    QString m_path;
    bool m_keepsSessionCookies = false;
    bool m_savePending = false;
};
