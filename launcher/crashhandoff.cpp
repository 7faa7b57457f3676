#include "crashhandoff.h"

#ifdef _WIN32

#include "launcher/installation.h"

#include <windows.h>

namespace CrashHandoff {

namespace {

// The shared block. `taken` makes the first crashing thread the one reported
// when several crash at once. The exception's record and the thread's context
// are copied, so that the dump's exception never depends on reading the
// shell's memory: Wine, for one, writes the dump only once the crashed thread
// has left the filter.
struct Block
{
    volatile LONG taken;
    DWORD processId;
    DWORD threadId;
    EXCEPTION_RECORD record;
    CONTEXT context;
};

std::wstring wide(const std::string &text)
{
    // The names are ASCII.
    return std::wstring(text.begin(), text.end());
}

std::wstring blockName(const std::string &name)
{
    return wide(name + "-block");
}
std::wstring crashedName(const std::string &name)
{
    return wide(name + "-crashed");
}
std::wstring writtenName(const std::string &name)
{
    return wide(name + "-written");
}

// The shell's side, made before any crash: the filter may not allocate.
Block *shellBlock = nullptr;
HANDLE shellCrashed = nullptr;
HANDLE shellWritten = nullptr;

LONG WINAPI handOver(EXCEPTION_POINTERS *pointers)
{
    if (InterlockedCompareExchange(&shellBlock->taken, 1, 0) == 0) {
        shellBlock->processId = GetCurrentProcessId();
        shellBlock->threadId = GetCurrentThreadId();
        shellBlock->record = *pointers->ExceptionRecord;
        shellBlock->record.ExceptionRecord = nullptr; // the shell's memory
        shellBlock->context = *pointers->ContextRecord;
        SetEvent(shellCrashed);
    }
    // Bounded: a launcher that hangs never keeps a crashed shell on screen.
    WaitForSingleObject(shellWritten, dumpWaitMs);
    // Ends the process with the exception's code, without Windows' error
    // report or a debugger.
    return EXCEPTION_EXECUTE_HANDLER;
}

} // namespace

Receiver::Receiver()
{
    const std::string name = "Local\\fenestra-crash-" + Installation::newInstallationId();
    SetLastError(0);
    m_mapping = CreateFileMappingW(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, sizeof(Block),
                                   blockName(name).c_str());
    // A name that exists already is someone else's.
    if (!m_mapping || GetLastError() == ERROR_ALREADY_EXISTS)
        return;
    m_block = MapViewOfFile(m_mapping, FILE_MAP_READ, 0, 0, sizeof(Block));
    SetLastError(0);
    m_crashed = CreateEventW(nullptr, FALSE, FALSE, crashedName(name).c_str());
    if (!m_crashed || GetLastError() == ERROR_ALREADY_EXISTS)
        return;
    // Manual reset: every thread that crashed waits for the same dump.
    SetLastError(0);
    m_written = CreateEventW(nullptr, TRUE, FALSE, writtenName(name).c_str());
    if (!m_written || GetLastError() == ERROR_ALREADY_EXISTS || !m_block)
        return;
    m_name = name;
}

Receiver::~Receiver()
{
    if (m_block)
        UnmapViewOfFile(m_block);
    for (HANDLE handle : { m_mapping, m_crashed, m_written }) {
        if (handle)
            CloseHandle(handle);
    }
}

bool Receiver::take(unsigned long processId, Crash &crash) const
{
    if (m_name.empty())
        return false;
    const volatile Block *block = static_cast<const Block *>(m_block);
    if (block->taken == 0 || block->processId != processId)
        return false;
    crash.processId = block->processId;
    crash.threadId = block->threadId;
    const Block *copy = const_cast<const Block *>(block);
    crash.record.assign(reinterpret_cast<const char *>(&copy->record), sizeof copy->record);
    crash.context.assign(reinterpret_cast<const char *>(&copy->context), sizeof copy->context);
    return true;
}

void Receiver::dumpWritten() const
{
    if (m_written)
        SetEvent(m_written);
}

void install()
{
    wchar_t name[128];
    const DWORD length = GetEnvironmentVariableW(wide(variable).c_str(), name, 128);
    if (length == 0 || length >= 128)
        return;
    // The shell's own children (the web engine's processes) are no business of it.
    SetEnvironmentVariableW(wide(variable).c_str(), nullptr);
    std::string text;
    for (DWORD i = 0; i < length; ++i)
        text += char(name[i] < 0x80 ? name[i] : '?');
    const HANDLE mapping = OpenFileMappingW(FILE_MAP_WRITE, FALSE, blockName(text).c_str());
    void *view = mapping ? MapViewOfFile(mapping, FILE_MAP_WRITE, 0, 0, sizeof(Block)) : nullptr;
    const HANDLE crashed = OpenEventW(EVENT_MODIFY_STATE, FALSE, crashedName(text).c_str());
    const HANDLE written = OpenEventW(SYNCHRONIZE, FALSE, writtenName(text).c_str());
    if (!view || !crashed || !written) {
        if (view)
            UnmapViewOfFile(view);
        for (HANDLE handle : { mapping, crashed, written }) {
            if (handle)
                CloseHandle(handle);
        }
        return;
    }
    // Kept for the process's life; the view keeps the block.
    CloseHandle(mapping);
    shellBlock = static_cast<Block *>(view);
    shellCrashed = crashed;
    shellWritten = written;
    // Room for the filter on the main thread after its stack ran out.
    ULONG guarantee = 64 * 1024;
    SetThreadStackGuarantee(&guarantee);
    SetUnhandledExceptionFilter(handOver);
}

} // namespace CrashHandoff

#endif
