#pragma once

#include <string>

// Hands a crash of the shell on Windows to the launcher that started it, which
// writes the dump from outside: a crashed process cannot be trusted to write
// one of itself. The launcher makes a small shared block and two events under
// a fresh name and passes that name in the shell's environment; the shell's
// unhandled-exception filter writes the crashing thread and its
// exception into the block, signals "crashed", and waits a bounded time for
// "dump written" before the exception ends the process as it would have. A
// shell started without the launcher finds no name and changes nothing.
namespace CrashHandoff {

// The environment variable that carries the name.
inline constexpr const char *variable = "FENESTRA_CRASH_HANDOFF";
// How long a crashed shell waits for its dump, in milliseconds.
inline constexpr unsigned long dumpWaitMs = 20000;

#ifdef _WIN32

// What the shell's filter leaves in the block.
struct Crash
{
    unsigned long processId = 0;
    unsigned long threadId = 0;
    // The bytes of the exception's EXCEPTION_RECORD and the thread's CONTEXT.
    std::string record, context;
};

// The launcher's side, for one start of the shell.
class Receiver
{
public:
    Receiver();
    ~Receiver();
    Receiver(const Receiver &) = delete;
    Receiver &operator=(const Receiver &) = delete;

    // The name to pass in `variable`; empty when the objects could not be made.
    const std::string &name() const { return m_name; }
    // Signalled by the shell's filter.
    void *crashedEvent() const { return m_crashed; }
    // What the filter wrote, if it was `processId`'s.
    bool take(unsigned long processId, Crash &crash) const;
    // Lets the crashed shell end.
    void dumpWritten() const;

private:
    std::string m_name;
    void *m_mapping = nullptr;
    void *m_block = nullptr;
    void *m_crashed = nullptr;
    void *m_written = nullptr;
};

// The shell's side: installs the filter when the environment names a
// launcher's objects, and a stack guarantee for the calling thread, so that
// the filter still runs after a stack overflow. Call first thing in main().
void install();

#endif

} // namespace CrashHandoff
