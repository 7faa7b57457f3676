// Crashes after CrashWriter::install(<root>), so that a test can read what was
// written down: crashchild <root> own|overflow|abort; an empty root installs it
// for the installation the child's own path lies in.
#include "desktop/crashwriter.h"

#include <QByteArray>
#include <QString>

#include <cstdlib>
#include <sys/resource.h>

namespace {

Q_NEVER_INLINE void writeThrough(volatile int *where)
{
    *where = 1;
}

Q_NEVER_INLINE int recurse(volatile int depth)
{
    volatile char frame[1024];
    frame[0] = char(depth);
    return recurse(depth + 1) + frame[0];
}

} // namespace

int main(int argc, char *argv[])
{
    if (argc != 3)
        return 2;
    // Its crashes leave no core file behind.
    const rlimit noCore { 0, 0 };
    setrlimit(RLIMIT_CORE, &noCore);
    if (argv[1][0] == '\0')
        CrashWriter::install();
    else
        CrashWriter::install(QString::fromLocal8Bit(argv[1]));
    const QByteArray how = argv[2];
    if (how == "abort")
        std::abort();
    if (how == "overflow")
        return recurse(0);
    // Null, but not known to be so when compiled.
    writeThrough(reinterpret_cast<volatile int *>(std::getenv("FENESTRA_NEVER_SET")));
    return 0;
}
