// Downloads a 512 MiB file from a loopback server through SynServDb and, in the
// same run, with curl, and prints both throughputs, their ratio and how much
// SynServDb grew the process's peak memory.
#include "config/appdir.h"
#include "net/synservdb.h"
#include "testhttpserver.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTextStream>

#include <cstdio>

namespace {

constexpr qint64 fileSize = qint64(512) * 1024 * 1024;

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

} // namespace

int main(int argc, char *argv[])
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    QTextStream out(stdout);

    TestHttpServer server;
    if (!server.listen()) {
        out << "cannot listen on loopback\n";
        return 1;
    }
    TestHttpServer::Response big =
            TestHttpServer::Response::text(QByteArray(64 * 1024, 'z'), "application/octet-stream");
    big.generatedSize = fileSize;
    server.route("/big.bin", big);
    const QString address = server.url(QStringLiteral("/big.bin")).toString();

    QTemporaryDir folder;
    AppDir::setPath(folder.path());

    const qint64 peakBefore = peakResidentKiB();
    QElapsedTimer timer;
    timer.start();
    const QString stored = SynServDb(QStringLiteral("big.bin")).download(address, QString(), QString());
    const qint64 synServDbMs = timer.elapsed();
    const qint64 peakAfter = peakResidentKiB();
    if (QFileInfo(stored).size() != fileSize) {
        out << "SynServDb did not store the whole file\n";
        return 1;
    }
    QFile::remove(stored);

    QProcess curl;
    QEventLoop loop;
    QObject::connect(&curl, &QProcess::finished, &loop, &QEventLoop::quit);
    timer.restart();
    curl.start(QStringLiteral("curl"),
               { QStringLiteral("-s"), QStringLiteral("-o"), folder.filePath(QStringLiteral("curl.bin")),
                 address });
    loop.exec(); // the server answers from this thread
    const qint64 curlMs = timer.elapsed();
    if (curl.exitCode() != 0 || QFileInfo(folder.filePath(QStringLiteral("curl.bin"))).size() != fileSize) {
        out << "curl failed: " << curl.readAllStandardError() << "\n";
        return 1;
    }

    const double ours = mibPerSecond(fileSize, synServDbMs);
    const double theirs = mibPerSecond(fileSize, curlMs);
    out << "file:                      512 MiB over loopback\n";
    out << QStringLiteral("SynServDb:                 %1 MiB/s (%2 ms)\n")
                    .arg(ours, 0, 'f', 1)
                    .arg(synServDbMs);
    out << QStringLiteral("curl:                      %1 MiB/s (%2 ms)\n").arg(theirs, 0, 'f', 1).arg(curlMs);
    out << QStringLiteral("ratio SynServDb/curl:      %1\n").arg(ours / theirs, 0, 'f', 2);
    out << QStringLiteral("SynServDb peak growth:     %1 MiB (VmHWM %2 -> %3 KiB)\n")
                    .arg(double(peakAfter - peakBefore) / 1024.0, 0, 'f', 1)
                    .arg(peakBefore)
                    .arg(peakAfter);
    return 0;
}
