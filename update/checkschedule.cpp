#include "update/checkschedule.h"

#include <QLocale>
#include <QRandomGenerator>
#include <QTimeZone>

#include <algorithm>

namespace CheckSchedule {

std::chrono::milliseconds spreadOut(std::chrono::milliseconds wait, std::chrono::milliseconds spread,
                                    QRandomGenerator &random)
{
    if (spread.count() <= 0)
        return wait;
    return wait + std::chrono::milliseconds(random.bounded(qint64(spread.count()) + 1));
}

std::optional<std::chrono::milliseconds> retryAfter(const QByteArray &value, const QDateTime &now)
{
    const QByteArray text = value.trimmed();
    if (text.isEmpty() || text.size() > 64)
        return std::nullopt;
    const qint64 longestSeconds = std::chrono::duration_cast<std::chrono::seconds>(longestRetry).count();
    qint64 seconds = 0;
    if (std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; })) {
        // Delay-seconds; more than nine digits is longer than any bound.
        seconds = text.size() > 9 ? longestSeconds : text.toLongLong();
    } else {
        // An HTTP date: Sun, 06 Nov 1994 08:49:37 GMT.
        if (!text.endsWith(" GMT"))
            return std::nullopt;
        const QDateTime local = QLocale::c().toDateTime(QString::fromLatin1(text.chopped(4)),
                                                        QStringLiteral("ddd, dd MMM yyyy HH:mm:ss"));
        if (!local.isValid())
            return std::nullopt;
        seconds = std::max<qint64>(0, now.secsTo(QDateTime(local.date(), local.time(), QTimeZone::utc())));
    }
    const std::chrono::milliseconds wait = std::chrono::seconds(std::min(seconds, longestSeconds));
    return std::clamp(wait, shortestRetry, longestRetry);
}

} // namespace CheckSchedule
