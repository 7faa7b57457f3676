#pragma once

#include "fleet.h"

#include <QByteArray>
#include <QDateTime>
#include <QStringList>

// The fleet page: one HTML file that needs nothing else (inline style, an
// inline SVG chart, no script) for IT to open from a share or mail.
namespace FleetPage {

// Days the chart shows.
constexpr int chartDays = 14;

// Silent: no report for more than `silentDays` days before `now`.
bool isSilent(const Fleet::Desktop &desktop, const QDateTime &now, int silentDays);
// The desktop table's header and one desktop's cells, shared with the CSV.
QStringList desktopColumns();
QStringList desktopRow(const Fleet::Desktop &desktop, const QDateTime &now, int silentDays);

QByteArray write(const Fleet &fleet, const QDateTime &now, int silentDays);

} // namespace FleetPage
