#include "installation.h"

#include "launcher/installlayout.h"
#include "launcher/installstate.h"

#include <cstdio>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <random>
#include <system_error>

namespace fs = std::filesystem;

namespace Installation {

namespace {

fs::path path(const std::string &utf8)
{
    return fs::u8path(utf8);
}

std::string utf8(const fs::path &p)
{
    const auto text = p.u8string();
    return std::string(text.begin(), text.end());
}

// At most `limit` bytes of a file; empty when it is missing or holds more.
std::string readBounded(const fs::path &file, size_t limit)
{
    std::ifstream in(file, std::ios::binary);
    std::string text(limit + 1, '\0');
    in.read(text.data(), std::streamsize(text.size()));
    const size_t got = in.bad() ? 0 : size_t(in.gcount());
    text.resize(got > limit ? 0 : got);
    return text;
}

} // namespace

std::string statePath(const std::string &root)
{
    return utf8(path(root) / fs::u8path(InstallLayout::stateFile));
}

std::string statusPath(const std::string &root)
{
    return utf8(path(root) / fs::u8path(InstallLayout::statusFile));
}

std::string statusText(const std::string &root)
{
    return readBounded(path(statusPath(root)), 16 * 1024);
}

std::string lockPath(const std::string &root)
{
    return utf8(path(root) / fs::u8path(InstallLayout::lockFile));
}

std::string firstFramePath(const std::string &root)
{
    return utf8(path(root) / fs::u8path(InstallLayout::firstFrameFile));
}

std::string shellPath(const std::string &root, const std::string &version)
{
    return utf8(path(root) / InstallLayout::versionsFolder / version
                / fs::u8path(InstallLayout::shellInVersion));
}

void clearFirstFrame(const std::string &root)
{
    std::error_code ignored;
    fs::remove(path(firstFramePath(root)), ignored);
}

bool showedFirstFrame(const std::string &root, const std::string &version)
{
    std::ifstream in(path(firstFramePath(root)), std::ios::binary);
    std::string shown;
    std::getline(in, shown);
    if (!shown.empty() && shown.back() == '\r')
        shown.pop_back();
    return !version.empty() && shown == version;
}

std::vector<std::string> completeVersions(const std::string &root)
{
    std::vector<std::string> versions;
    std::error_code error;
    for (fs::directory_iterator it(path(root) / InstallLayout::versionsFolder, error), end;
         !error && it != end; it.increment(error)) {
        const std::string name = utf8(it->path().filename());
        std::error_code ignored;
        // isValidVersion() refuses the names of folders still being staged.
        if (InstallState::isValidVersion(name) && it->is_directory(ignored)
            && fs::is_regular_file(it->path() / InstallLayout::completeMarker, ignored))
            versions.push_back(name);
    }
    return versions;
}

void log(const std::string &root, const std::string &line)
{
    const fs::path file = path(root) / fs::u8path(InstallLayout::launcherLog);
    std::error_code ignored;
    fs::create_directories(file.parent_path(), ignored);
    // A line per start; at a megabyte the older lines move aside, replacing the ones before.
    if (fs::file_size(file, ignored) > 1024 * 1024 && !ignored)
        fs::rename(file, path(root) / fs::u8path(InstallLayout::launcherOldLog), ignored);
    const std::time_t now = std::time(nullptr);
    char stamp[32] = "";
    if (const std::tm *local = std::localtime(&now))
        std::strftime(stamp, sizeof stamp, "%Y-%m-%d %H:%M:%S", local);
#ifdef _WIN32
    FILE *out = _wfopen(file.c_str(), L"ab");
#else
    FILE *out = std::fopen(file.c_str(), "ab");
#endif
    if (!out)
        return;
    std::fprintf(out, "%s %s\n", stamp, line.c_str());
    std::fclose(out);
}

std::string qtRuntime(const std::string &root, const std::string &version)
{
    std::error_code error;
    const fs::path core = fs::canonical(path(root) / InstallLayout::versionsFolder / version
                                                / fs::u8path(InstallLayout::qtCoreInVersion),
                                        error);
    const std::uintmax_t size = error ? 0 : fs::file_size(core, error);
    if (error)
        return std::string();
    std::string name = utf8(core.filename());
    // Only what the state can hold; the size tells builds apart anyway.
    for (char &c : name) {
        if (!InstallState::isRuntimeName(std::string(1, c)))
            c = '_';
    }
    const std::string sizeText = ":" + std::to_string(size);
    return name.substr(0, 128 - sizeText.size()) + sizeText;
}

std::vector<std::string> policyTexts(const std::string &root)
{
    std::vector<std::string> texts;
    for (const char *name : { InstallLayout::oldPolicyFile, InstallLayout::policyFile })
        texts.push_back(readBounded(path(root) / fs::u8path(name), 64 * 1024));
    return texts;
}

void clearCrashSummary(const std::string &root)
{
    std::error_code ignored;
    fs::remove(path(root) / fs::u8path(InstallLayout::crashSummaryFile), ignored);
}

std::string takeCrashSummary(const std::string &root)
{
    const fs::path file = path(root) / fs::u8path(InstallLayout::crashSummaryFile);
    std::ifstream in(file, std::ios::binary);
    std::string text(4096, '\0');
    in.read(text.data(), std::streamsize(text.size()));
    text.resize(in.bad() ? 0 : size_t(in.gcount()));
    in.close();
    clearCrashSummary(root);
    return text;
}

std::string newInstallationId()
{
    std::random_device random;
    static const char digits[] = "0123456789abcdef";
    std::string id;
    while (id.size() < 32) {
        const unsigned int value = random();
        for (int shift = 0; shift < 32 && id.size() < 32; shift += 4)
            id += digits[(value >> shift) & 0xF];
    }
    return id;
}

} // namespace Installation
