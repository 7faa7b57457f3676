#pragma once

#include <QString>

// Writes down where the shell crashed, for the launcher that started it, which
// tells a graphics driver's crash from one in our own code. On Linux one line
// `module=<file> offset=0x<hex>` in the installation's crash summary, written
// from the crash itself, so only with what a signal handler may do, the
// faulting module taken from the process's own memory map. On Windows the
// crash is handed to the launcher, which writes a dump (launcher/crashhandoff.h).
// Either way the crash then ends the process as it would have.
namespace CrashWriter {

// Watches for crashes from now on; `root` is the installation's root.
void install(const QString &root);
// The same for the installation this executable belongs to, found from the
// executable's own path: needs no application object, so that main() can call
// it first, before anything draws (a graphics driver is likeliest to crash
// when the first context is made).
void install();

} // namespace CrashWriter
