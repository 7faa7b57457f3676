#include "check.h"

#include "launcher/minidump.h"

#include <cstdint>
#include <functional>
#include <vector>

namespace {

void put(std::string &bytes, size_t at, std::uint64_t value, int size)
{
    if (bytes.size() < at + size_t(size))
        bytes.resize(at + size_t(size), '\0');
    for (int i = 0; i < size; ++i)
        bytes[at + size_t(i)] = char(value >> (8 * i) & 0xFF);
}

struct Module
{
    std::uint64_t base;
    std::uint32_t size;
    std::u16string name;
};

// A dump laid out as dbghelp writes one: the header, a directory of two
// entries, the exception stream, the module list, then the modules' names.
struct Dump
{
    std::uint32_t code = 0xC0000005;
    std::uint64_t address = 0;
    std::vector<Module> modules;
    bool withModules = true;

    std::string bytes() const
    {
        std::string b;
        put(b, 0, 0x504D444D, 4); // "MDMP"
        put(b, 4, 0xA793, 4);
        put(b, 8, withModules ? 2 : 1, 4);
        put(b, 12, 32, 4); // the directory
        const size_t exception = 56, list = exception + 168;
        put(b, 32, 6, 4);
        put(b, 36, 168, 4);
        put(b, 40, exception, 4);
        put(b, exception, 7, 4); // the thread
        put(b, exception + 8, code, 4);
        put(b, exception + 24, address, 8);
        put(b, exception + 167, 0, 1);
        if (!withModules)
            return b;
        put(b, 44, 4, 4);
        put(b, 48, 4 + 108 * modules.size(), 4);
        put(b, 52, list, 4);
        put(b, list, modules.size(), 4);
        size_t names = list + 4 + 108 * modules.size();
        for (size_t i = 0; i < modules.size(); ++i) {
            const size_t entry = list + 4 + 108 * i;
            put(b, entry, modules[i].base, 8);
            put(b, entry + 8, modules[i].size, 4);
            put(b, entry + 20, names, 4);
            put(b, entry + 107, 0, 1);
            const std::u16string &name = modules[i].name;
            put(b, names, 2 * name.size(), 4);
            for (size_t c = 0; c < name.size(); ++c)
                put(b, names + 4 + 2 * c, name[c], 2);
            put(b, names + 4 + 2 * name.size(), 0, 2); // not counted in the length
            names += 4 + 2 * name.size() + 2;
        }
        return b;
    }
};

const std::u16string driverName = u"C:\\Windows\\System32\\DriverStore\\igd10iumd64.dll";

Dump crashInDriver()
{
    Dump d;
    d.modules = { { 0x140000000, 0x20000, u"C:\\Program Files\\门窗\\fenestra.exe" },
                  { 0x7FF812340000, 0x400000, driverName } };
    d.address = 0x7FF812340000 + 0x1A2B;
    return d;
}

// Where the first module's entry lies in Dump's layout.
constexpr size_t firstModule = 56 + 168 + 4;

void readsDumps()
{
    struct Row
    {
        const char *name;
        std::function<std::string()> bytes;
        bool read;
        std::string module, offset;
    };
    const std::string driver = "C:\\Windows\\System32\\DriverStore\\igd10iumd64.dll";
    const std::vector<Row> rows = {
        { "a crash in the driver", [] { return crashInDriver().bytes(); }, true, driver, "0x1a2b" },
        { "a crash in the program, its path in Chinese",
          [] {
              Dump d = crashInDriver();
              d.address = 0x140000010;
              return d.bytes();
          },
          true, "C:\\Program Files\\\xE9\x97\xA8\xE7\xAA\x97\\fenestra.exe", "0x10" },
        { "a name with a character beyond the BMP and a lone surrogate",
          [] {
              Dump d = crashInDriver();
              d.modules[1].name = u"\U0001F600\xD800x.dll";
              return d.bytes();
          },
          true, "\xF0\x9F\x98\x80\xEF\xBF\xBDx.dll", "0x1a2b" },
        { "the module's last byte",
          [] {
              Dump d = crashInDriver();
              d.address = 0x7FF812340000 + 0x3FFFFF;
              return d.bytes();
          },
          true, driver, "0x3fffff" },
        { "just past every module",
          [] {
              Dump d = crashInDriver();
              d.address = 0x7FF812340000 + 0x400000;
              return d.bytes();
          },
          true, "", "" },
        { "an address in no module (a jump to nowhere)",
          [] {
              Dump d = crashInDriver();
              d.address = 0;
              return d.bytes();
          },
          true, "", "" },
        { "no module list",
          [] {
              Dump d = crashInDriver();
              d.withModules = false;
              return d.bytes();
          },
          true, "", "" },
        { "a name's length beyond the file",
          [] {
              std::string b = crashInDriver().bytes();
              const size_t name = size_t(std::uint8_t(b[firstModule + 108 + 20]))
                      | size_t(std::uint8_t(b[firstModule + 108 + 21])) << 8;
              put(b, name, 0x7FFFFFF0, 4);
              return b;
          },
          true, "", "" },
        { "a name's offset beyond the file",
          [] {
              std::string b = crashInDriver().bytes();
              put(b, firstModule + 108 + 20, 0xFFFFFFFC, 4);
              return b;
          },
          true, "", "" },
        { "more modules than the list holds",
          [] {
              std::string b = crashInDriver().bytes();
              put(b, firstModule - 4, 0xFFFFFFFF, 4);
              return b;
          },
          true, "", "" },
        { "a stream beyond the file",
          [] {
              std::string b = crashInDriver().bytes();
              put(b, 40, 0xFFFFFF00, 4);
              return b;
          },
          false, "", "" },
        { "a directory beyond the file",
          [] {
              std::string b = crashInDriver().bytes();
              put(b, 8, 0xFFFFFFFF, 4);
              return b;
          },
          false, "", "" },
        { "no exception stream",
          [] {
              std::string b = crashInDriver().bytes();
              put(b, 32, 3, 4);
              return b;
          },
          false, "", "" },
        { "not a minidump", [] { return std::string("PK\3\4") + crashInDriver().bytes().substr(4); }, false,
          "", "" },
        { "empty", [] { return std::string(); }, false, "", "" },
    };
    for (const Row &row : rows) {
        Minidump::Exception exception;
        const bool read = Minidump::readException(row.bytes(), exception);
        CHECK(row.name, read == row.read);
        if (read) {
            CHECK(row.name, exception.code == 0xC0000005);
            CHECK(row.name, exception.where.module == row.module && exception.where.offset == row.offset);
        }
    }

    // Cut anywhere, a dump yields what lies wholly in the part kept, or
    // nothing: the driver's name only once all of it is there.
    const std::string whole = crashInDriver().bytes();
    for (size_t size = 0; size < whole.size(); ++size) {
        Minidump::Exception exception;
        const bool read = Minidump::readException(whole.substr(0, size), exception);
        CHECK("cut at " + std::to_string(size),
              size >= whole.size() - 2 ? read && exception.where.module == driver
                                       : !read || exception.where.module.empty());
    }
}

} // namespace

int minidumpTests()
{
    readsDumps();
    return Check::failures();
}
