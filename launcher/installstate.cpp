#include "installstate.h"

#include "launcher/installlayout.h"
#include "third_party/inih/ini.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#ifdef _WIN32
#include <io.h>
#include <windows.h>
#else
#include <fcntl.h>
#include <unistd.h>
#endif

namespace InstallState {

namespace {

// A state file is a few hundred bytes; anything far larger is not one.
constexpr size_t MaxFileSize = 64 * 1024;
// Enough bad versions for years of releases, while the line stays well within
// what the reader takes (INI_MAX_LINE in CMakeLists.txt): older ones are forgotten first.
constexpr size_t MaxBadVersions = 64;
constexpr size_t MaxRevokedKeys = 16;
// Counts and times read back are bounded, so that nothing in the file overflows an int.
constexpr unsigned long long MaxCount = 1000000;
constexpr unsigned long long MaxSeconds = 253402300799ULL; // the end of the year 9999
constexpr unsigned long long MaxBytes = 1ULL << 40;

bool isModuleCharacter(char c)
{
    return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '.' || c == '_'
            || c == '+' || c == '-';
}

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

std::string errorText(DWORD error)
{
    return "Windows error " + std::to_string(error);
}

// The whole file, which another program may hold for a moment without
// sharing it: a virus scanner or a backup tool. Missing and unreadable are
// told apart, as only a missing file means a new installation.
ReadResult readAll(const std::string &path, std::string &content, std::string &why)
{
    const std::wstring wide = widePath(path);
    HANDLE file = INVALID_HANDLE_VALUE;
    for (int attempt = 0; attempt < 40; ++attempt) {
        file = CreateFileW(wide.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                           nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (file != INVALID_HANDLE_VALUE)
            break;
        const DWORD error = GetLastError();
        if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND)
            return ReadResult::Missing;
        why = errorText(error);
        if (error != ERROR_SHARING_VIOLATION && error != ERROR_LOCK_VIOLATION)
            return ReadResult::Unreadable;
        Sleep(50);
    }
    if (file == INVALID_HANDLE_VALUE)
        return ReadResult::Unreadable;
    char buffer[4096];
    DWORD got = 0;
    ReadResult result = ReadResult::Read;
    while (result == ReadResult::Read) {
        if (!ReadFile(file, buffer, sizeof buffer, &got, nullptr)) {
            why = errorText(GetLastError());
            result = ReadResult::Unreadable;
        } else if (got == 0) {
            break;
        } else {
            content.append(buffer, got);
            if (content.size() > MaxFileSize) {
                why = "larger than a state file";
                result = ReadResult::Unreadable;
            }
        }
    }
    CloseHandle(file);
    return result;
}

FILE *openForWriting(const std::string &path)
{
    const std::wstring wide = widePath(path);
    return wide.empty() ? nullptr : _wfopen(wide.c_str(), L"wb");
}
#else
ReadResult readAll(const std::string &path, std::string &content, std::string &why)
{
    int fd;
    while ((fd = open(path.c_str(), O_RDONLY | O_CLOEXEC)) < 0 && errno == EINTR) { }
    if (fd < 0) {
        if (errno == ENOENT)
            return ReadResult::Missing;
        why = std::strerror(errno);
        return ReadResult::Unreadable;
    }
    char buffer[4096];
    ReadResult result = ReadResult::Read;
    while (result == ReadResult::Read) {
        const ssize_t got = ::read(fd, buffer, sizeof buffer);
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0) {
            why = std::strerror(errno);
            result = ReadResult::Unreadable;
        } else if (got == 0) {
            break;
        } else {
            content.append(buffer, size_t(got));
            if (content.size() > MaxFileSize) {
                why = "larger than a state file";
                result = ReadResult::Unreadable;
            }
        }
    }
    close(fd);
    return result;
}

FILE *openForWriting(const std::string &path)
{
    return std::fopen(path.c_str(), "wb");
}
#endif

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

bool replaceFile(const std::string &from, const std::string &to, Durability durability)
{
#ifdef _WIN32
    // A reader of the old file (the other program, a virus scanner) holds it for a
    // moment and makes the replace fail meanwhile.
    for (int attempt = 0; attempt < 20; ++attempt) {
        if (MoveFileExW(widePath(from).c_str(), widePath(to).c_str(),
                        MOVEFILE_REPLACE_EXISTING
                                | (durability == Durability::Flushed ? MOVEFILE_WRITE_THROUGH : 0)))
            return true;
        const DWORD error = GetLastError();
        if (error != ERROR_ACCESS_DENIED && error != ERROR_SHARING_VIOLATION)
            return false;
        Sleep(50);
    }
    return false;
#else
    (void)durability;
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

bool isHex(const std::string &text, size_t size)
{
    return text.size() == size && std::all_of(text.begin(), text.end(), [](char c) {
               return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
           });
}

bool isSha256(const std::string &text)
{
    return isHex(text, 64);
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

// A comma-separated list of the values `valid` accepts, each once.
template <typename Valid> std::vector<std::string> readList(const std::string &list, Valid valid)
{
    std::vector<std::string> values;
    size_t start = 0;
    while (start <= list.size()) {
        size_t end = list.find(',', start);
        if (end == std::string::npos)
            end = list.size();
        const std::string value = list.substr(start, end - start);
        if (valid(value) && std::find(values.begin(), values.end(), value) == values.end())
            values.push_back(value);
        start = end + 1;
    }
    return values;
}

int takeKey(void *user, const char *section, const char *name, const char *value)
{
    State &state = *static_cast<State *>(user);
    // Keys belong to no section; anything in one was not written by us.
    if (*section != '\0')
        return 1;
    const std::string key = name;
    if (key == "installation_id") {
        state.installationId = isHex(value, 32) ? std::string(value) : std::string();
    } else if (key == "current") {
        state.current = versionOrEmpty(value);
    } else if (key == "previous") {
        state.previous = versionOrEmpty(value);
    } else if (key == "pending") {
        state.pending = versionOrEmpty(value);
    } else if (key == "trial") {
        state.trial = versionOrEmpty(value);
    } else if (key == "installed") {
        state.installed = versionOrEmpty(value);
    } else if (key == "trial_starts") {
        unsigned long long starts = 0;
        state.trialStarts = parseUnsigned(value, starts) ? int(std::min(starts, 1000ULL)) : 0;
    } else if (key == "serial") {
        unsigned long long serial = 0;
        state.serial = parseUnsigned(value, serial) ? serial : 0;
    } else if (key == "manifest_sha256") {
        state.manifestSha256 = isSha256(value) ? std::string(value) : std::string();
    } else if (key == "serial_key") {
        state.serialKey = isKeyId(value) ? std::string(value) : std::string();
    } else if (key == "time_floor") {
        unsigned long long seconds = 0;
        state.timeFloor = parseUnsigned(value, seconds) ? (long long)std::min(seconds, MaxSeconds) : 0;
    } else if (key == "revoked_keys") {
        state.revokedKeys = readList(value, isKeyId);
    } else if (key == "rejected_sha256") {
        state.rejectedSha256 = isSha256(value) ? std::string(value) : std::string();
    } else if (key == "graphics_level") {
        unsigned long long level = 0;
        state.graphicsLevel = parseUnsigned(value, level) && level <= 3 ? int(level) : 0;
    } else if (key == "graphics_runtime") {
        state.graphicsRuntime = isRuntimeName(value) ? std::string(value) : std::string();
    } else if (key == "crashes") {
        unsigned long long crashes = 0;
        state.crashes = parseUnsigned(value, crashes) ? int(std::min(crashes, MaxCount)) : 0;
    } else if (key == "last_crash_module") {
        state.lastCrashModule = isModuleName(value) ? std::string(value) : std::string();
    } else if (key == "last_check_at") {
        unsigned long long seconds = 0;
        state.lastCheckAt = parseUnsigned(value, seconds) ? (long long)std::min(seconds, MaxSeconds) : 0;
    } else if (key == "last_check_result") {
        state.lastCheckResult = isResultWord(value) ? std::string(value) : std::string();
    } else if (key == "download_result") {
        state.downloadResult = isResultWord(value) ? std::string(value) : std::string();
    } else if (key == "download_via") {
        state.downloadVia = isDownloadWay(value) ? std::string(value) : std::string();
    } else if (key == "download_from") {
        state.downloadFrom = isDownloadPlace(value) ? std::string(value) : std::string();
    } else if (key == "download_bytes") {
        unsigned long long bytes = 0;
        state.downloadBytes = parseUnsigned(value, bytes) ? (long long)std::min(bytes, MaxBytes) : 0;
    } else if (key == "download_seconds") {
        unsigned long long seconds = 0;
        state.downloadSeconds = parseUnsigned(value, seconds) ? (long long)std::min(seconds, MaxSeconds) : 0;
    } else if (key == "download_patched") {
        unsigned long long files = 0;
        state.downloadPatched = parseUnsigned(value, files) ? int(std::min(files, MaxCount)) : 0;
    } else if (key == "bad") {
        state.bad = readList(value, isValidVersion);
    }
    return 1;
}

bool isWritable(const State &s)
{
    const auto versionOk = [](const std::string &v) { return v.empty() || isValidVersion(v); };
    const auto hashOk = [](const std::string &h) { return h.empty() || isSha256(h); };
    return (s.installationId.empty() || isHex(s.installationId, 32)) && versionOk(s.current)
            && versionOk(s.previous) && versionOk(s.pending) && versionOk(s.trial) && versionOk(s.installed)
            && s.trialStarts >= 0 && hashOk(s.manifestSha256) && hashOk(s.rejectedSha256)
            && (s.serialKey.empty() || isKeyId(s.serialKey)) && s.timeFloor >= 0
            && std::all_of(s.bad.begin(), s.bad.end(), [](const std::string &v) { return isValidVersion(v); })
            && std::all_of(s.revokedKeys.begin(), s.revokedKeys.end(), isKeyId) && s.graphicsLevel >= 0
            && s.graphicsLevel <= 3 && (s.graphicsRuntime.empty() || isRuntimeName(s.graphicsRuntime))
            && s.crashes >= 0 && (s.lastCrashModule.empty() || isModuleName(s.lastCrashModule))
            && s.lastCheckAt >= 0 && (s.lastCheckResult.empty() || isResultWord(s.lastCheckResult))
            && (s.downloadResult.empty() || isResultWord(s.downloadResult))
            && (s.downloadVia.empty() || isDownloadWay(s.downloadVia))
            && (s.downloadFrom.empty() || isDownloadPlace(s.downloadFrom)) && s.downloadBytes >= 0
            && s.downloadSeconds >= 0 && s.downloadPatched >= 0;
}

// The last `limit` values, comma-separated: the newest are kept.
std::string joinNewest(const std::vector<std::string> &values, size_t limit)
{
    std::string joined;
    const size_t first = values.size() > limit ? values.size() - limit : 0;
    for (size_t i = first; i < values.size(); ++i)
        joined += (i == first ? "" : ",") + values[i];
    return joined;
}

std::string serialize(const State &s)
{
    return "installation_id=" + s.installationId + "\ncurrent=" + s.current + "\nprevious=" + s.previous
            + "\npending=" + s.pending + "\ntrial=" + s.trial
            + "\ntrial_starts=" + std::to_string(s.trialStarts) + "\ninstalled=" + s.installed
            + "\nbad=" + joinNewest(s.bad, MaxBadVersions) + "\nserial=" + std::to_string(s.serial)
            + "\nmanifest_sha256=" + s.manifestSha256 + "\nserial_key=" + s.serialKey + "\ntime_floor="
            + std::to_string(s.timeFloor) + "\nrevoked_keys=" + joinNewest(s.revokedKeys, MaxRevokedKeys)
            + "\nrejected_sha256=" + s.rejectedSha256 + "\ngraphics_level=" + std::to_string(s.graphicsLevel)
            + "\ngraphics_runtime=" + s.graphicsRuntime + "\ncrashes=" + std::to_string(s.crashes)
            + "\nlast_crash_module=" + s.lastCrashModule + "\nlast_check_at=" + std::to_string(s.lastCheckAt)
            + "\nlast_check_result=" + s.lastCheckResult + "\ndownload_result=" + s.downloadResult
            + "\ndownload_via=" + s.downloadVia + "\ndownload_from=" + s.downloadFrom + "\ndownload_bytes="
            + std::to_string(s.downloadBytes) + "\ndownload_seconds=" + std::to_string(s.downloadSeconds)
            + "\ndownload_patched=" + std::to_string(s.downloadPatched) + "\n";
}

bool parse(const std::string &content, State &out)
{
    State parsed;
    if (ini_parse_string_length(content.data(), content.size(), takeKey, &parsed) < 0)
        return false;
    out = parsed;
    return true;
}

bool isDeviceName(const std::string &stem)
{
    std::string upper = stem;
    for (char &c : upper)
        c = char(std::toupper(static_cast<unsigned char>(c)));
    if (upper == "CON" || upper == "PRN" || upper == "AUX" || upper == "NUL")
        return true;
    return upper.size() == 4 && (upper.compare(0, 3, "COM") == 0 || upper.compare(0, 3, "LPT") == 0)
            && upper[3] >= '0' && upper[3] <= '9';
}

} // namespace

bool State::isBad(const std::string &version) const
{
    return std::find(bad.begin(), bad.end(), version) != bad.end();
}

bool State::isRevoked(const std::string &keyId) const
{
    return std::find(revokedKeys.begin(), revokedKeys.end(), keyId) != revokedKeys.end();
}

bool isValidVersion(const std::string &version)
{
    const std::string staging = InstallLayout::stagingSuffix;
    return !version.empty() && version.size() <= 64 && version.front() != '.' && version.back() != '.'
            && std::all_of(version.begin(), version.end(),
                           [](char c) {
                               return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z')
                                       || (c >= 'a' && c <= 'z') || c == '.' || c == '_' || c == '-';
                           })
            && !(version.size() >= staging.size()
                 && version.compare(version.size() - staging.size(), staging.size(), staging) == 0)
            && !isDeviceName(version.substr(0, version.find('.')));
}

bool isInstallationId(const std::string &id)
{
    return id.size() == 32 && std::all_of(id.begin(), id.end(), [](char c) {
               return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f');
           });
}

bool isRingName(const std::string &ring)
{
    return !ring.empty() && ring.size() <= 32 && std::all_of(ring.begin(), ring.end(), [](char c) {
        return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '.'
                || c == '_' || c == '-';
    });
}

bool isKeyId(const std::string &id)
{
    return id.size() == 16 && std::all_of(id.begin(), id.end(), [](char c) {
               return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F');
           });
}

bool isRuntimeName(const std::string &name)
{
    return !name.empty() && name.size() <= 128 && std::all_of(name.begin(), name.end(), [](char c) {
        return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '.'
                || c == '_' || c == ':' || c == '+' || c == '-';
    });
}

bool isModuleName(const std::string &name)
{
    return !name.empty() && name.size() <= 64 && std::all_of(name.begin(), name.end(), isModuleCharacter);
}

std::string moduleName(const std::string &module)
{
    const size_t slash = module.find_last_of("/\\");
    std::string name = module.substr(slash == std::string::npos ? 0 : slash + 1, 64);
    for (char &c : name) {
        if (!isModuleCharacter(c))
            c = '_';
    }
    return name;
}

bool isResultWord(const std::string &word)
{
    return !word.empty() && word.size() <= 32 && std::all_of(word.begin(), word.end(), [](char c) {
        return (c >= 'a' && c <= 'z') || c == '-';
    });
}

bool isDownloadWay(const std::string &word)
{
    return word == "files" || word == "package";
}

bool isDownloadPlace(const std::string &word)
{
    return word == "mirror" || word == "share" || word == "manifest" || word == "origin";
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

ReadResult read(const std::string &path, State &out, std::string *why)
{
    out = State();
    std::string content, problem;
    ReadResult result = readAll(path, content, problem);
    if (result == ReadResult::Read && !parse(content, out)) {
        problem = "cannot be parsed";
        result = ReadResult::Unreadable;
    }
    if (why)
        *why = result == ReadResult::Missing ? std::string("missing") : problem;
    return result;
}

bool readLastCopy(const std::string &path, State &out)
{
    out = State();
    std::string content, problem;
    return readAll(path + ".last", content, problem) == ReadResult::Read && parse(content, out);
}

bool replaceAtomically(const std::string &path, const std::string &content, Durability durability)
{
    const std::string temporary = path + ".fenestra-tmp";
    FILE *file = openForWriting(temporary);
    if (!file)
        return false;
    bool ok = std::fwrite(content.data(), 1, content.size(), file) == content.size();
    ok = (durability == Durability::Cached || flushToDisk(file)) && ok;
    ok = std::fclose(file) == 0 && ok;
    if (!ok || !replaceFile(temporary, path, durability)) {
        removeFile(temporary);
        return false;
    }
    return true;
}

bool write(const std::string &path, const State &s)
{
    if (!isWritable(s))
        return false;
    const std::string content = serialize(s);
    if (!replaceAtomically(path, content))
        return false;
    // A hint for when the file itself cannot be read, so it needs neither a
    // flush nor an atomic replace.
    if (FILE *copy = openForWriting(path + ".last")) {
        std::fwrite(content.data(), 1, content.size(), copy);
        std::fclose(copy);
    }
    return true;
}

} // namespace InstallState
