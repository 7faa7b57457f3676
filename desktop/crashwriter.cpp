#include "desktop/crashwriter.h"

#include "config/appdir.h"
#include "launcher/crashhandoff.h"
#include "launcher/installlayout.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#ifdef Q_OS_LINUX
#include <csignal>
#include <cstdint>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <ucontext.h>
#include <unistd.h>
#endif

namespace {

#ifdef Q_OS_LINUX

// Everything the handler needs is ready before a crash: it may not allocate.
char summaryFile[2048];
char crashesFolder[2048];
char logsFolder[2048];
alignas(16) char alternateStack[64 * 1024]; // a stack overflow leaves no stack to run on

constexpr int crashSignals[] = { SIGSEGV, SIGBUS, SIGILL, SIGFPE, SIGABRT };

void writeAll(int fd, const char *text, size_t size)
{
    while (size > 0) {
        const ssize_t written = write(fd, text, size);
        if (written <= 0)
            return;
        text += written;
        size -= size_t(written);
    }
}

void writeHex(int fd, uintptr_t value)
{
    char digits[2 * sizeof(value)];
    size_t count = 0;
    do {
        digits[sizeof(digits) - 1 - count++] = "0123456789abcdef"[value & 0xf];
        value >>= 4;
    } while (value != 0 && count < sizeof(digits));
    writeAll(fd, digits + sizeof(digits) - count, count);
}

// Reads a hexadecimal number at `at`, leaving `at` behind it.
uintptr_t readHex(const char *&at, const char *end)
{
    uintptr_t value = 0;
    for (; at < end; ++at) {
        const char c = *at;
        const int digit = c >= '0' && c <= '9' ? c - '0' : c >= 'a' && c <= 'f' ? c - 'a' + 10 : -1;
        if (digit < 0)
            break;
        value = value * 16 + uintptr_t(digit);
    }
    return value;
}

const char *skipField(const char *at, const char *end)
{
    while (at < end && *at != ' ')
        ++at;
    while (at < end && *at == ' ')
        ++at;
    return at;
}

// Looks `pc` up in one line of /proc/self/maps:
// start-end perms offset dev inode path. Writes the summary when it is there.
bool summarise(const char *line, const char *end, uintptr_t pc)
{
    const char *at = line;
    const uintptr_t start = readHex(at, end);
    if (at >= end || *at != '-')
        return false;
    ++at;
    const uintptr_t stop = readHex(at, end);
    if (pc < start || pc >= stop)
        return false;
    at = skipField(at, end); // to the permissions
    at = skipField(at, end); // to the offset
    const uintptr_t fileOffset = readHex(at, end);
    at = skipField(at, end); // to the device
    at = skipField(at, end); // to the inode
    at = skipField(at, end); // to the path, if any
    const int fd = open(summaryFile, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (fd < 0)
        return true;
    writeAll(fd, "module=", 7);
    if (at < end)
        writeAll(fd, at, size_t(end - at));
    else
        writeAll(fd, "[anonymous]", 11);
    writeAll(fd, " offset=0x", 10);
    writeHex(fd, pc - start + fileOffset);
    writeAll(fd, "\n", 1);
    close(fd);
    return true;
}

void writeSummary(uintptr_t pc)
{
    mkdir(logsFolder, 0755);
    mkdir(crashesFolder, 0755);
    const int maps = open("/proc/self/maps", O_RDONLY | O_CLOEXEC);
    if (maps < 0)
        return;
    // Lines longer than the buffer (paths of thousands of bytes) are passed over.
    char buffer[8192];
    size_t held = 0;
    bool overlong = false;
    for (;;) {
        const ssize_t got = read(maps, buffer + held, sizeof(buffer) - held);
        if (got <= 0)
            break;
        held += size_t(got);
        const char *line = buffer;
        const char *const end = buffer + held;
        for (const char *newline;
             (newline = static_cast<const char *>(memchr(line, '\n', size_t(end - line))));
             line = newline + 1) {
            if (!overlong && summarise(line, newline, pc)) {
                close(maps);
                return;
            }
            overlong = false;
        }
        held = size_t(end - line);
        if (held == sizeof(buffer)) {
            overlong = true;
            held = 0;
        } else {
            memmove(buffer, line, held);
        }
    }
    close(maps);
}

void onCrash(int signal, siginfo_t *, void *context)
{
    uintptr_t pc = 0;
#if defined(__x86_64__)
    pc = uintptr_t(static_cast<ucontext_t *>(context)->uc_mcontext.gregs[REG_RIP]);
#elif defined(__aarch64__)
    pc = uintptr_t(static_cast<ucontext_t *>(context)->uc_mcontext.pc);
#else
    Q_UNUSED(context);
#endif
    if (pc != 0)
        writeSummary(pc);
    // The crash goes on as it would have, so the launcher sees the signal.
    std::signal(signal, SIG_DFL);
    raise(signal);
}

bool copyPath(char (&target)[2048], const QString &path)
{
    const QByteArray encoded = QFile::encodeName(QDir::toNativeSeparators(path));
    if (encoded.size() >= qsizetype(sizeof(target)))
        return false;
    memcpy(target, encoded.constData(), size_t(encoded.size()) + 1);
    return true;
}

#endif

} // namespace

namespace CrashWriter {

void install(const QString &root)
{
#ifdef Q_OS_LINUX
    const QString file = QDir(root).filePath(QString::fromLatin1(InstallLayout::crashSummaryFile));
    const QString folder = file.left(file.lastIndexOf(QLatin1Char('/')));
    if (!copyPath(summaryFile, file) || !copyPath(crashesFolder, folder)
        || !copyPath(logsFolder, folder.left(folder.lastIndexOf(QLatin1Char('/')))))
        return;
    stack_t stack {};
    stack.ss_sp = alternateStack;
    stack.ss_size = sizeof(alternateStack);
    sigaltstack(&stack, nullptr);
    struct sigaction action
    {
    };
    action.sa_sigaction = onCrash;
    action.sa_flags = SA_SIGINFO | SA_ONSTACK;
    sigemptyset(&action.sa_mask);
    for (const int signal : crashSignals)
        sigaction(signal, &action, nullptr);
#elif defined(Q_OS_WIN)
    // The launcher writes the dump and reads the module from it.
    Q_UNUSED(root);
    CrashHandoff::install();
#else
    Q_UNUSED(root);
#endif
}

void install()
{
#ifdef Q_OS_LINUX
    install(AppDir::locate(QFileInfo(QStringLiteral("/proc/self/exe")).canonicalPath()).path);
#else
    // The launcher finds the installation; the shell only hands the crash over.
    install(QString());
#endif
}

} // namespace CrashWriter
