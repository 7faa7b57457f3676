#include "update/zstdpatch.h"

#include <QByteArray>
#include <QFile>

#include <memory>

#include <zstd.h>

#ifdef Q_OS_WIN
#include <windows.h>
#endif

namespace ZstdPatch {

namespace {

// The smallest and largest windows zstd knows (ZSTD_WINDOWLOG_ABSOLUTEMIN, and
// its largest for 64-bit builds).
constexpr int smallestWindowLog = 10;
constexpr int largestWindowLog = 31;

int highestBit(quint64 value)
{
    int bit = -1;
    while (value) {
        value >>= 1;
        ++bit;
    }
    return bit;
}

} // namespace

qint64 availableMemory()
{
#if defined(Q_OS_WIN)
    MEMORYSTATUSEX status;
    status.dwLength = sizeof status;
    return GlobalMemoryStatusEx(&status) ? qint64(status.ullAvailPhys) : 0;
#elif defined(Q_OS_LINUX)
    QFile meminfo(QStringLiteral("/proc/meminfo"));
    // A file of /proc tells no size: read to its end.
    if (!meminfo.open(QIODevice::ReadOnly))
        return 0;
    for (const QByteArray &line : meminfo.readAll().split('\n')) {
        if (!line.startsWith("MemAvailable:"))
            continue;
        // "MemAvailable:   12345678 kB"
        bool ok = false;
        const qint64 kib = line.mid(13).trimmed().split(' ').constFirst().toLongLong(&ok);
        return ok && kib > 0 ? kib * 1024 : 0;
    }
    return 0;
#else
    return 0;
#endif
}

int windowLogFor(qint64 oldSize, qint64 newSize)
{
    return qBound(smallestWindowLog, highestBit(quint64(qMax<qint64>(qMax(oldSize, newSize), 1))) + 1,
                  largestWindowLog);
}

int windowLogWithin(qint64 oldSize, qint64 newSize, qint64 budget)
{
    const qint64 forWindow = budget - oldSize;
    if (oldSize < 0 || newSize < 0 || forWindow < (qint64(1) << smallestWindowLog))
        return 0;
    const int within = qMin(highestBit(quint64(forWindow)), largestWindowLog);
    return within >= windowLogFor(oldSize, newSize) ? within : 0;
}

QString apply(const QString &oldFile, const QString &patchFile, qint64 maxSize, int windowLogMax,
              const Sink &sink, const std::atomic_bool *cancel)
{
    QFile old(oldFile);
    if (!old.open(QIODevice::ReadOnly))
        return QStringLiteral("cannot read %1").arg(oldFile);
    const qint64 oldSize = old.size();
    const uchar *prefix = oldSize > 0 ? old.map(0, oldSize) : nullptr;
    if (oldSize > 0 && !prefix)
        return QStringLiteral("cannot map %1").arg(oldFile);
    QFile patch(patchFile);
    if (!patch.open(QIODevice::ReadOnly))
        return QStringLiteral("cannot read the patch");
    const std::unique_ptr<ZSTD_DCtx, size_t (*)(ZSTD_DCtx *)> context(ZSTD_createDCtx(), ZSTD_freeDCtx);
    if (!context)
        return QStringLiteral("no memory for the decoder");
    const auto failed = [](size_t code) {
        return QStringLiteral("zstd: %1").arg(QString::fromLatin1(ZSTD_getErrorName(code)));
    };
    size_t code = ZSTD_DCtx_setParameter(context.get(), ZSTD_d_windowLogMax,
                                         qBound(smallestWindowLog, windowLogMax, largestWindowLog));
    if (!ZSTD_isError(code))
        code = ZSTD_DCtx_refPrefix(context.get(), prefix, size_t(oldSize));
    if (ZSTD_isError(code))
        return failed(code);
    QByteArray in(qsizetype(ZSTD_DStreamInSize()), Qt::Uninitialized);
    QByteArray out(qsizetype(ZSTD_DStreamOutSize()), Qt::Uninitialized);
    qint64 written = 0;
    size_t left = 1; // what the frame still lacks; 0 once it is whole
    qint64 read = 0;
    while ((read = patch.read(in.data(), in.size())) > 0) {
        ZSTD_inBuffer input { in.constData(), size_t(read), 0 };
        while (input.pos < input.size) {
            // The prefix serves one frame: what follows a whole one is no patch.
            if (left == 0)
                return QStringLiteral("more than one frame");
            if (cancel && cancel->load())
                return QStringLiteral("cancelled");
            ZSTD_outBuffer output { out.data(), size_t(out.size()), 0 };
            left = ZSTD_decompressStream(context.get(), &output, &input);
            if (ZSTD_isError(left))
                return failed(left);
            written += qint64(output.pos);
            if (written > maxSize)
                return QStringLiteral("makes more than the listed size");
            if (output.pos > 0 && !sink(QByteArrayView(out.constData(), qsizetype(output.pos))))
                return QStringLiteral("cannot write it");
        }
    }
    if (read < 0)
        return QStringLiteral("cannot read the patch");
    // A frame's last block may leave output in the decoder.
    while (left != 0) {
        ZSTD_inBuffer input { nullptr, 0, 0 };
        ZSTD_outBuffer output { out.data(), size_t(out.size()), 0 };
        left = ZSTD_decompressStream(context.get(), &output, &input);
        if (ZSTD_isError(left))
            return failed(left);
        if (output.pos == 0)
            break;
        written += qint64(output.pos);
        if (written > maxSize)
            return QStringLiteral("makes more than the listed size");
        if (!sink(QByteArrayView(out.constData(), qsizetype(output.pos))))
            return QStringLiteral("cannot write it");
    }
    return left == 0 ? QString() : QStringLiteral("a truncated patch");
}

} // namespace ZstdPatch
