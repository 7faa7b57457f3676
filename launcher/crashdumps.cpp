#include "crashdumps.h"

#include "launcher/installlayout.h"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <system_error>

#ifdef _WIN32
#include <chrono>
#include <cstdio>
#include <cstring>
#include <ctime>
// clang-format off
#include <windows.h>
#include <dbghelp.h>
// clang-format on
#endif

namespace fs = std::filesystem;

namespace CrashDumps {

namespace {

const std::string prefix = "crash-";
const std::string suffix = ".dmp";
const std::string partial = ".partial";

bool endsWith(const std::string &text, const std::string &end)
{
    return text.size() >= end.size() && text.compare(text.size() - end.size(), end.size(), end) == 0;
}

fs::path folder(const std::string &root)
{
    return fs::u8path(root) / fs::u8path(InstallLayout::crashesFolder);
}

std::string utf8(const fs::path &path)
{
    const auto text = path.u8string();
    return std::string(text.begin(), text.end());
}

} // namespace

bool isDump(const std::string &fileName)
{
    return fileName.compare(0, prefix.size(), prefix) == 0 && fileName.size() > prefix.size() + suffix.size()
            && (endsWith(fileName, suffix) || endsWith(fileName, suffix + partial));
}

std::vector<std::string> toRemove(const std::vector<File> &files, std::size_t keepFiles,
                                  std::uintmax_t keepBytes)
{
    std::vector<File> dumps;
    std::vector<std::string> removed;
    for (const File &file : files) {
        if (!isDump(file.name))
            continue;
        if (endsWith(file.name, partial))
            removed.push_back(file.name);
        else
            dumps.push_back(file);
    }
    // The time in the name sorts them oldest first.
    std::sort(dumps.begin(), dumps.end(), [](const File &a, const File &b) { return a.name < b.name; });
    std::uintmax_t total = 0;
    for (const File &file : dumps)
        total += file.size;
    for (size_t i = 0; i + 1 < dumps.size() && (dumps.size() - i > keepFiles || total > keepBytes); ++i) {
        removed.push_back(dumps[i].name);
        total -= dumps[i].size;
    }
    return removed;
}

void rotate(const std::string &root)
{
    std::vector<File> files;
    std::error_code error;
    for (fs::directory_iterator it(folder(root), error), end; !error && it != end; it.increment(error)) {
        std::error_code ignored;
        if (!it->is_regular_file(ignored))
            continue;
        const std::uintmax_t size = it->file_size(ignored);
        files.push_back({ utf8(it->path().filename()), ignored ? 0 : size });
    }
    for (const std::string &name : toRemove(files, maxFiles, maxBytes)) {
        std::error_code ignored;
        fs::remove(folder(root) / fs::u8path(name), ignored);
    }
}

std::string read(const std::string &path)
{
    std::ifstream in(fs::u8path(path), std::ios::binary);
    std::string bytes(maxBytes, '\0');
    in.read(bytes.data(), std::streamsize(bytes.size()));
    bytes.resize(in.bad() ? 0 : size_t(in.gcount()));
    return bytes;
}

#ifdef _WIN32

std::string write(const std::string &root, const std::string &version, void *process,
                  const CrashHandoff::Crash &crash)
{
    // The copies the filter made, in the launcher's own memory.
    EXCEPTION_RECORD record {};
    CONTEXT context {};
    if (crash.record.size() != sizeof record || crash.context.size() != sizeof context)
        return std::string();
    std::memcpy(&record, crash.record.data(), sizeof record);
    std::memcpy(&context, crash.context.data(), sizeof context);
    EXCEPTION_POINTERS pointers { &record, &context };
    std::error_code ignored;
    fs::create_directories(folder(root), ignored);
    // UTC with milliseconds: names sort by time, and a start that crashes
    // again at once never meets the last one's name.
    const auto now = std::chrono::system_clock::now();
    const std::time_t seconds = std::chrono::system_clock::to_time_t(now);
    const long long ms =
            std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()).count() % 1000;
    char stamp[32] = "";
    if (const std::tm *utc = std::gmtime(&seconds))
        std::strftime(stamp, sizeof stamp, "%Y%m%d-%H%M%S", utc);
    char millis[8];
    std::snprintf(millis, sizeof millis, "-%03lld", ms);
    const fs::path target = folder(root) / fs::u8path(prefix + stamp + millis + "-" + version + suffix);
    const fs::path temporary = fs::path(target).concat(partial);

    const HANDLE file = CreateFileW(temporary.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                    FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return std::string();
    MINIDUMP_EXCEPTION_INFORMATION exception {};
    exception.ThreadId = crash.threadId;
    exception.ExceptionPointers = &pointers;
    exception.ClientPointers = FALSE;
    // Modules' debug information is for whoever reads the dump; loading it
    // here (some dbghelp versions do unless told) only keeps the shell waiting.
    SymSetOptions(SymGetOptions() | SYMOPT_DEFERRED_LOADS);
    // Threads' stacks, the module list and the exception: enough for a stack
    // in WinDbg, small enough to keep a few.
    const BOOL written = MiniDumpWriteDump(static_cast<HANDLE>(process), crash.processId, file,
                                           MINIDUMP_TYPE(MiniDumpNormal | MiniDumpWithUnloadedModules),
                                           &exception, nullptr, nullptr);
    const BOOL flushed = written && FlushFileBuffers(file);
    CloseHandle(file);
    if (!flushed || !MoveFileExW(temporary.c_str(), target.c_str(), MOVEFILE_REPLACE_EXISTING)) {
        DeleteFileW(temporary.c_str());
        return std::string();
    }
    rotate(root);
    return utf8(fs::path(target).make_preferred());
}

#endif

} // namespace CrashDumps
