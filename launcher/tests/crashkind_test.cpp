#include "check.h"
#include "launcher/crashkind.h"

#include <vector>

namespace {

using CrashKind::Kind;

// Module names as Windows, the drivers and Linux spell them, with their paths.
void tellsCrashesApart()
{
    struct Row
    {
        const char *module;
        Kind kind;
    };
    const std::vector<Row> rows = {
        { "igd10iumd64.dll", Kind::Graphics },
        { "C:\\Windows\\System32\\DriverStore\\FileRepository\\iigd_dch.inf_amd64_1\\igdumdim64.dll",
          Kind::Graphics },
        { "IG9ICD64.DLL", Kind::Graphics },
        { "nvwgf2umx.dll", Kind::Graphics },
        { "C:/Windows/System32/nvoglv64.dll", Kind::Graphics },
        { "nvd3dumx.dll", Kind::Graphics },
        { "/usr/lib/x86_64-linux-gnu/libnvidia-glcore.so.535.183.01", Kind::Graphics },
        { "atiumd64.dll", Kind::Graphics },
        { "atio6axx.dll", Kind::Graphics },
        { "amdxc64.dll", Kind::Graphics },
        { "aticfx64.dll", Kind::Graphics },
        { "d3d9.dll", Kind::Graphics },
        { "D3D11.dll", Kind::Graphics },
        { "d3d12.dll", Kind::Graphics },
        { "dxgi.dll", Kind::Graphics },
        { "opengl32.dll", Kind::Graphics },
        { "C:\\Program Files\\门窗 软件\\versions\\1.2.0\\libGLESv2.dll", Kind::Graphics },
        { "libEGL.dll", Kind::Graphics },
        { "/usr/lib/x86_64-linux-gnu/dri/iris_dri.so", Kind::Graphics },
        { "radeonsi_dri.so", Kind::Graphics },
        { "i965_dri.so", Kind::Graphics },
        { "swrast_dri.so", Kind::Graphics },
        { "libGLX_mesa.so.0", Kind::Graphics },
        { "/usr/lib/x86_64-linux-gnu/libgallium-24.2.8-1.so", Kind::Graphics },
        { "C:\\Program Files\\Fenestra\\versions\\1.2.0\\fenestra.exe", Kind::Own },
        { "FENESTRA.EXE", Kind::Own },
        { "/opt/fenestra/versions/1.2.0/bin/fenestra", Kind::Own },
        { "Qt6Quick.dll", Kind::Own },
        { "Qt6WebEngineCore.dll", Kind::Own },
        { "/opt/fenestra/versions/1.2.0/lib/libQt6Gui.so.6", Kind::Own },
        { "ntdll.dll", Kind::Unknown },
        { "KERNELBASE.dll", Kind::Unknown },
        { "/usr/lib/x86_64-linux-gnu/libc.so.6", Kind::Unknown },
        { "fenestra_helper.exe", Kind::Unknown },
        { "C:\\d3d11.dll\\evil.dll", Kind::Unknown },
        { "libglib-2.0.so.0", Kind::Unknown },
        { "", Kind::Unknown },
        { "C:\\versions\\", Kind::Unknown },
    };
    for (const Row &row : rows)
        CHECK(row.module, CrashKind::classify(row.module) == row.kind);
}

void readsTheShellsSummary()
{
    struct Row
    {
        const char *name;
        std::string text;
        std::string module, offset;
    };
    const std::vector<Row> rows = {
        { "both", "module=nvoglv64.dll offset=0x1a2B3c\n", "nvoglv64.dll", "0x1a2B3c" },
        { "a path with spaces, CRLF", "module=C:\\Program Files\\F\\fenestra.exe offset=0x10\r\nmore",
          "C:\\Program Files\\F\\fenestra.exe", "0x10" },
        { "no offset", "module=iris_dri.so", "iris_dri.so", "" },
        { "an offset that is none", "module=iris_dri.so offset=12; rm -rf", "iris_dri.so", "" },
        { "an offset too long", "module=a.dll offset=0x" + std::string(17, 'f'), "a.dll", "" },
        { "control characters dropped", "module=a\x1b[2J\tb.dll offset=0x1", "a[2Jb.dll", "0x1" },
        { "cut to a path's length at its front, never in a character",
          "module=\xE9\xA9\xB1" + std::string(242, 'a') + "\\igd10iumd64.dll offset=0x2",
          std::string(242, 'a') + "\\igd10iumd64.dll", "0x2" },
        { "cut, with the character left whole",
          "module=" + std::string(10, 'a') + "\xE9\xA9\xB1" + std::string(257, 'b'),
          "\xE9\xA9\xB1" + std::string(257, 'b'), "" },
        { "not a summary", "garbage module=x.dll", "", "" },
        { "empty", "", "", "" },
    };
    for (const Row &row : rows) {
        const CrashKind::Summary summary = CrashKind::parseSummary(row.text);
        CHECK(row.name, summary.module == row.module && summary.offset == row.offset);
    }
}

} // namespace

int crashKindTests()
{
    tellsCrashesApart();
    readsTheShellsSummary();
    return Check::failures();
}
