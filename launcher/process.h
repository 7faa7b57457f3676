#pragma once

#include <functional>
#include <optional>
#include <string>
#include <vector>

// Starting the shell and waiting for it, on the Win32 API or on POSIX.
namespace Process {

// The folder of the running executable, UTF-8; empty if it cannot be told.
std::string executableDir();

struct Exit
{
    int code = 0;
    bool crashed = false; // killed by a signal, or ended by an exception Windows caught
    // The system could not load the program: a library missing or broken
    // (Windows' loader statuses, the dynamic linker's 127 elsewhere).
    bool notLoaded = false;
    // How a crash ended it, for the log: "signal 11", "exception 0xC0000005".
    std::string cause;
    bool abnormal() const { return crashed || code != 0; }
};

// Arguments after a program's name, in the platform's own form, so that they
// pass through unchanged: Windows hands a program one command line, which is
// never parsed and quoted again; POSIX a list.
struct Arguments
{
#ifdef _WIN32
    std::wstring commandLine;
#else
    std::vector<std::string> list;
#endif
};
Arguments ownArguments(int argc, char **argv);

// Something to do while the program runs: on Windows, each time `event` is
// signalled, `signalled` is called with the program's process handle and id.
struct Watch
{
#ifdef _WIN32
    void *event = nullptr;
    std::function<void(void *process, unsigned long processId)> signalled;
#endif
};

// Starts `program` in `workingDir` and waits until it ends. False if it could not start.
bool run(const std::string &program, const Arguments &arguments, const std::string &workingDir, Exit &exit,
         const Watch &watch = Watch());

// A variable of the launcher's environment, which the programs it starts
// inherit, UTF-8; none when it is not set. Setting none removes it.
std::optional<std::string> environment(const std::string &name);
void setEnvironment(const std::string &name, const std::optional<std::string> &value);

// A Windows command line without its first argument (the program's name), which
// is parsed by other rules than the rest: quoted up to the next quote, or up to
// the first space or tab.
std::wstring argumentsAfterProgram(const std::wstring &commandLine);

} // namespace Process
