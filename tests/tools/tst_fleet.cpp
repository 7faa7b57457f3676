#include "demoserver.h"
#include "fleet.h"
#include "fleetcsv.h"
#include "fleetlog.h"
#include "fleetpage.h"

#include <QBuffer>
#include <QProcess>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTimeZone>
#include <QtTest>

namespace {

const QByteArray iisFields =
        "#Software: Microsoft Internet Information Services 10.0\n#Version: 1.0\n"
        "#Fields: date time s-ip cs-method cs-uri-stem cs-uri-query s-port cs-username c-ip "
        "cs(User-Agent) cs(Referer) sc-status sc-substatus sc-win32-status time-taken\n";
const QByteArray report = "id=00112233445566778899aabbccddeeff&v=1.1.0&prev=1.0.0&trial=1&ring=pilot&bad=1"
                          "&lastbad=1.0.5&os=windows-x86_64";

QByteArray combinedLine(const QByteArray &target, const QByteArray &status = "200",
                        const QByteArray &time = "10/Dec/2026:08:00:00 +0100")
{
    return "192.168.1.20 - - [" + time + "] \"GET " + target + " HTTP/1.1\" " + status
            + " 512 \"-\" \"Mozilla/5.0 (Windows NT 10.0; Win64; x64)\"\n";
}

QByteArray iisLine(const QByteArray &stem, const QByteArray &query, const QByteArray &status = "200")
{
    return "2026-12-10 07:00:00 10.0.0.1 GET " + stem + ' ' + (query.isEmpty() ? "-" : query)
            + " 80 - 192.168.1.20 Mozilla/5.0 - " + status + " 0 0 15\n";
}

QByteArray check(const QByteArray &query)
{
    return combinedLine("/appindex/fenestra/manifest.json?" + query);
}

Fleet fleetOf(const QList<QByteArray> &logs)
{
    Fleet fleet;
    for (QByteArray log : logs) {
        QBuffer buffer(&log);
        buffer.open(QIODevice::ReadOnly);
        if (!fleet.read(buffer))
            qFatal("a buffer could not be read");
    }
    return fleet;
}

QByteArray reportAt(const QByteArray &time, const QByteArray &id, const QByteArray &rest)
{
    return combinedLine("/manifest.json?id=" + id + "&v=" + rest, "200", time);
}

} // namespace

class TestFleet : public QObject
{
    Q_OBJECT

private slots:
    void lines_data();
    void lines();
    void reportValues();
    void lastReportWins();
    void versionCounts();
    void silence_data();
    void silence();
    void history();
    void csvField_data();
    void csvField();
    void hostileValuesNeverReachThePage();
    void realProgram();
    void demoServersLog();
    void programRefuses_data();
    void programRefuses();
};

void TestFleet::lines_data()
{
    QTest::addColumn<QByteArray>("log");
    QTest::addColumn<int>("reports");
    QTest::addColumn<int>("withoutReport");
    QTest::addColumn<int>("refused");
    QTest::addColumn<int>("skipped");

    const QByteArray manifest = "/appindex/fenestra/manifest.json";
    QTest::newRow("combined report") << check(report) << 1 << 0 << 0 << 0;
    QTest::newRow("not modified") << combinedLine(manifest + '?' + report, "304") << 1 << 0 << 0 << 0;
    QTest::newRow("CRLF") << check(report).replace("\n", "\r\n") << 1 << 0 << 0 << 0;
    QTest::newRow("old version without query") << combinedLine(manifest) << 0 << 1 << 0 << 0;
    QTest::newRow("signature") << combinedLine(manifest + ".minisig?" + report) << 0 << 0 << 0 << 1;
    QTest::newRow("other manifest name") << combinedLine("/x/mymanifest.json?" + report) << 0 << 0 << 0 << 1;
    QTest::newRow("not found") << combinedLine(manifest + '?' + report, "404") << 0 << 0 << 0 << 1;
    QTest::newRow("server error") << combinedLine(manifest + '?' + report, "500") << 0 << 0 << 0 << 1;
    QTest::newRow("POST") << combinedLine(manifest).replace("GET", "POST") << 0 << 0 << 0 << 1;
    QTest::newRow("browser's page") << combinedLine("/index.html") << 0 << 0 << 0 << 1;
    QTest::newRow("favicon") << combinedLine("/favicon.ico", "404") << 0 << 0 << 0 << 1;
    QTest::newRow("garbage") << QByteArray("hello world\n\n\x01\x02\xff\n") << 0 << 0 << 0 << 3;
    QTest::newRow("cut short") << combinedLine(manifest).left(60) + '\n' << 0 << 0 << 0 << 1;
    QTest::newRow("bad month") << combinedLine(manifest, "200", "10/Dez/2026:08:00:00 +0100") << 0 << 0 << 0
                               << 1;
    QTest::newRow("bad day") << combinedLine(manifest, "200", "31/Feb/2026:08:00:00 +0100") << 0 << 0 << 0
                             << 1;
    QTest::newRow("bad status") << combinedLine(manifest, "2x0") << 0 << 0 << 0 << 1;
    QTest::newRow("binary request") << combinedLine("\\x16\\x03\\x01") << 0 << 0 << 0 << 1;
    QTest::newRow("too long, then a report")
            << combinedLine(manifest + '?' + report + "&x=" + QByteArray(9000, 'a')) + check(report) << 1 << 0
            << 0 << 1;
    QTest::newRow("longer than a read, then a report")
            << QByteArray(600 * 1024, 'a') + '\n' + check(report) << 1 << 0 << 0 << 1;
    QTest::newRow("ends in a long line") << check(report) + QByteArray(600 * 1024, 'a') << 1 << 0 << 0 << 1;
    QTest::newRow("no newline at the end") << check(report).chopped(1) << 1 << 0 << 0 << 0;

    QTest::newRow("IIS report") << iisFields + iisLine(manifest, report) << 1 << 0 << 0 << 0;
    QTest::newRow("IIS without query") << iisFields + iisLine(manifest, {}) << 0 << 1 << 0 << 0;
    QTest::newRow("IIS signature") << iisFields + iisLine(manifest + ".minisig", {}) << 0 << 0 << 0 << 1;
    QTest::newRow("IIS 404") << iisFields + iisLine(manifest, report, "404") << 0 << 0 << 0 << 1;
    QTest::newRow("IIS other columns") << "#Fields: sc-status cs-uri-query time date cs-uri-stem\n200 "
                    + report + " 07:00:00 2026-12-10 /c/manifest.json\n"
                                       << 1 << 0 << 0 << 0;
    QTest::newRow("IIS column missing") << iisFields + "2026-12-10 07:00:00 GET " + manifest + '\n'
                                        << 0 << 0 << 0 << 1;
    QTest::newRow("IIS without sc-status")
            << "#Fields: date time cs-uri-stem cs-uri-query\n2026-12-10 07:00:00 " + manifest + ' ' + report
                    + '\n'
            << 0 << 0 << 0 << 1;
    QTest::newRow("IIS bad time") << iisFields + iisLine(manifest, report).replace("07:00:00", "25:00:00")
                                  << 0 << 0 << 0 << 1;
    QTest::newRow("combined line after IIS fields") << iisFields + check(report) << 0 << 0 << 0 << 1;

    QTest::newRow("ring <script>") << check(report + "&ring=%3Cscript%3E") << 0 << 0 << 1 << 0;
    QTest::newRow("ring twice") << check(report + "&ring=hall") << 0 << 0 << 1 << 0;
    QTest::newRow("version =cmd|") << check("id=00112233445566778899aabbccddeeff&v=%3Dcmd%7C") << 0 << 0 << 1
                                   << 0;
    QTest::newRow("previous =cmd|") << check("id=00112233445566778899aabbccddeeff&v=1&prev=%3Dcmd%7C") << 0
                                    << 0 << 1 << 0;
    QTest::newRow("version too long")
            << check("id=00112233445566778899aabbccddeeff&v=" + QByteArray(65, '1')) << 0 << 0 << 1 << 0;
    QTest::newRow("version a device name")
            << check("id=00112233445566778899aabbccddeeff&v=CON") << 0 << 0 << 1 << 0;
    QTest::newRow("no version") << check("id=00112233445566778899aabbccddeeff") << 0 << 0 << 1 << 0;
    QTest::newRow("short id") << check("id=0011&v=1.0") << 0 << 0 << 1 << 0;
    QTest::newRow("upper-case id") << check("id=00112233445566778899AABBCCDDEEFF&v=1.0") << 0 << 0 << 1 << 0;
    QTest::newRow("trial 2") << check("id=00112233445566778899aabbccddeeff&v=1.0&trial=2") << 0 << 0 << 1
                             << 0;
    QTest::newRow("bad count too high")
            << check("id=00112233445566778899aabbccddeeff&v=1.0&bad=10000") << 0 << 0 << 1 << 0;
    QTest::newRow("os with a slash") << check("id=00112233445566778899aabbccddeeff&v=1.0&os=a%2Fb") << 0 << 0
                                     << 1 << 0;
    QTest::newRow("a later field is ignored") << check(report + "&future=2") << 1 << 0 << 0 << 0;
    QTest::newRow("graphics level 4") << check(report + "&gfx=4") << 0 << 0 << 1 << 0;
    QTest::newRow("crashes over a million") << check(report + "&crashes=10000000") << 0 << 0 << 1 << 0;
    QTest::newRow("crash module with a folder")
            << check(report + "&crashmod=C%3A%5Cx%5Cy.dll") << 0 << 0 << 1 << 0;
    QTest::newRow("crash module <b>") << check(report + "&crashmod=%3Cb%3E") << 0 << 0 << 1 << 0;
    QTest::newRow("download neither ok nor failed") << check(report + "&dl=maybe") << 0 << 0 << 1 << 0;
    QTest::newRow("negative download bytes") << check(report + "&dl=ok&dlbytes=-1") << 0 << 0 << 1 << 0;
    QTest::newRow("downloaded neither by files nor by package")
            << check(report + "&dl=ok&dlvia=%3Cb%3E") << 0 << 0 << 1 << 0;
    QTest::newRow("downloaded from a place no shell names")
            << check(report + "&dl=ok&dlfrom=%5C%5Cfs%5Cshare") << 0 << 0 << 1 << 0;
    QTest::newRow("patched files not a count")
            << check(report + "&dl=ok&dlvia=files&dlpatched=-1") << 0 << 0 << 1 << 0;
    QTest::newRow("patched files beside a package")
            << check(report + "&dl=ok&dlvia=package&dlpatched=2") << 1 << 0 << 0 << 0;
    QTest::newRow("patched files over a million")
            << check(report + "&dl=ok&dlvia=files&dlpatched=10000000") << 0 << 0 << 1 << 0;
}

void TestFleet::lines()
{
    QFETCH(QByteArray, log);
    QFETCH(int, reports);
    QFETCH(int, withoutReport);
    QFETCH(int, refused);
    QFETCH(int, skipped);
    const Fleet fleet = fleetOf({ log });
    QCOMPARE(fleet.counts().reports, reports);
    QCOMPARE(fleet.counts().withoutReport, withoutReport);
    QCOMPARE(fleet.counts().refused, refused);
    QCOMPARE(fleet.counts().skipped, skipped);
    QCOMPARE(fleet.desktops().size(), reports);
}

void TestFleet::reportValues()
{
    // Percent-encoded as a proxy might log it, in an offset time zone.
    const Fleet fleet = fleetOf({ combinedLine(
            "/c/manifest.json?id=00112233445566778899aabbccddeeff&v=1%2E2.0"
            "&pending=1.3&trial=0&ring=hall_2&bad=12&os=linux-x86_64&gfx=2&crashes=31"
            "&crashmod=libGLESv2.dll&dl=failed&dlvia=files&dlfrom=share&dlbytes=140509184&dlsec=1800"
            "&dlpatched=3",
            "200", "09/Dec/2026:23:30:00 -0500") });
    QCOMPARE(fleet.desktops().size(), 1);
    const Fleet::Report r = fleet.desktops().first().last;
    QCOMPARE(r.id, QStringLiteral("00112233445566778899aabbccddeeff"));
    QCOMPARE(r.version, QStringLiteral("1.2.0"));
    QCOMPARE(r.previous, QString());
    QCOMPARE(r.pending, QStringLiteral("1.3"));
    QCOMPARE(r.trial, false);
    QCOMPARE(r.ring, QStringLiteral("hall_2"));
    QCOMPARE(r.bad, 12);
    QCOMPARE(r.os, QStringLiteral("linux-x86_64"));
    QCOMPARE(r.graphicsLevel, 2);
    QCOMPARE(r.crashes, 31);
    QCOMPARE(r.crashModule, QStringLiteral("libGLESv2.dll"));
    QCOMPARE(r.download, QStringLiteral("failed"));
    QCOMPARE(r.downloadBytes, 140509184);
    QCOMPARE(r.downloadSeconds, 1800);
    QCOMPARE(r.downloadVia, QStringLiteral("files"));
    QCOMPARE(r.downloadPatched, 3);
    using FleetPage::Table;
    const auto cell = [&](Table table, const QString &column) {
        return FleetPage::desktopRow(fleet.desktops().first(), r.time, 7, table)
                .value(FleetPage::desktopColumns(table).indexOf(column));
    };
    QCOMPARE(cell(Table::Page, QStringLiteral("下载方式")), QStringLiteral("按文件（3 个补丁）"));
    QCOMPARE(cell(Table::Page, QStringLiteral("下载来源")), QStringLiteral("共享文件夹"));
    // The CSV's columns stay as IT's spreadsheets know them; the patches come last.
    QCOMPARE(cell(Table::Csv, QStringLiteral("下载方式")), QStringLiteral("按文件"));
    QCOMPARE(FleetPage::desktopColumns(Table::Csv).sliced(0, FleetPage::desktopColumns(Table::Page).size()),
             FleetPage::desktopColumns(Table::Page));
    QCOMPARE(FleetPage::desktopColumns(Table::Csv).constLast(), QStringLiteral("补丁文件数"));
    QCOMPARE(cell(Table::Csv, QStringLiteral("补丁文件数")), QStringLiteral("3"));
    QCOMPARE(r.time, QDateTime(QDate(2026, 12, 10), QTime(4, 30), QTimeZone::utc()));
}

void TestFleet::lastReportWins()
{
    const QByteArray id = "00112233445566778899aabbccddeeff";
    // The newer log first, as a shell glob may order rotated files.
    const Fleet fleet = fleetOf({ reportAt("10/Dec/2026:08:00:00 +0000", id, "1.1.0&prev=1.0.0"),
                                  reportAt("09/Dec/2026:08:00:00 +0000", id, "1.0.0") });
    QCOMPARE(fleet.desktops().value(QString::fromLatin1(id)).last.version, QStringLiteral("1.1.0"));
    QCOMPARE(fleet.counts().latest, QDateTime(QDate(2026, 12, 10), QTime(8, 0), QTimeZone::utc()));
}

void TestFleet::versionCounts()
{
    const QByteArray a = QByteArray(31, '0') + 'a', b = QByteArray(31, '0') + 'b',
                     c = QByteArray(31, '0') + 'c', d = QByteArray(31, '0') + 'd',
                     e = QByteArray(31, '0') + 'e';
    const QByteArray day1 = "08/Dec/2026:08:00:00 +0000", day2 = "09/Dec/2026:08:00:00 +0000",
                     day3 = "10/Dec/2026:08:00:00 +0000";
    // a: took 1.10 on trial. b: took 1.10, rolled it back to 1.9. c: rolled
    // back 1.8 long ago, took 1.10 since (its last report no longer names 1.8
    // only because a later rollback replaced it), and crashed on it. d: on 1.9
    // all along, with crashes from long ago that never grew. e: crashed right
    // after it took 1.10, before the first check of it.
    const Fleet fleet = fleetOf({
            reportAt(day1, a, "1.9") + reportAt(day3, a, "1.10&prev=1.9&trial=1"),
            reportAt(day1, b, "1.9") + reportAt(day2, b, "1.10&prev=1.9&trial=1")
                    + reportAt(day3, b, "1.9&bad=1&lastbad=1.10"),
            // The later log first: crashes are told apart in any order.
            reportAt(day3, c, "1.10&prev=1.7&bad=2&lastbad=1.9&crashes=2"),
            reportAt(day1, c, "1.7&bad=1&lastbad=1.8")
                    + reportAt(day2, c, "1.10&prev=1.7&bad=2&lastbad=1.9&crashes=0"),
            reportAt(day1, d, "1.9&crashes=5") + reportAt(day3, d, "1.9&crashes=5"),
            reportAt(day3, e, "1.10&prev=1.9&crashes=1") + reportAt(day1, e, "1.9&crashes=0"),
    });
    const QList<Fleet::VersionCounts> versions = fleet.versions();
    QStringList names;
    for (const Fleet::VersionCounts &v : versions)
        names << v.version;
    // Numerically ordered, newest first: 1.10 after 1.9 is not a string order.
    QCOMPARE(names, (QStringList { "1.10", "1.9", "1.8" })); // 1.7: nobody runs it, nobody rolled it back
    const auto counts = [&](int i) {
        return QList<int> { versions[i].running, versions[i].trial, versions[i].rolledBack,
                            versions[i].crashed };
    };
    // 1.10: a, c and e run it, a on trial, b rolled it back, c and e crashed on it.
    QCOMPARE(counts(0), (QList<int> { 3, 1, 1, 2 }));
    QCOMPARE(counts(1), (QList<int> { 2, 0, 1, 0 })); // 1.9: b and d, c rolled it back
    QCOMPARE(counts(2), (QList<int> { 0, 0, 1, 0 })); // 1.8: c rolled it back

    const QByteArray page =
            FleetPage::write(fleet, QDateTime(QDate(2026, 12, 10), QTime(9, 0), QTimeZone::utc()), 7);
    QVERIFY(page.contains("<tr><td>1.10</td><td>3</td><td>1</td><td>1</td><td>2</td></tr>"));
    QVERIFY(page.contains("<tr><td>1.8</td><td>0</td><td>0</td><td>1</td><td>0</td></tr>"));
}

void TestFleet::silence_data()
{
    QTest::addColumn<QDateTime>("now");
    QTest::addColumn<int>("silentDays");
    QTest::addColumn<bool>("silent");
    const QDateTime last(QDate(2026, 12, 1), QTime(8, 0), QTimeZone::utc());
    QTest::newRow("just reported") << last << 7 << false;
    QTest::newRow("exactly 7 days") << last.addDays(7) << 7 << false;
    QTest::newRow("7 days and a second") << last.addDays(7).addSecs(1) << 7 << true;
    QTest::newRow("0 days, a second later") << last.addSecs(1) << 0 << true;
    QTest::newRow("now before the report") << last.addDays(-1) << 0 << false;
    QTest::newRow("30 days, 29 passed") << last.addDays(29) << 30 << false;
}

void TestFleet::silence()
{
    QFETCH(QDateTime, now);
    QFETCH(int, silentDays);
    QFETCH(bool, silent);
    const Fleet fleet =
            fleetOf({ reportAt("01/Dec/2026:08:00:00 +0000", "00112233445566778899aabbccddeeff", "1.0") });
    QCOMPARE(FleetPage::isSilent(fleet.desktops().first(), now, silentDays), silent);
    const QByteArray csv = FleetCsv::write(fleet, now, silentDays);
    // After 沉默, the patched files of a download it never told.
    QVERIFY(csv.endsWith(silent ? ",是,\r\n" : ",否,\r\n"));
}

void TestFleet::history()
{
    const QByteArray a = QByteArray(31, '0') + 'a', b = QByteArray(31, '0') + 'b';
    const Fleet fleet = fleetOf({
            // a moves to 1.1 in the evening of the 9th: that day counts 1.1.
            reportAt("09/Dec/2026:08:00:00 +0000", a, "1.0")
                    + reportAt("09/Dec/2026:18:00:00 +0000", a, "1.1")
                    + reportAt("10/Dec/2026:08:00:00 +0000", a, "1.1"),
            // b is silent on the 10th; its report at 23:30 -0100 is the 10th in UTC.
            reportAt("09/Dec/2026:08:00:00 +0000", b, "1.0")
                    + reportAt("01/Nov/2026:08:00:00 +0000", b, "0.9")
                    + reportAt("09/Dec/2026:23:30:00 -0100", b, "1.0"),
    });
    const QList<Fleet::Day> days = fleet.history(QDate(2026, 12, 10), 3);
    QCOMPARE(days.size(), 3);
    QCOMPARE(days[0].date, QDate(2026, 12, 8));
    QVERIFY(days[0].desktops.isEmpty());
    QCOMPARE(days[1].desktops, (QMap<QString, int> { { "1.1", 1 }, { "1.0", 1 } }));
    QCOMPARE(days[2].desktops, (QMap<QString, int> { { "1.1", 1 }, { "1.0", 1 } }));
    // Outside the window: the report of the 1st is not drawn.
    const QByteArray page =
            FleetPage::write(fleet, QDateTime(QDate(2026, 12, 10), QTime(9, 0), QTimeZone::utc()), 7);
    QVERIFY(page.contains("<title>12-09 1.1：1</title>"));
    QVERIFY(!page.contains("0.9："));
}

void TestFleet::csvField_data()
{
    QTest::addColumn<QString>("value");
    QTest::addColumn<QByteArray>("field");
    QTest::newRow("plain") << "1.1.0" << QByteArray("1.1.0");
    QTest::newRow("empty") << "" << QByteArray("");
    QTest::newRow("comma") << "a,b" << QByteArray("\"a,b\"");
    QTest::newRow("quote") << "a\"b" << QByteArray("\"a\"\"b\"");
    QTest::newRow("newline") << "a\nb" << QByteArray("\"a\nb\"");
    QTest::newRow("carriage return") << "a\rb" << QByteArray("\"a\rb\"");
    QTest::newRow("formula") << "=cmd|' /C calc'!A0" << QByteArray("'=cmd|' /C calc'!A0");
    QTest::newRow("plus") << "+1" << QByteArray("'+1");
    QTest::newRow("minus, a valid ring") << "-ring" << QByteArray("'-ring");
    QTest::newRow("at") << "@SUM(A1)" << QByteArray("'@SUM(A1)");
    QTest::newRow("formula with a comma") << "=1,2" << QByteArray("\"'=1,2\"");
    QTest::newRow("equals inside") << "a=b" << QByteArray("a=b");
    QTest::newRow("chinese") << "是" << QByteArray("是");
}

void TestFleet::csvField()
{
    QFETCH(QString, value);
    QFETCH(QByteArray, field);
    QCOMPARE(FleetCsv::field(value), field);
}

void TestFleet::hostileValuesNeverReachThePage()
{
    const QByteArray id = "00112233445566778899aabbccddeeff";
    const Fleet fleet = fleetOf({
            check("id=" + id + "&v=1.0&ring=%3Cscript%3Ealert(1)%3C%2Fscript%3E"),
            check("id=" + id + "&v=%3Dcmd%7C%27%20%2FC%20calc%27%21A0"),
            check("id=" + id + "&v=1.0&ring=<img>"),
            check("id=" + id + "&v=1.0&ring=-2%2B3"),
            check("id=" + id + "&v=-1&ring=-cmd"),
    });
    QCOMPARE(fleet.counts().refused, 4);
    const QDateTime now(QDate(2026, 12, 10), QTime(9, 0), QTimeZone::utc());
    const QByteArray page = FleetPage::write(fleet, now, 7);
    const QByteArray csv = FleetCsv::write(fleet, now, 7);
    for (const QByteArray &text : { page, csv }) {
        QVERIFY(!text.contains("script"));
        QVERIFY(!text.contains("<img"));
        QVERIFY(!text.contains("cmd|"));
    }
    // What the shell may send but a spreadsheet would run is defused.
    QVERIFY(csv.contains(",'-1,"));
    QVERIFY(csv.contains(",'-cmd,"));
    QCOMPARE(csv.count("\r\n"), 2);
}

void TestFleet::realProgram()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const FleetLog::Shape shape;
    QFile log(dir.filePath(QStringLiteral("访问 日志.log")));
    QVERIFY(log.open(QIODevice::WriteOnly));
    log.write(FleetLog::combined(shape));
    log.close();
    // An IIS log beside it with one more desktop, silent for two days.
    QFile iis(dir.filePath(QStringLiteral("u_ex261210.log")));
    QVERIFY(iis.open(QIODevice::WriteOnly));
    iis.write(iisFields
              + iisLine("/appindex/fenestra/manifest.json", report).replace("2026-12-10", "2026-12-08"));
    iis.close();

    QProcess tool;
    tool.start(QStringLiteral(FENESTRA_FLEET_TOOL),
               { QStringLiteral("--html"), dir.filePath(QStringLiteral("fleet.html")),
                 QStringLiteral("--csv"), dir.filePath(QStringLiteral("fleet.csv")),
                 QStringLiteral("--silent-days"), QStringLiteral("1"), log.fileName(), iis.fileName() });
    QVERIFY(tool.waitForFinished(120000));
    QCOMPARE(tool.exitStatus(), QProcess::NormalExit);
    QCOMPARE(tool.exitCode(), 0);
    const QByteArray summary = tool.readAllStandardOutput();
    QVERIFY2(summary.startsWith("100004 lines"), summary.constData()); // and the IIS log's 4

    QFile csvFile(dir.filePath(QStringLiteral("fleet.csv")));
    QVERIFY(csvFile.open(QIODevice::ReadOnly));
    const QList<QByteArray> rows = csvFile.readAll().split('\n');
    const int desktops = FleetLog::desktopsIn(shape) + 1;
    QCOMPARE(rows.size(), desktops + 2); // header, desktops, and the empty rest after the last line end
    // The generated desktops run 1.1.0 unless they rolled it back (every
    // tenth); the IIS desktop runs 1.1.0 too. All reported on the log's last
    // day, so within a day of its latest line, except the IIS desktop.
    // One in 25 fell back a graphics level after a crash in its driver.
    int running110 = 0, rolledBack = 0, silent = 0, crashed = 0;
    const QStringList header = FleetPage::desktopColumns(FleetPage::Table::Csv);
    const int columns = int(header.size());
    const qsizetype silentColumn = header.indexOf(QStringLiteral("沉默"));
    for (const QByteArray &row : rows.mid(1, desktops)) {
        const QList<QByteArray> fields = row.trimmed().split(',');
        QCOMPARE(fields.size(), columns);
        running110 += fields[1] == "1.1.0" ? 1 : 0;
        rolledBack += fields[7] == "1.1.0" ? 1 : 0;
        silent += fields[silentColumn] == "是" ? 1 : 0;
        crashed += fields[9] == "1" && fields[10] == "1" && fields[11] == "igd10iumd64.dll" ? 1 : 0;
    }
    // Desktops 7, 32, 57 … of 500; 82, 182 … send only other requests.
    QCOMPARE(crashed, 15);
    QCOMPARE(running110 + rolledBack, desktops);
    QVERIFY(rolledBack > 0);
    QCOMPARE(silent, 1);

    QFile page(dir.filePath(QStringLiteral("fleet.html")));
    QVERIFY(page.open(QIODevice::ReadOnly));
    const QByteArray html = page.readAll();
    QVERIFY(html.contains(QStringLiteral("<tr><td>1.1.0</td><td>%1</td>").arg(running110).toUtf8()));
    QVERIFY(html.contains("<td>15</td></tr>")); // the desktops whose driver crashed on 1.1.0
    QVERIFY(html.contains(QStringLiteral("<tr><td>1.0.0</td><td>%1</td><td>0</td><td>0</td><td>0</td></tr>")
                                  .arg(rolledBack)
                                  .toUtf8()));
    QVERIFY(html.contains("<svg"));
    QVERIFY(!html.contains("<script"));
    QVERIFY(!html.contains("http:") && !html.contains("https:"));
    QCOMPARE(html.count("<td>是</td></tr>"), 1);
}

void TestFleet::demoServersLog()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    QFile manifest(dir.filePath(QStringLiteral("manifest.json")));
    QVERIFY(manifest.open(QIODevice::WriteOnly));
    manifest.write("{}");
    manifest.close();
    // The demo server does not tell which port 0 chose: take a free one first.
    QTcpServer probe;
    QVERIFY(probe.listen(QHostAddress::LocalHost));
    const quint16 port = probe.serverPort();
    probe.close();
    DemoServer server;
    server.setReleaseChannel(dir.path());
    server.setAccessLog(dir.filePath(QStringLiteral("access.log")));
    QVERIFY(server.listen(port));
    // A quote in the target, and a backslash and a control byte in the agent, must not break the line's
    // fields.
    for (const QByteArray &target : { "/appindex/fenestra/manifest.json?" + report + "&note=a\"b",
                                      QByteArray("/appindex/fenestra/manifest.json"),
                                      QByteArray("/appindex/fenestra/manifest.json.minisig") }) {
        QTcpSocket socket;
        socket.connectToHost(QHostAddress::LocalHost, port);
        QVERIFY(socket.waitForConnected(5000));
        socket.write(
                "GET " + target
                + " HTTP/1.1\r\nHost: 127.0.0.1\r\nUser-Agent: a\"b\\c\x01\r\nConnection: close\r\n\r\n");
        QByteArray answer;
        QTRY_VERIFY((answer += socket.readAll()).contains("\r\n\r\n"));
        QVERIFY2(answer.startsWith("HTTP/1.1 "), answer.constData());
    }
    QFile log(dir.filePath(QStringLiteral("access.log")));
    QVERIFY(log.open(QIODevice::ReadOnly));
    Fleet fleet;
    QVERIFY(fleet.read(log));
    QCOMPARE(fleet.counts().lines, 3);
    QCOMPARE(fleet.counts().reports, 1);
    QCOMPARE(fleet.counts().withoutReport, 1);
    QCOMPARE(fleet.counts().skipped, 1); // the signature, 404 here
}

void TestFleet::programRefuses_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QByteArray>("message");
    QTest::newRow("no log") << QStringList {} << QByteArray("no access log");
    QTest::newRow("missing log") << QStringList { "does-not-exist.log" } << QByteArray("cannot read");
    QTest::newRow("days not a number")
            << QStringList { "--silent-days", "x", "a.log" } << QByteArray("--silent-days");
    QTest::newRow("negative days") << QStringList { "--silent-days", "-1", "a.log" }
                                   << QByteArray("--silent-days");
    QTest::newRow("now not a time") << QStringList { "--now", "yesterday", "a.log" } << QByteArray("--now");
    QTest::newRow("page in a missing folder")
            << QStringList { "--html", "no/such/folder/fleet.html", "a.log" } << QByteArray("cannot write");
}

void TestFleet::programRefuses()
{
    QFETCH(QStringList, arguments);
    QFETCH(QByteArray, message);
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    QFile log(dir.filePath(QStringLiteral("a.log")));
    QVERIFY(log.open(QIODevice::WriteOnly));
    log.write(check(report));
    log.close();
    QProcess tool;
    tool.setWorkingDirectory(dir.path());
    tool.start(QStringLiteral(FENESTRA_FLEET_TOOL), arguments);
    QVERIFY(tool.waitForFinished(30000));
    QCOMPARE(tool.exitCode(), 1);
    QVERIFY2(tool.readAllStandardError().contains(message), message.constData());
    QCOMPARE(QDir(dir.path()).entryList(QDir::Files), QStringList { QStringLiteral("a.log") });
}

QTEST_GUILESS_MAIN(TestFleet)
#include "tst_fleet.moc"
