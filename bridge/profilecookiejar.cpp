#include "bridge/profilecookiejar.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QNetworkCookie>
#include <QQuickWebEngineProfile>
#include <QSaveFile>
#include <QTimer>
#include <QWebEngineCookieStore>

ProfileCookieJar::ProfileCookieJar(QQuickWebEngineProfile *profile, QObject *parent)
    : QNetworkCookieJar(parent)
{
    if (!profile->isOffTheRecord() && !profile->persistentStoragePath().isEmpty()
        && profile->persistentCookiesPolicy() != QQuickWebEngineProfile::NoPersistentCookies) {
        m_path = QDir(profile->persistentStoragePath()).filePath(fileName());
        m_keepsSessionCookies =
                profile->persistentCookiesPolicy() == QQuickWebEngineProfile::ForcePersistentCookies;
        load();
    }
    QWebEngineCookieStore *store = profile->cookieStore();
    connect(store, &QWebEngineCookieStore::cookieAdded, this, [this](const QNetworkCookie &cookie) {
        insertCookie(cookie);
        saveSoon();
    });
    connect(store, &QWebEngineCookieStore::cookieRemoved, this, [this](const QNetworkCookie &cookie) {
        deleteCookie(cookie);
        saveSoon();
    });
}

QString ProfileCookieJar::fileName()
{
    return QStringLiteral("menuopt-cookies.txt");
}

void ProfileCookieJar::load()
{
    QFile file(m_path);
    if (!file.open(QIODevice::ReadOnly) || file.size() > maxFileSize)
        return;
    for (const QByteArray &line : file.readAll().split('\n')) {
        for (const QNetworkCookie &cookie : QNetworkCookie::parseCookies(line)) {
            if (isKept(cookie))
                insertCookie(cookie);
        }
    }
}

// A page that sets many cookies at once is written once.
void ProfileCookieJar::saveSoon()
{
    if (m_path.isEmpty() || m_savePending)
        return;
    m_savePending = true;
    QTimer::singleShot(0, this, [this] {
        m_savePending = false;
        save();
    });
}

void ProfileCookieJar::save()
{
    QByteArray lines;
    for (const QNetworkCookie &cookie : allCookies()) {
        if (!isKept(cookie))
            continue;
        const QByteArray line = cookie.toRawForm(QNetworkCookie::Full) + '\n';
        if (lines.size() + line.size() > maxFileSize)
            break;
        lines += line;
    }
    // The profile makes its folder with its first page; the jar may hear first.
    QDir().mkpath(QFileInfo(m_path).path());
    QSaveFile file(m_path);
    if (file.open(QIODevice::WriteOnly) && file.write(lines) == lines.size())
        file.commit();
}

bool ProfileCookieJar::isKept(const QNetworkCookie &cookie) const
{
    if (cookie.isSessionCookie())
        return m_keepsSessionCookies;
    return cookie.expirationDate() > QDateTime::currentDateTimeUtc();
}
