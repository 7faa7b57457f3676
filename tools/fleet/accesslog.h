#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QDateTime>
#include <QList>

// One line of a web server's access log at a time: nginx's and Apache's
// "combined" format, or IIS's W3C extended format, whose #Fields: directive
// names the columns of the lines after it. A reader serves one file.
class AccessLog
{
public:
    // Longer lines are not a web server's; the reader skips them.
    static constexpr qsizetype maxLineLength = 8 * 1024;

    struct Request
    {
        QDateTime time; // UTC
        QByteArray method;
        QByteArray path; // as logged, without the query
        QByteArray query; // as logged, without the '?'; empty when there is none
        int status = 0;
    };

    enum class Line { Request, Directive, Garbage };

    Line parse(QByteArrayView line, Request &out);

private:
    Line parseDirective(QByteArrayView line);
    bool parseW3c(QByteArrayView line, Request &out) const;

    // Column of each W3C field this reader needs, -1 when #Fields: did not
    // name it; no #Fields: yet means the combined format.
    bool m_w3c = false;
    qsizetype m_columns = 0;
    int m_date = -1, m_time = -1, m_method = -1, m_stem = -1, m_query = -1, m_status = -1;
};
