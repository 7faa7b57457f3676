#include "accesslog.h"

#include <QTimeZone>

namespace {

int number(QByteArrayView digits, bool &ok)
{
    int value = 0;
    if (digits.isEmpty() || digits.size() > 9)
        ok = false;
    for (char c : digits) {
        if (c < '0' || c > '9') {
            ok = false;
            return 0;
        }
        value = value * 10 + (c - '0');
    }
    return value;
}

// 2xx, or 304 for a client that had the manifest already.
bool statusOf(QByteArrayView text, int &status)
{
    bool ok = text.size() == 3;
    status = number(text, ok);
    return ok && status >= 100 && status <= 599;
}

// "10/Oct/2026:13:55:36 +0200" as nginx and Apache write it.
QDateTime combinedTime(QByteArrayView text)
{
    static const char months[] = "JanFebMarAprMayJunJulAugSepOctNovDec";
    if (text.size() != 26 || text[2] != '/' || text[6] != '/' || text[11] != ':' || text[14] != ':'
        || text[17] != ':' || text[20] != ' ' || (text[21] != '+' && text[21] != '-'))
        return {};
    const QByteArrayView monthName = text.sliced(3, 3);
    int month = 0;
    for (int m = 0; m < 12 && month == 0; ++m)
        if (monthName == QByteArrayView(months + 3 * m, 3))
            month = m + 1;
    bool ok = month != 0;
    const QDate date(number(text.sliced(7, 4), ok), month, number(text.sliced(0, 2), ok));
    const QTime time(number(text.sliced(12, 2), ok), number(text.sliced(15, 2), ok),
                     number(text.sliced(18, 2), ok));
    const int offsetHours = number(text.sliced(22, 2), ok);
    const int offsetMinutes = number(text.sliced(24, 2), ok);
    if (!ok || !date.isValid() || !time.isValid() || offsetHours > 14 || offsetMinutes > 59)
        return {};
    const int offset = (text[21] == '-' ? -1 : 1) * (offsetHours * 3600 + offsetMinutes * 60);
    return QDateTime(date, time, QTimeZone::utc()).addSecs(-offset);
}

// IIS logs in UTC: "2026-12-10" and "08:00:00".
QDateTime w3cTime(QByteArrayView date, QByteArrayView time)
{
    if (date.size() != 10 || date[4] != '-' || date[7] != '-' || time.size() != 8 || time[2] != ':'
        || time[5] != ':')
        return {};
    bool ok = true;
    const QDate d(number(date.sliced(0, 4), ok), number(date.sliced(5, 2), ok),
                  number(date.sliced(8, 2), ok));
    const QTime t(number(time.sliced(0, 2), ok), number(time.sliced(3, 2), ok),
                  number(time.sliced(6, 2), ok));
    if (!ok || !d.isValid() || !t.isValid())
        return {};
    return QDateTime(d, t, QTimeZone::utc());
}

QList<QByteArrayView> splitSpaces(QByteArrayView line)
{
    QList<QByteArrayView> parts;
    qsizetype start = 0;
    while (start < line.size()) {
        qsizetype end = line.indexOf(' ', start);
        if (end < 0)
            end = line.size();
        if (end > start)
            parts.append(line.sliced(start, end - start));
        start = end + 1;
    }
    return parts;
}

// "GET /path?query HTTP/1.1" into its method, path and query.
bool splitRequest(QByteArrayView request, AccessLog::Request &out)
{
    const QList<QByteArrayView> parts = splitSpaces(request);
    if (parts.size() != 3 || !parts[2].startsWith("HTTP/"))
        return false;
    const QByteArrayView target = parts[1];
    const qsizetype question = target.indexOf('?');
    out.method = parts[0].toByteArray();
    out.path = (question < 0 ? target : target.first(question)).toByteArray();
    out.query = question < 0 ? QByteArray() : target.sliced(question + 1).toByteArray();
    return true;
}

// host ident user [time] "request" status bytes "referer" "agent"
bool parseCombined(QByteArrayView line, AccessLog::Request &out)
{
    const qsizetype open = line.indexOf('[');
    const qsizetype close = open < 0 ? -1 : line.indexOf(']', open);
    if (close < 0 || close + 2 >= line.size() || line[close + 1] != ' ' || line[close + 2] != '"')
        return false;
    out.time = combinedTime(line.sliced(open + 1, close - open - 1));
    // Request lines hold no quote: servers escape it as \x22.
    const qsizetype requestStart = close + 3;
    const qsizetype requestEnd = line.indexOf('"', requestStart);
    if (!out.time.isValid() || requestEnd < 0 || requestEnd + 5 > line.size() || line[requestEnd + 1] != ' ')
        return false;
    const qsizetype statusEnd = requestEnd + 5;
    if (statusEnd < line.size() && line[statusEnd] != ' ')
        return false;
    return statusOf(line.sliced(requestEnd + 2, 3), out.status)
            && splitRequest(line.sliced(requestStart, requestEnd - requestStart), out);
}

} // namespace

AccessLog::Line AccessLog::parse(QByteArrayView line, Request &out)
{
    if (line.endsWith('\n'))
        line.chop(1);
    if (line.endsWith('\r'))
        line.chop(1);
    if (line.size() > maxLineLength)
        return Line::Garbage;
    if (line.startsWith('#'))
        return parseDirective(line);
    out = Request();
    const bool ok = m_w3c ? parseW3c(line, out) : parseCombined(line, out);
    return ok ? Line::Request : Line::Garbage;
}

AccessLog::Line AccessLog::parseDirective(QByteArrayView line)
{
    if (!line.startsWith("#Fields:"))
        return Line::Directive; // #Software:, #Version:, #Date: say nothing about columns
    const QList<QByteArrayView> names = splitSpaces(line.sliced(8));
    m_w3c = true;
    m_columns = names.size();
    m_date = names.indexOf("date");
    m_time = names.indexOf("time");
    m_method = names.indexOf("cs-method");
    m_stem = names.indexOf("cs-uri-stem");
    m_query = names.indexOf("cs-uri-query");
    m_status = names.indexOf("sc-status");
    return Line::Directive;
}

bool AccessLog::parseW3c(QByteArrayView line, Request &out) const
{
    if (m_date < 0 || m_time < 0 || m_stem < 0 || m_query < 0 || m_status < 0)
        return false;
    const QList<QByteArrayView> values = splitSpaces(line);
    if (values.size() != m_columns)
        return false;
    out.time = w3cTime(values[m_date], values[m_time]);
    // IIS writes "-" for an empty field; a log without cs-method counts as GET.
    out.method = m_method < 0 ? QByteArray("GET") : values[m_method].toByteArray();
    out.path = values[m_stem].toByteArray();
    out.query = values[m_query] == "-" ? QByteArray() : values[m_query].toByteArray();
    return out.time.isValid() && statusOf(values[m_status], out.status);
}
