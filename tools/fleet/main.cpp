// Reads the channel server's access logs and writes the fleet page and its
// CSV: each desktop's last report, the silent ones, and per version how many
// run it, are on trial and rolled it back.
#include "fleet.h"
#include "fleetcsv.h"
#include "fleetpage.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QFile>
#include <QSaveFile>
#include <QTextStream>
#include <QTimeZone>

namespace {

QTextStream &err()
{
    static QTextStream stream(stderr);
    return stream;
}

int refuse(const QString &why)
{
    err() << "fenestra-fleet: " << why << Qt::endl;
    return 1;
}

bool writeFile(const QString &path, const QByteArray &content)
{
    QSaveFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(content) == content.size() && file.commit();
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
            "Writes the fleet page from the update channel server's access logs\n"
            "(nginx/Apache combined format or IIS W3C format).\n\n"
            "  fenestra-fleet [--html out.html] [--csv out.csv] [--silent-days N] [--now ISO-8601] log..."));
    parser.addHelpOption();
    parser.addPositionalArgument(QStringLiteral("log"), QStringLiteral("Access log files."),
                                 QStringLiteral("log..."));
    const QCommandLineOption html(QStringLiteral("html"), QStringLiteral("The page to write."),
                                  QStringLiteral("file"));
    const QCommandLineOption csv(QStringLiteral("csv"), QStringLiteral("The CSV to write."),
                                 QStringLiteral("file"));
    const QCommandLineOption silentDays(
            QStringLiteral("silent-days"),
            QStringLiteral("A desktop without a report for more days is silent (7)."), QStringLiteral("N"),
            QStringLiteral("7"));
    const QCommandLineOption now(
            QStringLiteral("now"),
            QStringLiteral("The time to measure silence from (the latest line's by default)."),
            QStringLiteral("ISO-8601"));
    parser.addOptions({ html, csv, silentDays, now });
    parser.process(app);

    const QStringList logs = parser.positionalArguments();
    if (logs.isEmpty())
        return refuse(QStringLiteral("no access log given (see --help)"));
    bool ok = false;
    const int days = parser.value(silentDays).toInt(&ok);
    if (!ok || days < 0 || days > 3650)
        return refuse(QStringLiteral("--silent-days wants a number of days from 0 to 3650"));
    QDateTime reference;
    if (parser.isSet(now)) {
        reference = QDateTime::fromString(parser.value(now), Qt::ISODate);
        if (!reference.isValid())
            return refuse(QStringLiteral("--now wants a time such as 2026-12-10T08:00:00Z"));
        if (reference.timeSpec() == Qt::LocalTime)
            reference.setTimeZone(QTimeZone::utc()); // the logs' times are UTC, so is a time without a zone
    }

    Fleet fleet;
    for (const QString &path : logs) {
        QFile log(path);
        if (!log.open(QIODevice::ReadOnly) || !fleet.read(log))
            return refuse(QStringLiteral("cannot read %1: %2").arg(path, log.errorString()));
    }
    if (!reference.isValid())
        reference = fleet.counts().latest.isValid() ? fleet.counts().latest : QDateTime::currentDateTimeUtc();

    if (parser.isSet(html) && !writeFile(parser.value(html), FleetPage::write(fleet, reference, days)))
        return refuse(QStringLiteral("cannot write %1").arg(parser.value(html)));
    if (parser.isSet(csv) && !writeFile(parser.value(csv), FleetCsv::write(fleet, reference, days)))
        return refuse(QStringLiteral("cannot write %1").arg(parser.value(csv)));
    const Fleet::Counts &counts = fleet.counts();
    QTextStream(stdout) << counts.lines << " lines, " << counts.reports << " reports from "
                        << fleet.desktops().size() << " desktops, " << counts.withoutReport
                        << " checks without a report, " << counts.refused << " refused, " << counts.skipped
                        << " skipped" << Qt::endl;
    return 0;
}
