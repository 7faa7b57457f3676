#pragma once

#include <QByteArrayView>
#include <QString>

#include <atomic>
#include <functional>

// Applies a zstd patch (`zstd --patch-from=<old> <new>`): the old file is the
// frame's prefix, mapped rather than read so that it stays out of the
// process's private memory. What a patch costs is the old file and the
// decoder's window, which the frame's header names and the decoder holds to
// the bound it is given.
namespace ZstdPatch {

// Physical memory the system could give now without swapping (Linux:
// MemAvailable, Windows: the available physical memory); 0 when unknown.
qint64 availableMemory();

// The largest window (as a power of two) a patch against `oldSize` bytes may
// use when the old file and the window are to fit in `budget` bytes; 0 when a
// patch made as the release tool makes one, whose window covers the larger of
// `oldSize` and `newSize`, would not fit.
int windowLogWithin(qint64 oldSize, qint64 newSize, qint64 budget);

// The window the release tool gives a patch for files of these sizes: the
// next power of two above the larger.
int windowLogFor(qint64 oldSize, qint64 newSize);

using Sink = std::function<bool(QByteArrayView)>;

// Hands what the one frame in `patchFile` makes of `oldFile` to `sink`, at
// most `maxSize` bytes, refusing a frame whose window is over 2^`windowLogMax`;
// the problem, or empty. The result's sum is the caller's to check. Setting
// `cancel` stops it within a block.
QString apply(const QString &oldFile, const QString &patchFile, qint64 maxSize, int windowLogMax,
              const Sink &sink, const std::atomic_bool *cancel = nullptr);

} // namespace ZstdPatch
