#include "check.h"
#include "launcher/installstate.h"

#include <chrono>
#include <cstdio>
#include <thread>
#include <vector>

namespace fs = std::filesystem;
using Check::readFile;
using Check::readState;
using Check::utf8;
using Check::writeFile;

namespace {

// What a file holds and what reading it gives.
void readsWhatTheFileHolds()
{
    struct Row
    {
        const char *name;
        std::string content;
        bool readable;
        InstallState::State expected;
    };
    InstallState::State full;
    full.installationId = "0123456789abcdef0123456789ABCDEF";
    full.current = "1.1.0";
    full.previous = "1.0.0";
    full.pending = "1.2.0-rc_1";
    full.trial = "1.2.0";
    full.trialStarts = 1;
    full.bad = { "0.9", "1.1.1" };
    full.installed = "1.3.0";
    full.serial = 18446744073709551615ULL;
    full.manifestSha256 = std::string(64, 'a');
    full.serialKey = "D787242DAFB918C4";
    full.timeFloor = 1765000000;
    full.revokedKeys = { "0123456789ABCDEF", "FEDCBA9876543210" };
    full.rejectedSha256 = std::string(64, 'b');
    full.graphicsLevel = 2;
    full.graphicsRuntime = "Qt6Core.dll:7341056";
    full.crashes = 3;
    full.lastCrashModule = "nvwgf2umx.dll";
    full.lastCheckAt = 1765350000;
    full.lastCheckResult = "staged";
    full.downloadResult = "ok";
    full.downloadVia = "files";
    full.downloadFrom = "share";
    full.downloadBytes = 140509184;
    full.downloadSeconds = 95;
    full.downloadPatched = 3;
    InstallState::State onlyCurrent;
    onlyCurrent.current = "1.0.0";
    InstallState::State windowsLines;
    windowsLines.current = "1.0.0";
    windowsLines.trialStarts = 2;
    InstallState::State goodBadOnly;
    goodBadOnly.bad = { "1.0", "2.0" };

    const std::vector<Row> rows = {
        { "every key",
          "installation_id=0123456789abcdef0123456789ABCDEF\ncurrent=1.1.0\nprevious=1.0.0\n"
          "pending=1.2.0-rc_1\ntrial=1.2.0\ntrial_starts=1\nbad=0.9,1.1.1\nserial=18446744073709551615\n"
          "installed=1.3.0\nmanifest_sha256="
                  + std::string(64, 'a')
                  + "\nserial_key=D787242DAFB918C4\n"
                    "time_floor=1765000000\nrevoked_keys=0123456789ABCDEF,FEDCBA9876543210,0123456789ABCDEF\n"
                    "rejected_sha256="
                  + std::string(64, 'b')
                  + "\ngraphics_level=2\ngraphics_runtime=Qt6Core.dll:7341056\ncrashes=3\n"
                    "last_crash_module=nvwgf2umx.dll\nlast_check_at=1765350000\nlast_check_result=staged\n"
                    "download_result=ok\ndownload_via=files\ndownload_from=share\ndownload_bytes=140509184\n"
                    "download_seconds=95\ndownload_patched=3\n",
          true, full },
        { "the last line of a key wins, as the installer appends", "current=0.9\ncurrent=1.0.0\n", true,
          onlyCurrent },
        { "trust values that are not what their key holds",
          "manifest_sha256=xyz\nserial_key=d787242dafb918c4\ntime_floor=-5\nrevoked_keys=1,2\ncurrent=1.0."
          "0\n",
          true, onlyCurrent },
        { "empty file", "", true, InstallState::State() },
        { "unknown keys and sections dropped", "colour=blue\ncurrent=1.0.0\n[other]\ncurrent=9.9\n", true,
          onlyCurrent },
        { "CRLF, BOM and spaces", "\xEF\xBB\xBF current = 1.0.0\r\ntrial_starts=2\r\n", true, windowsLines },
        { "lines without a key", "garbage\n\x01\x02\x03\ncurrent=1.0.0\n", true, onlyCurrent },
        { "versions that could leave the folder",
          "current=../../etc\nprevious=..\npending=a/b\ntrial=C:\\x\ncurrent=1.0.0\n", true, onlyCurrent },
        { "a version too long", "current=" + std::string(65, '1') + "\nprevious=.hidden\n", true,
          InstallState::State() },
        { "bad entries: invalid and repeated dropped", "bad=1.0,,../x,2.0,1.0\n", true, goodBadOnly },
        { "numbers out of range", "serial=18446744073709551616\ntrial_starts=-1\ncurrent=1.0.0\n", true,
          onlyCurrent },
        { "a graphics level beyond the ladder, a runtime that is no name",
          "graphics_level=4\ngraphics_runtime=Qt6Core.dll:1\r:2 x\ncurrent=1.0.0\n", true, onlyCurrent },
        { "a negative graphics level", "graphics_level=-1\ncurrent=1.0.0\n", true, onlyCurrent },
        { "report values that are not what their key holds",
          "crashes=-1\nlast_crash_module=C:\\x\\y.dll\nlast_check_at=x\nlast_check_result=Staged!\n"
          "download_result=\ndownload_via=parcel\ndownload_from=ftp\ndownload_bytes="
          "99999999999999999999\ndownload_seconds=-3\ndownload_patched=2x\n"
          "current=1.0.0\n",
          true, onlyCurrent },
        { "id not 32 hex", "installation_id=xyz\ncurrent=1.0.0\n", true, onlyCurrent },
        { "larger than a state file", "current=1.0.0\n" + std::string(70000, '#') + "\n", false,
          InstallState::State() },
    };
    for (const Row &row : rows) {
        Check::TemporaryDir dir;
        const fs::path file = dir.path() / "state.ini";
        writeFile(file, row.content);
        InstallState::State got;
        got.current = "stale";
        CHECK(row.name, readState(utf8(file), got) == row.readable);
        const InstallState::State &e = row.expected;
        CHECK(row.name, got.installationId == e.installationId);
        CHECK(row.name, got.current == e.current);
        CHECK(row.name, got.previous == e.previous);
        CHECK(row.name, got.pending == e.pending);
        CHECK(row.name, got.trial == e.trial);
        CHECK(row.name, got.trialStarts == e.trialStarts);
        CHECK(row.name, got.bad == e.bad);
        CHECK(row.name, got.serial == e.serial && got.installed == e.installed);
        CHECK(row.name, got.manifestSha256 == e.manifestSha256 && got.serialKey == e.serialKey);
        CHECK(row.name, got.timeFloor == e.timeFloor && got.revokedKeys == e.revokedKeys);
        CHECK(row.name, got.rejectedSha256 == e.rejectedSha256);
        CHECK(row.name, got.graphicsLevel == e.graphicsLevel && got.graphicsRuntime == e.graphicsRuntime);
        CHECK(row.name, got.crashes == e.crashes && got.lastCrashModule == e.lastCrashModule);
        CHECK(row.name, got.lastCheckAt == e.lastCheckAt && got.lastCheckResult == e.lastCheckResult);
        CHECK(row.name,
              got.downloadResult == e.downloadResult && got.downloadVia == e.downloadVia
                      && got.downloadFrom == e.downloadFrom && got.downloadBytes == e.downloadBytes
                      && got.downloadSeconds == e.downloadSeconds
                      && got.downloadPatched == e.downloadPatched);
    }
}

// Only a missing file is a new installation; one that is there but cannot be
// read is not, so that it is never written over.
void tellsMissingFromUnreadable()
{
    Check::TemporaryDir dir;
    InstallState::State got;
    got.current = "stale";
    std::string why;
    CHECK("missing",
          InstallState::read(utf8(dir.path() / "state.ini"), got, &why) == InstallState::ReadResult::Missing);
    CHECK("missing", got.current.empty() && why == "missing");
    CHECK("missing folder",
          InstallState::read(utf8(dir.path() / "update" / "state.ini"), got)
                  == InstallState::ReadResult::Missing);
    fs::create_directories(dir.path() / "folder.ini");
    got.current = "stale";
    CHECK("a folder",
          InstallState::read(utf8(dir.path() / "folder.ini"), got, &why)
                  == InstallState::ReadResult::Unreadable);
    CHECK("a folder", got.current.empty() && !why.empty());
    writeFile(dir.path() / "large.ini", "current=1.0.0\n" + std::string(70000, '#') + "\n");
    CHECK("larger than a state file",
          InstallState::read(utf8(dir.path() / "large.ini"), got) == InstallState::ReadResult::Unreadable);
}

void namesVersions()
{
    const std::vector<std::pair<std::string, bool>> rows = {
        { "1.1.0", true },
        { "1.2.0-rc_1", true },
        { "2026.12", true },
        { std::string(64, '1'), true },
        { std::string(65, '1'), false },
        { "", false },
        { ".hidden", false },
        { "1.1.", false },
        { "1.1.staging", false },
        { "con", false },
        { "NUL", false },
        { "com1.2", false },
        { "Lpt9", false },
        { "aux.1.0", false },
        { "console", true },
        { "com10", true },
        { "1.0/..", false },
        { "1 0", false },
    };
    for (const auto &row : rows)
        CHECK("version '" + row.first + "'", InstallState::isValidVersion(row.first) == row.second);
}

void writesAtomically()
{
    // A folder with a space and Chinese characters, as under a user's profile.
    Check::TemporaryDir dir;
    const fs::path folder = dir.path() / fs::u8path("程序 文件") / "update";
    fs::create_directories(folder);
    const std::string file = utf8(folder / "state.ini");

    InstallState::State s;
    s.installationId = "00112233445566778899aabbccddeeff";
    s.current = "1.0.0";
    s.bad = { "0.9" };
    s.serial = 7;
    s.graphicsLevel = 3;
    s.graphicsRuntime = "libQt6Core.so.6.4.2:6543210";
    s.downloadVia = "files";
    s.downloadPatched = 2;
    // A write killed before its rename left its temporary file behind.
    writeFile(folder / "state.ini.fenestra-tmp", "current=9.9.9\ngarbage\xff");
    CHECK("write over a leftover", InstallState::write(file, s));
    InstallState::State got;
    CHECK("read back",
          readState(file, got) && got.current == "1.0.0" && got.serial == 7 && got.bad == s.bad
                  && got.installationId == s.installationId);
    CHECK("read back: the graphics level",
          got.graphicsLevel == 3 && got.graphicsRuntime == "libQt6Core.so.6.4.2:6543210");
    CHECK("read back: the download", got.downloadVia == "files" && got.downloadPatched == 2);
    CHECK("no temporary left", !fs::exists(folder / "state.ini.fenestra-tmp"));
    CHECK("the last copy",
          InstallState::readLastCopy(file, got) && got.current == "1.0.0" && got.serial == 7);

    // The leftover of a killed write does not change what the state reads as.
    writeFile(folder / "state.ini.fenestra-tmp", "current=9.9.9\n");
    CHECK("leftover ignored by read", readState(file, got) && got.current == "1.0.0");

    s.current = "1.1.0";
    s.previous = "1.0.0";
    CHECK("replace",
          InstallState::write(file, s) && readState(file, got) && got.current == "1.1.0"
                  && got.previous == "1.0.0");

    // Nothing written could make the file say something else than what was meant.
    const std::vector<std::pair<const char *, InstallState::State>> refused = [&] {
        std::vector<std::pair<const char *, InstallState::State>> rows;
        InstallState::State newline = s;
        newline.current = "1.0\ntrial=6.6";
        rows.push_back({ "a line break in a version", newline });
        InstallState::State comma = s;
        comma.bad = { "1.0,2.0" };
        rows.push_back({ "a comma in a bad version", comma });
        InstallState::State id = s;
        id.installationId = "short";
        rows.push_back({ "an id not 32 hex", id });
        InstallState::State level = s;
        level.graphicsLevel = 4;
        rows.push_back({ "a graphics level beyond the ladder", level });
        InstallState::State runtime = s;
        runtime.graphicsRuntime = "Qt6Core.dll:1\ncurrent=6.6";
        rows.push_back({ "a line break in a runtime", runtime });
        InstallState::State module = s;
        module.lastCrashModule = "x.dll\ncurrent=6.6";
        rows.push_back({ "a line break in a crash's module", module });
        InstallState::State result = s;
        result.lastCheckResult = "ok\ncurrent=6.6";
        rows.push_back({ "a line break in a check's result", result });
        return rows;
    }();
    for (const auto &row : refused) {
        CHECK(row.first, !InstallState::write(file, row.second));
        CHECK(row.first, readState(file, got) && got.current == "1.1.0" && got.trial.empty());
    }

    // Years of bad releases keep the file readable: the oldest are forgotten.
    InstallState::State many = s;
    for (int i = 0; i < 200; ++i)
        many.bad.push_back("1." + std::to_string(i) + ".0-some-long-build-name-" + std::string(30, 'x'));
    CHECK("many bad", InstallState::write(file, many) && readState(file, got));
    CHECK("many bad: newest kept", got.isBad(many.bad.back()) && !got.isBad(many.bad.front()));
    CHECK("many bad: later keys still read", got.serial == 7);

    CHECK("unwritable folder", !InstallState::write(utf8(dir.path() / "missing" / "state.ini"), s));

    // The other program or a virus scanner reading the file for a moment: on
    // Windows the replace fails while it is open, and is tried again.
#ifdef _WIN32
    FILE *reader = _wfopen((folder / "state.ini").c_str(), L"rb");
#else
    FILE *reader = std::fopen((folder / "state.ini").c_str(), "rb");
#endif
    CHECK("held open", reader != nullptr);
    std::thread closer([reader] {
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        std::fclose(reader);
    });
    s.current = "1.2.0";
    const bool written = InstallState::write(file, s);
    closer.join();
    CHECK("replace while read", written && readState(file, got) && got.current == "1.2.0");
}

void ordersVersions()
{
    const std::vector<std::pair<std::string, std::string>> ascending = {
        { "1.0.0", "1.0.1" },
        { "1.9", "1.10" },
        { "1.0", "1.0.0" },
        { "1.0.0", "2" },
        { "99999999999999999999999", "100000000000000000000000" },
        { "1.0.0-a", "1.0.0-b" },
        { "01.2", "1.3" },
    };
    for (const auto &pair : ascending) {
        CHECK(pair.first + " < " + pair.second, InstallState::versionLess(pair.first, pair.second));
        CHECK(pair.second + " !< " + pair.first, !InstallState::versionLess(pair.second, pair.first));
    }
    CHECK("equal", !InstallState::versionLess("1.2", "1.2"));
}

} // namespace

int installStateTests()
{
    readsWhatTheFileHolds();
    tellsMissingFromUnreadable();
    namesVersions();
    writesAtomically();
    ordersVersions();
    return Check::failures();
}
