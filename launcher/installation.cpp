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

} // namespace

std::string statePath(const std::string &root)
{
    return utf8(path(root) / fs::u8path(InstallLayout::stateFile));
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
