// Plays a shell in a test installation: versions/<v>/fenestra.exe on Windows,
// versions/<v>/bin/fenestra elsewhere. It notes in `started.txt` of its working
// folder (the launcher starts it in the installation's root) its version and its
// arguments, in `graphics.txt` beside itself (never among an installation's
// files the installer's tests check) the graphics level, web engine flags and
// Qt Quick backend the launcher passed it, then does what the file `behaviour` beside it says:
//   exit0, exit3   exit with that code before its window would show
//   crash          end so before its window would show, as a crash ends (a
//                  signal, or an access violation's status)
//   crash-graphics leave a crash summary naming a graphics driver, then crash
//   crash-own      leave a crash summary naming its own program, then crash
//   crash-in-driver (Windows) an access violation inside igd10iumd64.dll
//                  beside it, a stand-in for Intel's graphics driver, handed
//                  to the launcher as the shell hands it
//   crash-in-exe   (Windows) an access violation in its own code, likewise
//   <crash>-once   so at graphics level 0, else as healthy
//   shown          leave the first-frame mark as the shell's window does, exit 0
//   shown-exit3    leave the mark, then exit with 3
//   healthy        leave the mark, report itself healthy in the state file as
//                  the shell does, exit 0
//   relaunch       start the installation's launcher twice, as a user does who starts
//                  it again while the shell runs, and exit 0 if both passed on the
//                  code of the shell they started; started so, that shell exits 3
#include "launcher/crashhandoff.h"
#include "launcher/installlayout.h"
#include "launcher/installstate.h"
#include "launcher/process.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#ifdef _WIN32
#include <windows.h>
#else
#include <csignal>
#include <sys/resource.h>
#endif

namespace fs = std::filesystem;

namespace {

#ifdef _WIN32
// A write through a null pointer the compiler cannot see.
volatile int *volatile nowhere = nullptr;
#endif

} // namespace

int main(int argc, char **argv)
{
#ifdef _WIN32
    // As the shell does first thing; without the launcher's name it does nothing.
    CrashHandoff::install();
#endif
    const fs::path folder = fs::u8path(Process::executableDir());
#ifdef _WIN32
    const fs::path versionFolder = folder;
#else
    const fs::path versionFolder = folder.parent_path();
#endif
    const auto u8 = versionFolder.filename().u8string();
    const std::string version(u8.begin(), u8.end());
    const fs::path root = versionFolder.parent_path().parent_path();

    std::string behaviour;
    std::ifstream(folder / "behaviour") >> behaviour;
    const auto variable = [](const char *name) {
        const char *value = std::getenv(name);
        return std::string(value ? value : "");
    };
    const std::string level = variable("FENESTRA_GRAPHICS_LEVEL");
    std::ofstream(folder / "graphics.txt", std::ios::app | std::ios::binary)
            << level << '|' << variable("QTWEBENGINE_CHROMIUM_FLAGS") << '|' << variable("QT_QUICK_BACKEND")
            << '\n';
    const std::string once = "-once";
    if (behaviour.size() > once.size()
        && behaviour.compare(behaviour.size() - once.size(), once.size(), once) == 0)
        behaviour = level.empty() || level == "0" ? behaviour.substr(0, behaviour.size() - once.size())
                                                  : "healthy";

    std::string arguments;
#ifdef _WIN32
    const std::wstring tail = Process::argumentsAfterProgram(GetCommandLineW());
    const int size =
            WideCharToMultiByte(CP_UTF8, 0, tail.data(), int(tail.size()), nullptr, 0, nullptr, nullptr);
    arguments.resize(size_t(size));
    WideCharToMultiByte(CP_UTF8, 0, tail.data(), int(tail.size()), arguments.data(), size, nullptr, nullptr);
    (void)argc;
    (void)argv;
#else
    for (int i = 1; i < argc; ++i)
        arguments += (i > 1 ? "|" : "") + std::string(argv[i]);
#endif
    // Relative on purpose: it lands in the root only if that is the working folder.
    std::ofstream("started.txt", std::ios::app | std::ios::binary)
            << version << ' ' << behaviour << ' ' << arguments << '\n';

    if (behaviour == "exit3")
        return 3;
    if (behaviour == "shown" || behaviour == "shown-exit3" || behaviour == "healthy")
        std::ofstream(root / fs::u8path(InstallLayout::firstFrameFile), std::ios::binary) << version << '\n';
    if (behaviour == "shown-exit3")
        return 3;
    if (behaviour == "relaunch") {
        if (arguments.find("--again") != std::string::npos)
            return 3;
#ifdef _WIN32
        const Process::Arguments again { L"--again" };
        const char *launcher = "fenestra.exe";
#else
        const Process::Arguments again { { "--again" } };
        const char *launcher = "fenestra";
#endif
        for (int i = 0; i < 2; ++i) {
            Process::Exit exit;
            if (!Process::run((root / launcher).u8string(), again, root.u8string(), exit) || exit.code != 3)
                return 97;
        }
        return 0;
    }
    if (behaviour == "crash-graphics" || behaviour == "crash-own") {
#ifdef _WIN32
        const std::string driver =
                "C:\\Windows\\System32\\DriverStore\\FileRepository\\iigd_dch.inf_amd64\\igd10iumd64.dll";
#else
        const std::string driver = "/usr/lib/x86_64-linux-gnu/libnvidia-glcore.so.535.183.01";
#endif
        const fs::path own = versionFolder / fs::u8path(InstallLayout::shellInVersion);
        const fs::path summary = root / fs::u8path(InstallLayout::crashSummaryFile);
        fs::create_directories(summary.parent_path());
        std::ofstream(summary, std::ios::binary)
                << "module=" << (behaviour == "crash-own" ? own.u8string() : driver) << " offset=0x4242\n";
        behaviour = "crash";
    }
#ifdef _WIN32
    if (behaviour == "crash-in-driver") {
        const HMODULE driver = LoadLibraryW((folder / "igd10iumd64.dll").c_str());
        const auto crashInDriver = driver
                ? reinterpret_cast<void (*)(volatile int *)>(GetProcAddress(driver, "crashInDriver"))
                : nullptr;
        if (!crashInDriver)
            return 96;
        crashInDriver(nullptr);
    }
    if (behaviour == "crash-in-exe")
        *nowhere = 42;
#endif
    if (behaviour == "crash") {
#ifdef _WIN32
        // What an unhandled access violation ends with, without the debugger Wine would start.
        TerminateProcess(GetCurrentProcess(), 0xC0000005u);
#else
        const rlimit noCore {};
        setrlimit(RLIMIT_CORE, &noCore);
        std::raise(SIGSEGV);
#endif
        return 99;
    }
    if (behaviour == "healthy") {
        const std::string statePath = (root / fs::u8path(InstallLayout::stateFile)).u8string();
        InstallState::State state;
        InstallState::read(statePath, state);
        if (state.trial == version) {
            state.previous = state.current;
            state.current = state.trial;
            state.trial.clear();
            state.trialStarts = 0;
            if (!InstallState::write(statePath, state))
                return 98;
        }
    }
    return 0;
}
