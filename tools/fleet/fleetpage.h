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
// The page tells the files a download made from patches in its 下载方式
// cell; the CSV keeps that cell a word to filter by and tells them in a
// column after those IT's spreadsheets already know.
enum class Table { Page, Csv };
QStringList desktopColumns(Table table);
QStringList desktopRow(const Fleet::Desktop &desktop, const QDateTime &now, int silentDays, Table table);

QByteArray write(const Fleet &fleet, const QDateTime &now, int silentDays);

} // namespace FleetPage
