// Downloads a 512 MiB file through SynServDb and, in the same run, with curl,
// both from nginx on loopback in a process of its own, and prints both
// throughputs (median of three rounds), their ratio and how much SynServDb grew
// the process's peak memory.
#include "config/appdir.h"
#include "isolatedhome.h"
#include "loopbacknginx.h"
#include "net/synservdb.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTextStream>

#include <algorithm>

namespace {

constexpr qint64 fileSize = qint64(512) * 1024 * 1024;
constexpr int rounds = 3;
// What the download is held to against curl.
constexpr double minCurlRatio = 0.9;
constexpr int maxGrowthMiB = 64;

// The process's peak resident memory so far, in KiB.
qint64 peakResidentKiB()
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    const QRegularExpression line(QStringLiteral("^VmHWM:\\s+(\\d+) kB"),
                                  QRegularExpression::MultilineOption);
    return line.match(QString::fromLatin1(status.readAll())).captured(1).toLongLong();
}

double mibPerSecond(qint64 bytes, qint64 ms)
{
    return double(bytes) / (1024.0 * 1024.0) / (double(std::max<qint64>(ms, 1)) / 1000.0);
}

qint64 median(QList<qint64> values)
{
    std::sort(values.begin(), values.end());
    return values.at(values.size() / 2);
}

} // namespace

int main(int argc, char *argv[])
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    // Nothing of the run lands in the user's folders, nor a runtime folder that
    // Qt would make in TMPDIR and leave there.
    const IsolatedHome home;
    home.enter();
    QApplication app(argc, argv);
    QTextStream out(stdout);

    QTemporaryDir folder;
    AppDir::setPath(folder.filePath(QStringLiteral("app")));
    const QString root = folder.filePath(QStringLiteral("www"));
    QDir().mkpath(root);
    QDir().mkpath(AppDir::path());
    // A sparse file: nginx reads it from the page cache, so the disk is not measured.
    QFile big(root + QStringLiteral("/big.bin"));
    if (!big.open(QIODevice::WriteOnly) || !big.resize(fileSize)) {
        out << "cannot make the file to serve\n";
        return 1;
    }
    big.close();

    LoopbackNginx nginx;
    if (!nginx.start(QStringLiteral("  sendfile on;"), QStringLiteral("    root %1;").arg(root))) {
        out << "nginx did not start: install it (apt-get install nginx-light)\n";
        return 1;
    }
    const QString address = nginx.url().resolved(QUrl(QStringLiteral("big.bin"))).toString();

    QList<qint64> synServDbMs, curlMs;
    const qint64 peakBefore = peakResidentKiB();
    for (int round = 0; round < rounds; ++round) {
        QElapsedTimer timer;
        timer.start();
        const QString stored = SynServDb(QStringLiteral("big.bin")).download(address, QString(), QString());
        synServDbMs << timer.elapsed();
        if (QFileInfo(stored).size() != fileSize) {
            out << "SynServDb did not store the whole file\n";
            return 1;
        }
        QFile::remove(stored);

        const QString curlFile = folder.filePath(QStringLiteral("curl.bin"));
        timer.restart();
        const int curlExit = QProcess::execute(
                QStringLiteral("curl"), { QStringLiteral("-s"), QStringLiteral("-o"), curlFile, address });
        curlMs << timer.elapsed();
        if (curlExit != 0 || QFileInfo(curlFile).size() != fileSize) {
            out << "curl failed\n";
            return 1;
        }
        QFile::remove(curlFile);
    }
    const qint64 peakAfter = peakResidentKiB();
    nginx.kill();

    const double ours = mibPerSecond(fileSize, median(synServDbMs));
    const double theirs = mibPerSecond(fileSize, median(curlMs));
    out << "file:                      512 MiB from nginx over loopback, median of " << rounds << " rounds\n";
    // Both store into this folder; TMPDIR chooses its disk (/dev/shm: memory).
    out << "stored in:                 " << folder.path() << "\n";
    out << QStringLiteral("SynServDb:                 %1 MiB/s (%2 ms)\n")
                    .arg(ours, 0, 'f', 1)
                    .arg(median(synServDbMs));
    out << QStringLiteral("curl:                      %1 MiB/s (%2 ms)\n")
                    .arg(theirs, 0, 'f', 1)
                    .arg(median(curlMs));
    const auto verdict = [](bool met) { return met ? QStringLiteral("met") : QStringLiteral("not met"); };
    out << QStringLiteral("ratio SynServDb/curl:      %1  [goal >= %2: %3]\n")
                    .arg(ours / theirs, 0, 'f', 2)
                    .arg(minCurlRatio, 0, 'f', 2)
                    .arg(verdict(ours / theirs >= minCurlRatio));
    const double growthMiB = double(peakAfter - peakBefore) / 1024.0;
    out << QStringLiteral("SynServDb peak growth:     %1 MiB (VmHWM %2 -> %3 KiB)  [goal < %4 MiB: %5]\n")
                    .arg(growthMiB, 0, 'f', 1)
                    .arg(peakBefore)
                    .arg(peakAfter)
                    .arg(maxGrowthMiB)
                    .arg(verdict(growthMiB < maxGrowthMiB));
    return 0;
}
