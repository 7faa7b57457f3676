#include "fleet.h"

#include "launcher/installstate.h"

#include <QHash>

#include <algorithm>
#include <tuple>

namespace {

bool isVersion(const QByteArray &value)
{
    return InstallState::isValidVersion(value.toStdString());
}

bool isOs(const QByteArray &value)
{
    return !value.isEmpty() && value.size() <= 32 && std::all_of(value.begin(), value.end(), [](char c) {
        return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || c == '_' || c == '-';
    });
}

// A count the shell sends: at most `digits` digits.
template <typename Number> bool isCount(const QByteArray &value, Number &count, int digits = 4)
{
    if (value.isEmpty() || value.size() > digits
        || !std::all_of(value.begin(), value.end(), [](char c) { return c >= '0' && c <= '9'; }))
        return false;
    count = Number(value.toLongLong());
    return true;
}

} // namespace

std::optional<Fleet::Report> Fleet::reportFrom(QByteArrayView query)
{
    QHash<QByteArray, QByteArray> values;
    for (QByteArrayView pair : QByteArray::fromRawData(query.data(), query.size()).split('&')) {
        const qsizetype equals = pair.indexOf('=');
        if (equals <= 0)
            continue;
        const QByteArray key = QByteArray::fromPercentEncoding(pair.first(equals).toByteArray());
        // A key twice is not the shell's: which one to believe?
        if (values.contains(key))
            return std::nullopt;
        values.insert(key, QByteArray::fromPercentEncoding(pair.sliced(equals + 1).toByteArray()));
    }
    Report report;
    const QByteArray id = values.value("id");
    const QByteArray version = values.value("v");
    const QByteArray trial = values.value("trial", "0");
    if (!InstallState::isInstallationId(id.toStdString()) || !isVersion(version)
        || (trial != "0" && trial != "1"))
        return std::nullopt;
    report.id = QString::fromLatin1(id);
    report.version = QString::fromLatin1(version);
    report.trial = trial == "1";
    // The optional values: absent is fine, anything the shell would not send is not.
    const auto optional = [&](const char *key, auto valid, QString &out) {
        const auto found = values.constFind(key);
        if (found == values.cend())
            return true;
        if (!valid(*found))
            return false;
        out = QString::fromLatin1(*found);
        return true;
    };
    const auto isRing = [](const QByteArray &value) { return InstallState::isRingName(value.toStdString()); };
    if (!optional("prev", isVersion, report.previous) || !optional("pending", isVersion, report.pending)
        || !optional("lastbad", isVersion, report.lastBad) || !optional("ring", isRing, report.ring)
        || !optional("os", isOs, report.os))
        return std::nullopt;
    const auto isModule = [](const QByteArray &value) {
        return InstallState::isModuleName(value.toStdString());
    };
    const auto isDownload = [](const QByteArray &value) { return value == "ok" || value == "failed"; };
    const auto isWay = [](const QByteArray &value) {
        return InstallState::isDownloadWay(value.toStdString());
    };
    const auto isPlace = [](const QByteArray &value) {
        return InstallState::isDownloadPlace(value.toStdString());
    };
    if (!optional("crashmod", isModule, report.crashModule) || !optional("dl", isDownload, report.download)
        || !optional("dlvia", isWay, report.downloadVia) || !optional("dlfrom", isPlace, report.downloadFrom))
        return std::nullopt;
    // The counts the shell bounds: rollbacks as its state keeps them, crashes
    // and patched files up to a million, bytes up to a TiB, seconds up to the
    // year 9999.
    const auto count = [&](const char *key, auto &out, int digits) {
        return !values.contains(key) || isCount(values.value(key), out, digits);
    };
    if (!count("bad", report.bad, 4) || !count("crashes", report.crashes, 7)
        || !count("dlbytes", report.downloadBytes, 13) || !count("dlsec", report.downloadSeconds, 12)
        || !count("dlpatched", report.downloadPatched, 7))
        return std::nullopt;
    // Patches make only files: a count beside a package says nothing.
    if (report.downloadVia != QLatin1String("files"))
        report.downloadPatched = -1;
    if (values.contains("gfx")) {
        const QByteArray level = values.value("gfx");
        if (level.size() != 1 || level[0] < '0' || level[0] > '3')
            return std::nullopt;
        report.graphicsLevel = level[0] - '0';
    }
    return report;
}

bool Fleet::isManifestCheck(const AccessLog::Request &request)
{
    return request.method == "GET" && request.path.endsWith("/manifest.json")
            && ((request.status >= 200 && request.status < 300) || request.status == 304);
}

bool Fleet::read(QIODevice &log)
{
    if (!log.isOpen() && !log.open(QIODevice::ReadOnly))
        return false;
    AccessLog parser;
    AccessLog::Request request;
    const auto take = [&](QByteArrayView line) {
        ++m_counts.lines;
        switch (parser.parse(line, request)) {
        case AccessLog::Line::Directive:
            break;
        case AccessLog::Line::Garbage:
            ++m_counts.skipped;
            break;
        case AccessLog::Line::Request:
            add(request);
            break;
        }
    };
    // Read in blocks: a line at a time costs more than the parsing.
    QByteArray buffer;
    bool tooLong = false; // inside a line longer than any web server's
    for (;;) {
        const QByteArray block = log.read(256 * 1024);
        if (block.isEmpty() && !log.atEnd())
            return false;
        buffer += block;
        qsizetype start = 0;
        for (qsizetype end; (end = buffer.indexOf('\n', start)) >= 0; start = end + 1) {
            if (tooLong) {
                tooLong = false;
                continue;
            }
            take(QByteArrayView(buffer).sliced(start, end + 1 - start));
        }
        buffer.remove(0, start);
        if (block.isEmpty())
            break;
        if (buffer.size() > AccessLog::maxLineLength + 2) {
            if (!tooLong) {
                ++m_counts.lines;
                ++m_counts.skipped;
            }
            tooLong = true;
            buffer.clear();
        }
    }
    if (!buffer.isEmpty() && !tooLong)
        take(buffer);
    return true;
}

void Fleet::add(const AccessLog::Request &request)
{
    if (!m_counts.latest.isValid() || request.time > m_counts.latest)
        m_counts.latest = request.time;
    if (!isManifestCheck(request)) {
        ++m_counts.skipped;
        return;
    }
    if (request.query.isEmpty()) {
        ++m_counts.withoutReport;
        if (!m_counts.lastWithoutReport.isValid() || request.time > m_counts.lastWithoutReport)
            m_counts.lastWithoutReport = request.time;
        return;
    }
    std::optional<Report> report = reportFrom(request.query);
    if (!report) {
        ++m_counts.refused;
        return;
    }
    report->time = request.time;
    addReport(*report);
}

void Fleet::addReport(const Report &report)
{
    auto found = m_desktops.find(report.id);
    if (found == m_desktops.end()) {
        if (m_desktops.size() >= maxDesktops) {
            ++m_counts.refused;
            return;
        }
        found = m_desktops.insert(report.id, Desktop { report, {}, {}, {} });
    }
    ++m_counts.reports;
    Desktop &desktop = *found;
    // Logs may come in any order: the latest report wins, an equal time the later line.
    if (report.time >= desktop.last.time)
        desktop.last = report;
    if (!report.lastBad.isEmpty() && desktop.rolledBack.size() < maxRolledBackPerDesktop)
        desktop.rolledBack.insert(report.lastBad);
    auto seen = desktop.crashesWhileOn.find(report.version);
    if (seen == desktop.crashesWhileOn.end() && desktop.crashesWhileOn.size() < maxVersionsPerDesktop)
        seen = desktop.crashesWhileOn.insert(report.version,
                                             { report.time, report.time, report.crashes, report.crashes });
    if (seen != desktop.crashesWhileOn.end()) {
        if (report.time < seen->first)
            std::tie(seen->first, seen->atFirst) = std::tie(report.time, report.crashes);
        if (report.time >= seen->last)
            std::tie(seen->last, seen->atLast) = std::tie(report.time, report.crashes);
    }
    auto &day = desktop.days[report.time.date()];
    if (day.second.isEmpty() || report.time >= day.first)
        day = { report.time, report.version };
}

QList<Fleet::VersionCounts> Fleet::versions() const
{
    QHash<QString, VersionCounts> byVersion;
    const auto entry = [&](const QString &version) -> VersionCounts & {
        VersionCounts &counts = byVersion[version];
        counts.version = version;
        return counts;
    };
    for (const Desktop &desktop : m_desktops) {
        VersionCounts &running = entry(desktop.last.version);
        ++running.running;
        if (desktop.last.trial)
            ++running.trial;
        for (const QString &version : desktop.rolledBack)
            ++entry(version).rolledBack;
        QList<std::pair<QString, Desktop::CrashCounts>> ran;
        for (auto it = desktop.crashesWhileOn.cbegin(); it != desktop.crashesWhileOn.cend(); ++it)
            ran.append({ it.key(), it.value() });
        std::sort(ran.begin(), ran.end(),
                  [](const auto &a, const auto &b) { return a.second.first < b.second.first; });
        for (qsizetype i = 0; i < ran.size(); ++i) {
            const Desktop::CrashCounts &counts = ran[i].second;
            if (counts.atLast > counts.atFirst || (i > 0 && counts.atFirst > ran[i - 1].second.atLast))
                ++entry(ran[i].first).crashed;
        }
    }
    QList<VersionCounts> list = byVersion.values();
    std::sort(list.begin(), list.end(), [](const VersionCounts &a, const VersionCounts &b) {
        return InstallState::versionLess(b.version.toStdString(), a.version.toStdString());
    });
    return list;
}

QList<Fleet::Day> Fleet::history(QDate last, int days) const
{
    QList<Day> list;
    const QDate first = last.addDays(1 - days);
    for (QDate date = first; date <= last; date = date.addDays(1))
        list.append(Day { date, {} });
    for (const Desktop &desktop : m_desktops) {
        for (auto it = desktop.days.lowerBound(first); it != desktop.days.cend() && it.key() <= last; ++it)
            ++list[first.daysTo(it.key())].desktops[it.value().second];
    }
    return list;
}
