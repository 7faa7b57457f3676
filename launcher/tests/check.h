#pragma once

// A few lines of test harness, so that the launcher's tests need no Qt and run
// as they are under wine.

#include "launcher/installstate.h"

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>

namespace Check {

inline int &failures()
{
    static int count = 0;
    return count;
}

// Fails the case, naming the table row, and goes on with the next row.
#define CHECK(row, condition)                                                                                \
    do {                                                                                                     \
        if (!(condition)) {                                                                                  \
            std::fprintf(stderr, "FAIL %s:%d [%s] %s\n", __FILE__, __LINE__, std::string(row).c_str(),       \
                         #condition);                                                                        \
            ++Check::failures();                                                                             \
        }                                                                                                    \
    } while (false)

// A fresh folder under the system's temporary folder, removed with everything in it.
class TemporaryDir
{
public:
    TemporaryDir()
    {
        std::random_device random;
        m_path = std::filesystem::temp_directory_path()
                / ("fenestra-launcher-test-" + std::to_string(random()) + std::to_string(random()));
        std::filesystem::create_directories(m_path);
    }
    ~TemporaryDir()
    {
        std::error_code ignored;
        std::filesystem::remove_all(m_path, ignored);
    }
    TemporaryDir(const TemporaryDir &) = delete;
    TemporaryDir &operator=(const TemporaryDir &) = delete;
    const std::filesystem::path &path() const { return m_path; }

private:
    std::filesystem::path m_path;
};

inline std::string utf8(const std::filesystem::path &path)
{
    const auto text = path.u8string();
    return std::string(text.begin(), text.end());
}

inline void writeFile(const std::filesystem::path &path, const std::string &content)
{
    std::filesystem::create_directories(path.parent_path());
    std::ofstream(path, std::ios::binary) << content;
}

inline std::string readFile(const std::filesystem::path &path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// Whether the state file was there and read.
inline bool readState(const std::string &path, InstallState::State &out)
{
    return InstallState::read(path, out) == InstallState::ReadResult::Read;
}

} // namespace Check
