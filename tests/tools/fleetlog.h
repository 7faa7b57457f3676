#pragma once

#include <QByteArray>
#include <QDate>

// A channel server's access log in the combined format as a fleet writes it:
// `desktops` desktops check `lines` times in all over the `days` days up to
// `last`, moving from 1.0.0 to 1.1.0 halfway, some on trial, every tenth
// rolling 1.1.0 back; among them browsers' requests, the signature's and old
// versions' checks without a report. The same arguments give the same log.
namespace FleetLog {

struct Shape
{
    int lines = 100000;
    int desktops = 500;
    int days = 14;
    QDate last = QDate(2026, 12, 10);
};

QByteArray combined(const Shape &shape);
// The desktops the log shows, each with a report.
int desktopsIn(const Shape &shape);

} // namespace FleetLog
