#include "fleetlog.h"

#include <QLocale>
#include <QTimeZone>

namespace FleetLog {

namespace {

QByteArray idOf(int desktop)
{
    return QByteArray::number(desktop, 16).rightJustified(32, '0');
}

QByteArray line(const QDateTime &time, const QByteArray &target, int status)
{
    return "10.0.0.7 - - [" + QLocale::c().toString(time, QStringLiteral("dd/MMM/yyyy:HH:mm:ss")).toLatin1()
            + " +0000] \"GET " + target + " HTTP/1.1\" " + QByteArray::number(status)
            + " 731 \"-\" \"Mozilla/5.0 (Windows NT 10.0; Win64; x64) QtWebEngine/6.8.2\"\n";
}

} // namespace

QByteArray combined(const Shape &shape)
{
    QByteArray log;
    log.reserve(qsizetype(shape.lines) * 260);
    const QDateTime start(shape.last.addDays(1 - shape.days), QTime(0, 0), QTimeZone::utc());
    const qint64 span = qint64(shape.days) * 24 * 3600;
    for (int i = 0; i < shape.lines; ++i) {
        const QDateTime time = start.addSecs(span * i / shape.lines);
        switch (i % 20) {
        case 0:
            log += line(time, "/favicon.ico", 404);
            continue;
        case 1:
            log += line(time, "/appindex/fenestra/manifest.json.minisig", 200);
            continue;
        case 2:
            log += line(time, "/appindex/fenestra/manifest.json", 200);
            continue;
        default:
            break;
        }
        const int desktop = i % shape.desktops;
        const bool moved = i >= shape.lines / 2;
        const bool rolledBack = moved && desktop % 10 == 0;
        QByteArray query = "id=" + idOf(desktop);
        query += moved && !rolledBack ? "&v=1.1.0&prev=1.0.0" : "&v=1.0.0";
        query += moved && desktop % 4 == 1 ? "&trial=1" : "&trial=0";
        query += desktop % 3 == 0 ? "&ring=pilot" : "&ring=hall-2";
        query += rolledBack ? "&bad=1&lastbad=1.1.0" : "&bad=0";
        query += "&os=windows-x86_64";
        // One desktop in 25 has a graphics driver that crashed once the new version came.
        const bool badDriver = desktop % 25 == 7;
        query += badDriver && moved ? "&gfx=1&crashes=1&crashmod=igd10iumd64.dll" : "&gfx=0&crashes=0";
        log += line(time, "/appindex/fenestra/manifest.json?" + query, i % 7 == 0 ? 304 : 200);
    }
    return log;
}

int desktopsIn(const Shape &shape)
{
    int seen = 0;
    for (int desktop = 0; desktop < shape.desktops; ++desktop) {
        // Desktop d reports in lines d, d + desktops, ... unless all of those are other requests.
        for (int i = desktop; i < shape.lines; i += shape.desktops) {
            if (i % 20 > 2) {
                ++seen;
                break;
            }
        }
    }
    return seen;
}

} // namespace FleetLog
