// The fleet tool on a channel server's log of 100,000 lines (or as many as
// the first argument says): the time to read it and to write the page and
// the CSV.
#include "fleet.h"
#include "fleetcsv.h"
#include "fleetlog.h"
#include "fleetpage.h"

#include <QBuffer>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTextStream>

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    FleetLog::Shape shape;
    if (argc > 1)
        shape.lines = std::max(1, QByteArray(argv[1]).toInt());
    QByteArray log = FleetLog::combined(shape);
    QTextStream out(stdout);
    for (int round = 0; round < 3; ++round) {
        QElapsedTimer timer;
        timer.start();
        QBuffer buffer(&log);
        buffer.open(QIODevice::ReadOnly);
        Fleet fleet;
        fleet.read(buffer);
        const qint64 read = timer.nsecsElapsed();
        const QDateTime now = fleet.counts().latest;
        const qsizetype written =
                FleetPage::write(fleet, now, 7).size() + FleetCsv::write(fleet, now, 7).size();
        const qint64 all = timer.nsecsElapsed();
        out << shape.lines << " lines (" << log.size() / 1024 << " KiB), " << fleet.desktops().size()
            << " desktops: read " << read / 1000000 << " ms, read and written (" << written / 1024 << " KiB) "
            << all / 1000000 << " ms" << Qt::endl;
    }
    return 0;
}
