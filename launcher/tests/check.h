#pragma once

// A few lines of test harness, so that the launcher's tests need no Qt and run
// as they are under wine.

#include "launcher/installstate.h"

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
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

// A strict reader of one JSON object (RFC 8259: no trailing commas, escapes
// and UTF-8 checked), so that a test can tell valid JSON from what only looks
// like it. Its members' values: strings unescaped, anything else as written.
class Json
{
public:
    static bool object(const std::string &text, std::map<std::string, std::string> &members)
    {
        Json json(text);
        members.clear();
        json.space();
        if (!json.take('{'))
            return false;
        json.space();
        if (!json.take('}')) {
            do {
                std::string key, value;
                json.space();
                if (!json.string(key))
                    return false;
                json.space();
                if (!json.take(':') || !json.value(value) || members.count(key))
                    return false;
                members[key] = value;
                json.space();
            } while (json.take(','));
            if (!json.take('}'))
                return false;
        }
        json.space();
        return json.m_at == text.size();
    }

private:
    explicit Json(const std::string &text) : m_text(text) { }
    bool take(char c)
    {
        if (m_at < m_text.size() && m_text[m_at] == c) {
            ++m_at;
            return true;
        }
        return false;
    }
    bool word(const char *literal)
    {
        const std::string w = literal;
        if (m_text.compare(m_at, w.size(), w) != 0)
            return false;
        m_at += w.size();
        return true;
    }
    void space()
    {
        while (m_at < m_text.size() && std::string(" \t\r\n").find(m_text[m_at]) != std::string::npos)
            ++m_at;
    }
    bool value(std::string &out)
    {
        space();
        const size_t start = m_at;
        if (m_at < m_text.size() && m_text[m_at] == '"')
            return string(out);
        if (word("null") || word("true") || word("false")) {
            out = m_text.substr(start, m_at - start);
            return true;
        }
        take('-');
        const size_t digits = m_at;
        while (m_at < m_text.size() && m_text[m_at] >= '0' && m_text[m_at] <= '9')
            ++m_at;
        // Integers are all a status holds; a leading zero only alone.
        if (m_at == digits || (m_text[digits] == '0' && m_at - digits > 1))
            return false;
        out = m_text.substr(start, m_at - start);
        return true;
    }
    bool string(std::string &out)
    {
        out.clear();
        if (!take('"'))
            return false;
        while (m_at < m_text.size()) {
            const unsigned char c = static_cast<unsigned char>(m_text[m_at++]);
            if (c == '"')
                return true;
            if (c < 0x20)
                return false;
            if (c >= 0x80) {
                // One well-formed UTF-8 sequence: no stray, overlong or surrogate forms.
                const int length = c >= 0xF0 && c <= 0xF4 ? 4
                        : c >= 0xE0                       ? 3
                        : c >= 0xC2 && c <= 0xDF          ? 2
                                                          : 0;
                if (length == 0 || m_at + size_t(length - 1) > m_text.size())
                    return false;
                unsigned code = c & (0x3F >> (length - 1));
                for (int i = 1; i < length; ++i) {
                    const unsigned char next = static_cast<unsigned char>(m_text[m_at++]);
                    if ((next & 0xC0) != 0x80)
                        return false;
                    code = (code << 6) | (next & 0x3F);
                }
                const unsigned min[] = { 0, 0, 0x80, 0x800, 0x10000 };
                if (code < min[length] || (code >= 0xD800 && code <= 0xDFFF) || code > 0x10FFFF)
                    return false;
                out.append(m_text, m_at - size_t(length), size_t(length));
                continue;
            }
            if (c != '\\') {
                out += char(c);
                continue;
            }
            if (m_at >= m_text.size())
                return false;
            const char e = m_text[m_at++];
            const std::string simple = "\"\\/bfnrt", meant = "\"\\/\b\f\n\r\t";
            if (simple.find(e) != std::string::npos) {
                out += meant[simple.find(e)];
            } else if (e == 'u' && m_at + 4 <= m_text.size()) {
                unsigned code = 0;
                for (int i = 0; i < 4; ++i) {
                    const char h = m_text[m_at++];
                    const int digit = h >= '0' && h <= '9' ? h - '0'
                            : h >= 'a' && h <= 'f'         ? h - 'a' + 10
                            : h >= 'A' && h <= 'F'         ? h - 'A' + 10
                                                           : -1;
                    if (digit < 0)
                        return false;
                    code = code * 16 + unsigned(digit);
                }
                // Only what a status writes: one byte, or U+FFFD for what was not UTF-8.
                if (code < 0x80)
                    out += char(code);
                else if (code == 0xFFFD)
                    out += "\xef\xbf\xbd";
                else
                    return false;
            } else {
                return false;
            }
        }
        return false;
    }

    const std::string &m_text;
    size_t m_at = 0;
};

} // namespace Check
