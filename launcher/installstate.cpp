#include "installstate.h"

#include "third_party/inih/ini.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#ifdef _WIN32
#include <io.h>
#include <windows.h>
#else
#include <unistd.h>
#endif

namespace InstallState {

namespace {

// A state file is a few hundred bytes; anything far larger is not one.
constexpr size_t MaxFileSize = 64 * 1024;
// Enough bad versions for years of releases, while the line stays well within
// what the reader takes (INI_MAX_LINE in CMakeLists.txt): older ones are forgotten first.
constexpr size_t MaxBadVersions = 64;

#ifdef _WIN32
std::wstring widePath(const std::string &path)
{
    const int size =
            MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, path.data(), int(path.size()), nullptr, 0);
    if (size <= 0)
        return std::wstring();
    std::wstring wide(size_t(size), L'\0');
    MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, path.data(), int(path.size()), wide.data(), size);
    return wide;
}
#endif

FILE *openFile(const std::string &path, bool forWriting)
{
#ifdef _WIN32
    const std::wstring wide = widePath(path);
    return wide.empty() ? nullptr : _wfopen(wide.c_str(), forWriting ? L"wb" : L"rb");
#else
    return std::fopen(path.c_str(), forWriting ? "wb" : "rb");
#endif
}

bool flushToDisk(FILE *file)
{
    if (std::fflush(file) != 0)
        return false;
#ifdef _WIN32
    return _commit(_fileno(file)) == 0;
#else
    return fsync(fileno(file)) == 0;
#endif
}

bool replaceFile(const std::string &from, const std::string &to)
{
#ifdef _WIN32
    // A reader of the old file (the other program, a virus scanner) holds it for a
    // moment and makes the replace fail meanwhile.
    for (int attempt = 0; attempt < 20; ++attempt) {
        if (MoveFileExW(widePath(from).c_str(), widePath(to).c_str(),
                        MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
            return true;
        const DWORD error = GetLastError();
        if (error != ERROR_ACCESS_DENIED && error != ERROR_SHARING_VIOLATION)
            return false;
        Sleep(50);
    }
    return false;
#else
    return std::rename(from.c_str(), to.c_str()) == 0;
#endif
}

void removeFile(const std::string &path)
{
#ifdef _WIN32
    DeleteFileW(widePath(path).c_str());
#else
    std::remove(path.c_str());
#endif
}

bool isHexId(const std::string &text)
{
    return text.size() == 32 && std::all_of(text.begin(), text.end(), [](char c) {
               return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
           });
}

bool isDigits(const std::string &text)
{
    return !text.empty()
            && std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
}

bool parseUnsigned(const std::string &text, unsigned long long &out)
{
    if (!isDigits(text))
        return false;
    errno = 0;
    const unsigned long long value = std::strtoull(text.c_str(), nullptr, 10);
    if (errno == ERANGE)
        return false;
    out = value;
    return true;
}

std::string versionOrEmpty(const char *value)
{
    return isValidVersion(value) ? std::string(value) : std::string();
}

int takeKey(void *user, const char *section, const char *name, const char *value)
{
    State &state = *static_cast<State *>(user);
    // Keys belong to no section; anything in one was not written by us.
    if (*section != '\0')
        return 1;
    const std::string key = name;
    if (key == "installation_id") {
        state.installationId = isHexId(value) ? std::string(value) : std::string();
    } else if (key == "current") {
        state.current = versionOrEmpty(value);
    } else if (key == "previous") {
        state.previous = versionOrEmpty(value);
    } else if (key == "pending") {
        state.pending = versionOrEmpty(value);
    } else if (key == "trial") {
        state.trial = versionOrEmpty(value);
    } else if (key == "trial_starts") {
        unsigned long long starts = 0;
        state.trialStarts = parseUnsigned(value, starts) ? int(std::min(starts, 1000ULL)) : 0;
    } else if (key == "serial") {
        unsigned long long serial = 0;
        state.serial = parseUnsigned(value, serial) ? serial : 0;
    } else if (key == "bad") {
        state.bad.clear();
        const std::string list = value;
        size_t start = 0;
        while (start <= list.size()) {
            size_t end = list.find(',', start);
            if (end == std::string::npos)
                end = list.size();
            const std::string version = list.substr(start, end - start);
            if (isValidVersion(version) && !state.isBad(version))
                state.bad.push_back(version);
            start = end + 1;
        }
    }
    return 1;
}

bool isWritable(const State &s)
{
    const auto versionOk = [](const std::string &v) { return v.empty() || isValidVersion(v); };
    return (s.installationId.empty() || isHexId(s.installationId)) && versionOk(s.current)
            && versionOk(s.previous) && versionOk(s.pending) && versionOk(s.trial) && s.trialStarts >= 0
            && std::all_of(s.bad.begin(), s.bad.end(),
                           [](const std::string &v) { return isValidVersion(v); });
}

std::string serialize(const State &s)
{
    std::string bad;
    const size_t first = s.bad.size() > MaxBadVersions ? s.bad.size() - MaxBadVersions : 0;
    for (size_t i = first; i < s.bad.size(); ++i)
        bad += (i == first ? "" : ",") + s.bad[i];
    return "installation_id=" + s.installationId + "\ncurrent=" + s.current + "\nprevious=" + s.previous
            + "\npending=" + s.pending + "\ntrial=" + s.trial + "\ntrial_starts="
            + std::to_string(s.trialStarts) + "\nbad=" + bad + "\nserial=" + std::to_string(s.serial) + "\n";
}

} // namespace

bool State::isBad(const std::string &version) const
{
    return std::find(bad.begin(), bad.end(), version) != bad.end();
}

bool isValidVersion(const std::string &version)
{
    return !version.empty() && version.size() <= 64 && version.front() != '.'
            && std::all_of(version.begin(), version.end(), [](char c) {
                   return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z')
                           || c == '.' || c == '_' || c == '-';
               });
}

bool versionLess(const std::string &a, const std::string &b)
{
    size_t i = 0, j = 0;
    while (i < a.size() || j < b.size()) {
        const size_t endA = std::min(a.find('.', i), a.size());
        const size_t endB = std::min(b.find('.', j), b.size());
        const std::string partA = i < a.size() ? a.substr(i, endA - i) : std::string();
        const std::string partB = j < b.size() ? b.substr(j, endB - j) : std::string();
        if (partA != partB) {
            if (isDigits(partA) && isDigits(partB)) {
                // Compared as numbers without overflow: strip leading zeros, then length decides.
                const std::string numA = partA.substr(std::min(partA.find_first_not_of('0'), partA.size()));
                const std::string numB = partB.substr(std::min(partB.find_first_not_of('0'), partB.size()));
                if (numA.size() != numB.size())
                    return numA.size() < numB.size();
                if (numA != numB)
                    return numA < numB;
            } else {
                return partA < partB;
            }
        }
        i = endA + 1;
        j = endB + 1;
    }
    return false;
}

bool read(const std::string &path, State &out)
{
    out = State();
    FILE *file = openFile(path, false);
    if (!file)
        return false;
    std::string content;
    char buffer[4096];
    size_t got = 0;
    bool ok = true;
    while ((got = std::fread(buffer, 1, sizeof buffer, file)) > 0) {
        content.append(buffer, got);
        if (content.size() > MaxFileSize) {
            ok = false;
            break;
        }
    }
    if (std::ferror(file))
        ok = false;
    std::fclose(file);
    if (!ok)
        return false;
    State parsed;
    if (ini_parse_string_length(content.data(), content.size(), takeKey, &parsed) < 0)
        return false;
    out = parsed;
    return true;
}

bool write(const std::string &path, const State &s)
{
    if (!isWritable(s))
        return false;
    const std::string temporary = path + ".fenestra-tmp";
    FILE *file = openFile(temporary, true);
    if (!file)
        return false;
    const std::string content = serialize(s);
    bool ok = std::fwrite(content.data(), 1, content.size(), file) == content.size();
    ok = flushToDisk(file) && ok;
    ok = std::fclose(file) == 0 && ok;
    if (!ok || !replaceFile(temporary, path)) {
        removeFile(temporary);
        return false;
    }
    return true;
}

} // namespace InstallState
