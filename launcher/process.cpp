#include "process.h"

#ifdef _WIN32
#include <cstdio>
#include <windows.h>
#else
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <limits.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

extern char **environ;
#endif

namespace Process {

std::wstring argumentsAfterProgram(const std::wstring &commandLine)
{
    size_t i = 0;
    if (!commandLine.empty() && commandLine[0] == L'"') {
        const size_t close = commandLine.find(L'"', 1);
        i = close == std::wstring::npos ? commandLine.size() : close + 1;
    }
    while (i < commandLine.size() && commandLine[i] != L' ' && commandLine[i] != L'\t')
        ++i;
    while (i < commandLine.size() && (commandLine[i] == L' ' || commandLine[i] == L'\t'))
        ++i;
    return commandLine.substr(i);
}

#ifdef _WIN32

namespace {

std::wstring wide(const std::string &text)
{
    const int size = MultiByteToWideChar(CP_UTF8, 0, text.data(), int(text.size()), nullptr, 0);
    std::wstring result(size_t(size > 0 ? size : 0), L'\0');
    if (size > 0)
        MultiByteToWideChar(CP_UTF8, 0, text.data(), int(text.size()), result.data(), size);
    return result;
}

std::string utf8(const std::wstring &text)
{
    const int size =
            WideCharToMultiByte(CP_UTF8, 0, text.data(), int(text.size()), nullptr, 0, nullptr, nullptr);
    std::string result(size_t(size > 0 ? size : 0), '\0');
    if (size > 0)
        WideCharToMultiByte(CP_UTF8, 0, text.data(), int(text.size()), result.data(), size, nullptr, nullptr);
    return result;
}

} // namespace

std::string executableDir()
{
    std::wstring path(MAX_PATH, L'\0');
    for (;;) {
        const DWORD length = GetModuleFileNameW(nullptr, path.data(), DWORD(path.size()));
        if (length == 0)
            return std::string();
        if (length < path.size()) {
            path.resize(length);
            break;
        }
        if (path.size() >= 32768)
            return std::string();
        path.resize(path.size() * 2);
    }
    const size_t slash = path.find_last_of(L"\\/");
    return slash == std::wstring::npos ? std::string() : utf8(path.substr(0, slash));
}

Arguments ownArguments(int, char **)
{
    return Arguments { argumentsAfterProgram(GetCommandLineW()) };
}

bool run(const std::string &program, const Arguments &arguments, const std::string &workingDir, Exit &exit,
         const Watch &watch)
{
    std::wstring commandLine = L"\"" + wide(program) + L"\""
            + (arguments.commandLine.empty() ? L"" : L" " + arguments.commandLine);
    STARTUPINFOW startup {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process {};
    // The user started the launcher; the shell's window is what should come to the front.
    AllowSetForegroundWindow(ASFW_ANY);
    if (!CreateProcessW(wide(program).c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr,
                        wide(workingDir).c_str(), &startup, &process))
        return false;
    CloseHandle(process.hThread);
    const HANDLE waited[] = { process.hProcess, watch.event };
    while (WaitForMultipleObjects(watch.event ? 2 : 1, waited, FALSE, INFINITE) == WAIT_OBJECT_0 + 1)
        watch.signalled(process.hProcess, process.dwProcessId);
    DWORD code = 0;
    GetExitCodeProcess(process.hProcess, &code);
    CloseHandle(process.hProcess);
    exit.code = int(code);
    // STATUS_DLL_NOT_FOUND, STATUS_ENTRYPOINT_NOT_FOUND, STATUS_INVALID_IMAGE_FORMAT,
    // STATUS_DLL_INIT_FAILED: the loader gave up before the program ran.
    exit.notLoaded = code == 0xC0000135u || code == 0xC0000139u || code == 0xC000007Bu || code == 0xC0000142u;
    // An unhandled exception ends a process with its NTSTATUS, an error status.
    exit.crashed = !exit.notLoaded && (code & 0xC0000000u) == 0xC0000000u;
    if (exit.crashed) {
        char cause[32];
        std::snprintf(cause, sizeof cause, "exception 0x%08lX", static_cast<unsigned long>(code));
        exit.cause = cause;
    }
    return true;
}

std::optional<std::string> environment(const std::string &name)
{
    const std::wstring wideName = wide(name);
    const DWORD size = GetEnvironmentVariableW(wideName.c_str(), nullptr, 0);
    if (size == 0)
        return GetLastError() == ERROR_ENVVAR_NOT_FOUND ? std::nullopt : std::optional<std::string>("");
    std::wstring value(size, L'\0');
    const DWORD length = GetEnvironmentVariableW(wideName.c_str(), value.data(), size);
    value.resize(length < size ? length : 0);
    return utf8(value);
}

void setEnvironment(const std::string &name, const std::optional<std::string> &value)
{
    SetEnvironmentVariableW(wide(name).c_str(), value ? wide(*value).c_str() : nullptr);
}

#else

std::string executableDir()
{
    char path[PATH_MAX];
    const ssize_t length = readlink("/proc/self/exe", path, sizeof path - 1);
    if (length <= 0)
        return std::string();
    const std::string file(path, size_t(length));
    const size_t slash = file.rfind('/');
    return slash == std::string::npos ? std::string() : file.substr(0, slash);
}

Arguments ownArguments(int argc, char **argv)
{
    return Arguments { std::vector<std::string>(argv + 1, argv + argc) };
}

bool run(const std::string &program, const Arguments &arguments, const std::string &workingDir, Exit &exit,
         const Watch &)
{
    std::vector<char *> list;
    list.push_back(const_cast<char *>(program.c_str()));
    for (const std::string &argument : arguments.list)
        list.push_back(const_cast<char *>(argument.c_str()));
    list.push_back(nullptr);
    // The launcher's own working folder matters to nothing else.
    if (chdir(workingDir.c_str()) != 0)
        return false;
    pid_t child = 0;
    if (posix_spawn(&child, program.c_str(), nullptr, nullptr, list.data(), environ) != 0)
        return false;
    int status = 0;
    while (waitpid(child, &status, 0) < 0) {
        if (errno != EINTR)
            return false;
    }
    exit.crashed = WIFSIGNALED(status);
    exit.code = exit.crashed ? 128 + WTERMSIG(status) : WEXITSTATUS(status);
    if (exit.crashed)
        exit.cause = "signal " + std::to_string(WTERMSIG(status));
    // What the dynamic linker ends with when a library is missing; the shell
    // itself never uses it.
    exit.notLoaded = !exit.crashed && exit.code == 127;
    return true;
}

std::optional<std::string> environment(const std::string &name)
{
    const char *value = std::getenv(name.c_str());
    return value ? std::optional<std::string>(value) : std::nullopt;
}

void setEnvironment(const std::string &name, const std::optional<std::string> &value)
{
    if (value)
        setenv(name.c_str(), value->c_str(), 1);
    else
        unsetenv(name.c_str());
}

#endif

} // namespace Process
