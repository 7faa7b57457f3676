#pragma once

#include <QString>

// Writes down where the shell crashed, for the launcher that started it: one
// line `module=<file> offset=0x<hex>` in the installation's crash summary,
// which the launcher reads to tell a graphics driver's crash from one in our
// own code. Written from the crash itself, so only with what a signal handler
// may do; the crash then ends the process as it would have. On Linux the
// faulting module comes from the process's own memory map.
namespace CrashWriter {

// Watches for crashes from now on; `root` is the installation's root.
void install(const QString &root);

} // namespace CrashWriter
