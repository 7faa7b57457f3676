#pragma once

#include "testhttpserver.h"

#include <QByteArray>
#include <QList>
#include <QStringList>
#include <QUrl>

// The company's server on loopback, with what a working day asks of it: order
// tables, pages of photos, a chart drawn on a canvas, a report that the page's
// script builds, and files to download. Each page is titled "<page> <n>" from
// its query `n`, so that a fresh copy is told from the one before.
class CompanyServer
{
public:
    CompanyServer();

    bool listen() { return m_http.listen(); }
    QUrl url(const QString &pathAndQuery, const QString &host) const
    {
        return m_http.url(pathAndQuery, host);
    }

    // The pages a navigation cycles through ("orders", "photos", "chart", "report").
    static QStringList pages();
    // The address of page `page` numbered `n`, below the server.
    static QString pagePath(const QString &page, int n);
    // The size of each download, in bytes.
    static constexpr qint64 fileBytes = 2 * 1024 * 1024;

private:
    TestHttpServer m_http;
    QList<QByteArray> m_photos;
};
