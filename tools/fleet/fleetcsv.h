#pragma once

#include "fleet.h"

#include <QByteArray>
#include <QDateTime>

// The fleet as a CSV for spreadsheets: one row per desktop, RFC 4180, UTF-8
// with a byte order mark so that Excel reads the Chinese header.
namespace FleetCsv {

// A field quoted when it must be; one that a spreadsheet would take for a
// formula (=, +, -, @ first) is prefixed with '.
QByteArray field(const QString &value);
QByteArray write(const Fleet &fleet, const QDateTime &now, int silentDays);

} // namespace FleetCsv
