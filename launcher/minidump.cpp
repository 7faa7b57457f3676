#include "minidump.h"

namespace Minidump {

namespace {

constexpr std::uint32_t signature = 0x504D444D; // "MDMP"
constexpr std::uint32_t moduleListStream = 4;
constexpr std::uint32_t exceptionStream = 6;
constexpr std::uint64_t directoryEntrySize = 12;
constexpr std::uint64_t moduleEntrySize = 108;
// ExceptionCode and ExceptionAddress inside the exception stream.
constexpr std::uint64_t codeAt = 8;
constexpr std::uint64_t addressAt = 24;
// More than any process has; a count beyond it is a lie.
constexpr std::uint64_t maxModules = 65536;
// A module's path in bytes of UTF-16, well beyond Windows' longest.
constexpr std::uint32_t maxNameBytes = 2 * 32768;

// Bounds-checked little-endian reads over the dump's bytes.
class Bytes
{
public:
    explicit Bytes(const std::string &bytes) : m_bytes(bytes) { }
    bool has(std::uint64_t at, std::uint64_t size) const
    {
        return at <= m_bytes.size() && size <= m_bytes.size() - at;
    }
    std::uint64_t read(std::uint64_t at, int size) const
    {
        std::uint64_t value = 0;
        for (int i = size - 1; i >= 0; --i)
            value = value << 8 | static_cast<unsigned char>(m_bytes[size_t(at) + size_t(i)]);
        return value;
    }
    std::uint32_t u32(std::uint64_t at) const { return std::uint32_t(read(at, 4)); }
    std::uint64_t u64(std::uint64_t at) const { return read(at, 8); }

private:
    const std::string &m_bytes;
};

struct Stream
{
    std::uint64_t at = 0;
    std::uint64_t size = 0;
};

// The first stream of `type` that lies wholly inside the dump.
bool findStream(const Bytes &bytes, std::uint32_t type, Stream &stream)
{
    const std::uint64_t count = bytes.u32(8);
    const std::uint64_t directory = bytes.u32(12);
    if (!bytes.has(directory, count * directoryEntrySize))
        return false;
    for (std::uint64_t i = 0; i < count; ++i) {
        const std::uint64_t entry = directory + i * directoryEntrySize;
        if (bytes.u32(entry) != type)
            continue;
        stream.size = bytes.u32(entry + 4);
        stream.at = bytes.u32(entry + 8);
        return bytes.has(stream.at, stream.size);
    }
    return false;
}

void appendUtf8(std::string &out, std::uint32_t code)
{
    if (code < 0x80) {
        out += char(code);
    } else if (code < 0x800) {
        out += char(0xC0 | code >> 6);
        out += char(0x80 | (code & 0x3F));
    } else if (code < 0x10000) {
        out += char(0xE0 | code >> 12);
        out += char(0x80 | (code >> 6 & 0x3F));
        out += char(0x80 | (code & 0x3F));
    } else {
        out += char(0xF0 | code >> 18);
        out += char(0x80 | (code >> 12 & 0x3F));
        out += char(0x80 | (code >> 6 & 0x3F));
        out += char(0x80 | (code & 0x3F));
    }
}

// A MINIDUMP_STRING: its length in bytes, then UTF-16. Lone surrogates
// become U+FFFD; a length beyond the dump or any path's is refused.
bool readName(const Bytes &bytes, std::uint64_t at, std::string &name)
{
    if (!bytes.has(at, 4))
        return false;
    const std::uint32_t size = bytes.u32(at);
    if (size > maxNameBytes || !bytes.has(at + 4, size))
        return false;
    name.clear();
    const std::uint64_t end = at + 4 + size / 2 * 2;
    for (std::uint64_t i = at + 4; i < end; i += 2) {
        std::uint32_t code = std::uint32_t(bytes.read(i, 2));
        if (code >= 0xD800 && code <= 0xDBFF && i + 2 < end) {
            const std::uint32_t low = std::uint32_t(bytes.read(i + 2, 2));
            if (low >= 0xDC00 && low <= 0xDFFF) {
                code = 0x10000 + ((code - 0xD800) << 10) + (low - 0xDC00);
                i += 2;
            }
        }
        appendUtf8(name, code >= 0xD800 && code <= 0xDFFF ? 0xFFFD : code);
    }
    return true;
}

} // namespace

bool readException(const std::string &dump, Exception &exception)
{
    const Bytes bytes(dump);
    Stream stream;
    if (!bytes.has(0, 32) || bytes.u32(0) != signature || !findStream(bytes, exceptionStream, stream)
        || stream.size < addressAt + 8)
        return false;
    exception = Exception();
    exception.code = bytes.u32(stream.at + codeAt);
    exception.address = bytes.u64(stream.at + addressAt);

    Stream modules;
    if (!findStream(bytes, moduleListStream, modules) || modules.size < 4)
        return true;
    const std::uint64_t count = bytes.u32(modules.at);
    if (count > maxModules || count * moduleEntrySize > modules.size - 4)
        return true;
    for (std::uint64_t i = 0; i < count; ++i) {
        const std::uint64_t entry = modules.at + 4 + i * moduleEntrySize;
        const std::uint64_t base = bytes.u64(entry);
        const std::uint64_t size = bytes.u32(entry + 8);
        if (exception.address < base || exception.address - base >= size)
            continue;
        std::string name;
        if (readName(bytes, bytes.u32(entry + 20), name))
            exception.where = CrashKind::summary(name, exception.address - base);
        break;
    }
    return true;
}

} // namespace Minidump
