#include "crashkind.h"

#include <algorithm>
#include <cctype>
#include <cstdio>

namespace CrashKind {

namespace {

struct Pattern
{
    const char *glob; // lower case; '*' stands for any characters
    Kind kind;
};

// First match wins. Graphics: the drivers' user-mode parts and the system's
// graphics libraries, which crash on old drivers whatever the release does.
// Own: what a release ships and answers for. Qt WebEngine's core belongs
// there too: Chromium's drawing code calls into the driver, so a driver fault
// names the driver's module; a fault inside Qt6WebEngineCore is a fault of
// the code we ship, and a release that brings one should be rolled back.
const Pattern table[] = {
    // Intel: igd10iumd64.dll, igdumdim64.dll, ig9icd64.dll, igc64.dll ...
    { "ig*.dll", Kind::Graphics },
    // NVIDIA: nvwgf2umx.dll, nvoglv64.dll, nvd3dumx.dll ...; its Linux driver.
    { "nv*.dll", Kind::Graphics },
    { "libnvidia-*.so*", Kind::Graphics },
    // AMD: atiumd64.dll, atio6axx.dll, aticfx64.dll, amdxc64.dll ...
    { "ati*.dll", Kind::Graphics },
    { "amd*.dll", Kind::Graphics },
    // Direct3D and its compiler, DXGI, OpenGL and the ANGLE and Mesa
    // software fallbacks Qt ships.
    { "d3d*.dll", Kind::Graphics },
    { "dxgi.dll", Kind::Graphics },
    { "opengl32*.dll", Kind::Graphics },
    { "libglesv2*.dll", Kind::Graphics },
    { "libegl*.dll", Kind::Graphics },
    // Mesa and the GL dispatch libraries on Linux.
    { "*_dri.so", Kind::Graphics },
    { "libgallium*.so*", Kind::Graphics },
    { "libglx*.so*", Kind::Graphics },
    { "libgl.so*", Kind::Graphics },
    { "libegl*.so*", Kind::Graphics },
    { "libglesv2*.so*", Kind::Graphics },
    { "libvulkan*.so*", Kind::Graphics },
    { "vulkan-1.dll", Kind::Graphics },
    // The shell and the Qt it ships.
    { "fenestra.exe", Kind::Own },
    { "fenestra", Kind::Own },
    { "qt6*.dll", Kind::Own },
    { "libqt6*.so*", Kind::Own },
};

bool matches(const char *glob, const char *text)
{
    if (*glob == '\0')
        return *text == '\0';
    if (*glob == '*')
        return matches(glob + 1, text) || (*text != '\0' && matches(glob, text + 1));
    return *glob == *text && matches(glob + 1, text + 1);
}

std::string fileName(const std::string &module)
{
    const size_t slash = module.find_last_of("/\\");
    std::string name = slash == std::string::npos ? module : module.substr(slash + 1);
    for (char &c : name)
        c = char(std::tolower(static_cast<unsigned char>(c)));
    return name;
}

// Printable characters and UTF-8 sequences only, the last `limit` bytes at most.
std::string cleaned(const std::string &text, size_t limit)
{
    std::string out;
    for (const char c : text) {
        if (static_cast<unsigned char>(c) >= 0x20 && c != 0x7F)
            out += c;
    }
    if (out.size() > limit) {
        // The front goes: the file name at the end is what tells the module.
        out.erase(0, out.size() - limit);
        // Never half a character: drop what the cut left of one.
        while (!out.empty() && (static_cast<unsigned char>(out.front()) & 0xC0) == 0x80)
            out.erase(0, 1);
    }
    return out;
}

bool isOffset(const std::string &text)
{
    return text.size() > 2 && text.size() <= 18 && text.compare(0, 2, "0x") == 0
            && std::all_of(text.begin() + 2, text.end(),
                           [](char c) { return std::isxdigit(static_cast<unsigned char>(c)) != 0; });
}

} // namespace

Kind classify(const std::string &module)
{
    const std::string name = fileName(module);
    if (name.empty())
        return Kind::Unknown;
    for (const Pattern &pattern : table) {
        if (matches(pattern.glob, name.c_str()))
            return pattern.kind;
    }
    return Kind::Unknown;
}

const char *name(Kind kind)
{
    switch (kind) {
    case Kind::Graphics:
        return "graphics";
    case Kind::Own:
        return "own";
    case Kind::Unknown:
        break;
    }
    return "unknown";
}

Summary parseSummary(const std::string &text)
{
    Summary summary;
    const std::string line = text.substr(0, text.find_first_of("\r\n"));
    if (line.compare(0, 7, "module=") != 0)
        return summary;
    // A module's path may hold spaces, so the offset is taken from the end.
    std::string module = line.substr(7);
    const size_t at = module.rfind(" offset=");
    if (at != std::string::npos) {
        const std::string offset = module.substr(at + 8);
        if (isOffset(offset))
            summary.offset = offset;
        module.resize(at);
    }
    summary.module = cleaned(module, 260);
    return summary;
}

Summary summary(const std::string &module, std::uint64_t offset)
{
    char hex[24];
    std::snprintf(hex, sizeof hex, "0x%llx", static_cast<unsigned long long>(offset));
    return Summary { cleaned(module, 260), hex };
}

} // namespace CrashKind
