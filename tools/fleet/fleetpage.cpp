#include "fleetpage.h"

#include <QHash>

#include <algorithm>

namespace {

QString esc(const QString &text)
{
    return text.toHtmlEscaped();
}

QString timeText(const QDateTime &time)
{
    return time.isValid() ? time.toUTC().toString(QStringLiteral("yyyy-MM-dd HH:mm 'UTC'")) : QString();
}

QString cells(const QStringList &values, const char *tag)
{
    QString row = QStringLiteral("<tr>");
    for (const QString &value : values)
        row += QStringLiteral("<%1>%2</%1>").arg(QLatin1String(tag), esc(value));
    return row + QStringLiteral("</tr>\n");
}

const char *const palette[] = { "#2f6db5", "#e07b24", "#3a9a48", "#c0392b",
                                "#8e5ab5", "#17a2b8", "#b5a22f", "#999999" };
constexpr int paletteSize = int(std::size(palette));

// Stacked bars, one per day, one colour per version; the rarest versions share
// the last colour as "其他".
QString chart(const QList<Fleet::Day> &days)
{
    QHash<QString, int> totals;
    int highest = 1;
    for (const Fleet::Day &day : days) {
        int sum = 0;
        for (auto it = day.desktops.cbegin(); it != day.desktops.cend(); ++it) {
            totals[it.key()] += it.value();
            sum += it.value();
        }
        highest = std::max(highest, sum);
    }
    QStringList versions = totals.keys();
    std::sort(versions.begin(), versions.end(), [&](const QString &a, const QString &b) {
        return totals[a] != totals[b] ? totals[a] > totals[b] : a < b;
    });
    const bool other = versions.size() > paletteSize;
    const auto colourOf = [&](const QString &version) {
        const qsizetype index = versions.indexOf(version);
        return QLatin1String(palette[other && index >= paletteSize - 1 ? paletteSize - 1 : index]);
    };
    const int width = 720, height = 220, top = 20, bottom = 30, left = 40;
    const double slot = double(width - left) / std::max<qsizetype>(1, days.size());
    const double scale = double(height - top - bottom) / highest;
    QString svg = QStringLiteral("<svg width=\"%1\" height=\"%2\" role=\"img\" "
                                 "aria-label=\"每天各版本的桌面电脑\">\n")
                          .arg(width)
                          .arg(height);
    svg += QStringLiteral("<text x=\"0\" y=\"%1\" class=\"axis\">%2</text>\n").arg(top + 4).arg(highest);
    svg += QStringLiteral("<text x=\"0\" y=\"%1\" class=\"axis\">0</text>\n").arg(height - bottom);
    for (qsizetype i = 0; i < days.size(); ++i) {
        const double x = left + i * slot;
        double y = height - bottom;
        for (const QString &version : versions) {
            const int count = days[i].desktops.value(version);
            if (count == 0)
                continue;
            const double h = count * scale;
            y -= h;
            svg += QStringLiteral("<rect x=\"%1\" y=\"%2\" width=\"%3\" height=\"%4\" fill=\"%5\"><title>%6 "
                                  "%7：%8</title></rect>\n")
                           .arg(x + 2, 0, 'f', 1)
                           .arg(y, 0, 'f', 1)
                           .arg(slot - 4, 0, 'f', 1)
                           .arg(h, 0, 'f', 1)
                           .arg(colourOf(version), days[i].date.toString(QStringLiteral("MM-dd")),
                                esc(version))
                           .arg(count);
        }
        svg += QStringLiteral("<text x=\"%1\" y=\"%2\" class=\"axis\" text-anchor=\"middle\">%3</text>\n")
                       .arg(x + slot / 2, 0, 'f', 1)
                       .arg(height - 10)
                       .arg(days[i].date.toString(QStringLiteral("MM-dd")));
    }
    svg += QStringLiteral("</svg>\n<p class=\"legend\">");
    for (qsizetype i = 0; i < versions.size() && i < (other ? paletteSize - 1 : paletteSize); ++i)
        svg += QStringLiteral("<span><i style=\"background:%1\"></i>%2</span> ")
                       .arg(QLatin1String(palette[i]), esc(versions[i]));
    if (other)
        svg += QStringLiteral("<span><i style=\"background:%1\"></i>其他</span>")
                       .arg(QLatin1String(palette[paletteSize - 1]));
    return svg + QStringLiteral("</p>\n");
}

// Where a desktop's last release came from, as IT calls the places.
QString placeText(const QString &place)
{
    if (place == QLatin1String("mirror"))
        return QStringLiteral("工厂缓存");
    if (place == QLatin1String("share"))
        return QStringLiteral("共享文件夹");
    if (place == QLatin1String("manifest"))
        return QStringLiteral("清单镜像");
    if (place == QLatin1String("origin"))
        return QStringLiteral("发布源");
    return QString();
}

} // namespace

bool FleetPage::isSilent(const Fleet::Desktop &desktop, const QDateTime &now, int silentDays)
{
    return desktop.last.time.secsTo(now) > qint64(silentDays) * 24 * 3600;
}

QStringList FleetPage::desktopColumns(Table table)
{
    QStringList columns = {
        QStringLiteral("桌面电脑"),   QStringLiteral("版本"),           QStringLiteral("上一版本"),
        QStringLiteral("待安装版本"), QStringLiteral("分组"),           QStringLiteral("试运行"),
        QStringLiteral("已回滚"),     QStringLiteral("最后回滚的版本"), QStringLiteral("系统"),
        QStringLiteral("图形级别"),   QStringLiteral("崩溃次数"),       QStringLiteral("最后崩溃的模块"),
        QStringLiteral("最后下载"),   QStringLiteral("下载方式"),       QStringLiteral("下载来源"),
        QStringLiteral("下载字节"),   QStringLiteral("下载秒数"),       QStringLiteral("最后报告"),
        QStringLiteral("沉默")
    };
    if (table == Table::Csv)
        columns << QStringLiteral("补丁文件数");
    return columns;
}

QStringList FleetPage::desktopRow(const Fleet::Desktop &desktop, const QDateTime &now, int silentDays,
                                  Table table)
{
    const Fleet::Report &r = desktop.last;
    QString way = r.downloadVia == QLatin1String("files") ? QStringLiteral("按文件")
            : r.downloadVia == QLatin1String("package")   ? QStringLiteral("整包")
                                                          : QString();
    if (table == Table::Page && r.downloadPatched > 0)
        way += QStringLiteral("（%1 个补丁）").arg(r.downloadPatched);
    QStringList row = { r.id,
                        r.version,
                        r.previous,
                        r.pending,
                        r.ring,
                        r.trial ? QStringLiteral("是") : QStringLiteral("否"),
                        QString::number(r.bad),
                        r.lastBad,
                        r.os,
                        r.graphicsLevel < 0 ? QString() : QString::number(r.graphicsLevel),
                        QString::number(r.crashes),
                        r.crashModule,
                        r.download == QLatin1String("ok")               ? QStringLiteral("成功")
                                : r.download == QLatin1String("failed") ? QStringLiteral("失败")
                                                                        : QString(),
                        way,
                        placeText(r.downloadFrom),
                        r.download.isEmpty() ? QString() : QString::number(r.downloadBytes),
                        r.download.isEmpty() ? QString() : QString::number(r.downloadSeconds),
                        timeText(r.time),
                        isSilent(desktop, now, silentDays) ? QStringLiteral("是") : QStringLiteral("否") };
    if (table == Table::Csv)
        row << (r.downloadPatched < 0 ? QString() : QString::number(r.downloadPatched));
    return row;
}

QByteArray FleetPage::write(const Fleet &fleet, const QDateTime &now, int silentDays)
{
    const Fleet::Counts &counts = fleet.counts();
    QString page = QStringLiteral("<!DOCTYPE html>\n<html lang=\"zh-CN\">\n<head>\n<meta charset=\"utf-8\">\n"
                                  "<meta http-equiv=\"Content-Security-Policy\" content=\"default-src "
                                  "'none'; style-src 'unsafe-inline'\">\n"
                                  "<title>Fenestra 桌面电脑概况</title>\n<style>\n"
                                  "body{font-family:\"Microsoft YaHei\",sans-serif;margin:1.5em;color:#222}\n"
                                  "table{border-collapse:collapse;margin:.5em 0 1.5em}\n"
                                  "th,td{border:1px solid #ccc;padding:.2em .6em;text-align:left}\n"
                                  "th{background:#eef2f7}\n.axis{font-size:11px;fill:#555}\n"
                                  ".legend span{margin-right:1em}.legend "
                                  "i{display:inline-block;width:.8em;height:.8em;margin-right:.3em}\n"
                                  "</style>\n</head>\n<body>\n<h1>Fenestra 桌面电脑概况</h1>\n");
    int silent = 0;
    for (const Fleet::Desktop &desktop : fleet.desktops())
        silent += isSilent(desktop, now, silentDays) ? 1 : 0;
    page += QStringLiteral("<p>截至 %1：%2 台桌面电脑报告过，其中 %3 台超过 %4 天没有报告。</p>\n")
                    .arg(timeText(now))
                    .arg(fleet.desktops().size())
                    .arg(silent)
                    .arg(silentDays);
    page += QStringLiteral("<p>不发送报告的版本的更新检查：%1 次").arg(counts.withoutReport);
    if (counts.lastWithoutReport.isValid())
        page += QStringLiteral("，最近一次在 %1").arg(timeText(counts.lastWithoutReport));
    page += QStringLiteral("。读取 %1 行日志，%2 份报告，拒绝 %3 份不合规的报告，跳过 %4 行其他内容。</p>\n")
                    .arg(counts.lines)
                    .arg(counts.reports)
                    .arg(counts.refused)
                    .arg(counts.skipped);

    page += QStringLiteral("<h2>各版本</h2>\n<table>\n");
    page += cells({ QStringLiteral("版本"), QStringLiteral("桌面电脑"), QStringLiteral("试运行"),
                    QStringLiteral("已回滚"), QStringLiteral("运行时崩溃过") },
                  "th");
    for (const Fleet::VersionCounts &v : fleet.versions())
        page += cells({ v.version, QString::number(v.running), QString::number(v.trial),
                        QString::number(v.rolledBack), QString::number(v.crashed) },
                      "td");
    page += QStringLiteral("</table>\n");

    page += QStringLiteral("<h2>最近 %1 天各版本的桌面电脑</h2>\n").arg(chartDays);
    page += chart(fleet.history(now.toUTC().date(), chartDays));

    page += QStringLiteral("<h2>超过 %1 天没有报告的桌面电脑</h2>\n<table>\n").arg(silentDays);
    page += cells({ QStringLiteral("桌面电脑"), QStringLiteral("版本"), QStringLiteral("分组"),
                    QStringLiteral("最后报告") },
                  "th");
    for (const Fleet::Desktop &desktop : fleet.desktops())
        if (isSilent(desktop, now, silentDays))
            page += cells(
                    { desktop.last.id, desktop.last.version, desktop.last.ring, timeText(desktop.last.time) },
                    "td");
    page += QStringLiteral("</table>\n");

    page += QStringLiteral("<h2>桌面电脑</h2>\n<table>\n") + cells(desktopColumns(Table::Page), "th");
    for (const Fleet::Desktop &desktop : fleet.desktops())
        page += cells(desktopRow(desktop, now, silentDays, Table::Page), "td");
    page += QStringLiteral("</table>\n</body>\n</html>\n");
    return page.toUtf8();
}
