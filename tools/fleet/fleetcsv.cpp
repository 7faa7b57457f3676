#include "fleetcsv.h"

#include "fleetpage.h"

QByteArray FleetCsv::field(const QString &value)
{
    QString text = value;
    if (!text.isEmpty() && QStringLiteral("=+-@").contains(text.front()))
        text.prepend(u'\'');
    if (text.contains(u',') || text.contains(u'"') || text.contains(u'\n') || text.contains(u'\r'))
        text = u'"' + QString(text).replace(u'"', QStringLiteral("\"\"")) + u'"';
    return text.toUtf8();
}

QByteArray FleetCsv::write(const Fleet &fleet, const QDateTime &now, int silentDays)
{
    QByteArray out("\xEF\xBB\xBF");
    const auto row = [&out](const QStringList &values) {
        for (qsizetype i = 0; i < values.size(); ++i) {
            if (i > 0)
                out += ',';
            out += field(values[i]);
        }
        out += "\r\n";
    };
    row(FleetPage::desktopColumns(FleetPage::Table::Csv));
    for (const Fleet::Desktop &desktop : fleet.desktops())
        row(FleetPage::desktopRow(desktop, now, silentDays, FleetPage::Table::Csv));
    return out;
}
