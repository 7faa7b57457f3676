#include "check.h"
#include "launcher/status.h"

#include <map>
#include <vector>

namespace {

using Members = std::map<std::string, std::string>;

Status::Facts facts(const std::string &cause)
{
    Status::Facts f;
    f.state.installationId = "00112233445566778899aabbccddeeff";
    f.state.current = "1.1.0";
    f.state.previous = "1.0.0";
    f.state.bad = { "0.9.0", "1.2.0" };
    f.started = "1.1.0";
    f.startedAt = Status::isoUtc(1796890500);
    f.graphicsLevel = 2;
    f.state.crashes = 4;
    f.state.lastCrashModule = "igd10iumd64.dll";
    f.state.lastCheckAt = 1796890560;
    f.state.lastCheckResult = "staged";
    f.state.downloadResult = "staged";
    f.state.downloadVia = "files";
    f.state.downloadFrom = "share";
    f.state.downloadBytes = 140509184;
    f.state.downloadSeconds = 95;
    f.state.downloadPatched = 3;
    f.lastExit.kind = Status::Exit::Crashed;
    f.lastExit.version = "1.1.0";
    f.lastExit.at = "2026-12-10T08:15:00Z";
    f.lastExit.cause = cause;
    return f;
}

// Whatever a cause holds, the file stays JSON, and what was UTF-8 comes back
// as it was from the file an earlier launcher wrote.
void writesValidJson()
{
    struct Row
    {
        const char *name;
        std::string cause;
        std::string readBack; // what JSON gives back for it
    };
    const std::vector<Row> rows = {
        { "plain", "signal 11 in libfoo.so at 0x10, own", "signal 11 in libfoo.so at 0x10, own" },
        { "quotes and backslashes", "C:\\Program Files\\\"x\"\\a.dll", "C:\\Program Files\\\"x\"\\a.dll" },
        { "a closing brace and a quote", "\"}, \"current\": \"evil", "\"}, \"current\": \"evil" },
        { "line breaks", "a\nb\r\n  \"last_exit\": \"clean\"", "a\nb\r\n  \"last_exit\": \"clean\"" },
        { "control characters", std::string("\x01\x1f\x7f\t\b\f", 6) + std::string(1, '\0') + "end",
          std::string("\x01\x1f\x7f\t\b\f", 6) + std::string(1, '\0') + "end" },
        { "Chinese user name", "C:\\Users\\张三\\AppData\\门窗.dll", "C:\\Users\\张三\\AppData\\门窗.dll" },
        { "not UTF-8: a stray byte",
          "a\xff"
          "b",
          "a\xef\xbf\xbd"
          "b" },
        { "not UTF-8: cut in the middle", "\xe4\xb8", "\xef\xbf\xbd\xef\xbf\xbd" },
        { "not UTF-8: overlong slash", "\xc0\xaf", "\xef\xbf\xbd\xef\xbf\xbd" },
        { "not UTF-8: a surrogate", "\xed\xa0\x80", "\xef\xbf\xbd\xef\xbf\xbd\xef\xbf\xbd" },
        { "a four-byte character", "\xf0\x9f\x98\x80", "\xf0\x9f\x98\x80" },
        { "bounded", std::string(100000, '\x01'), std::string(512, '\x01') },
    };
    for (const Row &row : rows) {
        const std::string json = Status::json(facts(row.cause));
        Members members;
        CHECK(row.name, Check::Json::object(json, members));
        CHECK(row.name, members["last_exit_cause"] == row.readBack);
        CHECK(row.name, members["current"] == "1.1.0" && members["last_exit"] == "crashed");
        CHECK(row.name, members["bad_versions"] == "2" && members["last_bad"] == "1.2.0");
        CHECK(row.name, members["crashes"] == "4" && members["last_crash_module"] == "igd10iumd64.dll");
        CHECK(row.name,
              members["last_check_at"] == "2026-12-10T08:16:00Z" && members["last_check_result"] == "staged");
        CHECK(row.name, members["last_download_via"] == "files" && members["last_download_from"] == "share");
        CHECK(row.name,
              members["last_download_bytes"] == "140509184" && members["last_download_seconds"] == "95"
                      && members["last_download_patched"] == "3");
        CHECK(row.name, json.size() < 8 * 1024);
        const Status::LastExit back = Status::readLastExit(json);
        CHECK(row.name, back.kind == Status::Exit::Crashed && back.version == "1.1.0");
        CHECK(row.name, back.at == "2026-12-10T08:15:00Z" && back.cause == row.readBack);
        // Written again, it says the same.
        Status::Facts again = facts("");
        again.lastExit = back;
        CHECK(row.name, Status::json(again) == Status::json(facts(row.readBack)));
    }
}

void readsOnlyItsOwnLastExit()
{
    const std::string ours = Status::json(facts("x"));
    const auto replaced = [&](const std::string &from, const std::string &to) {
        std::string text = ours;
        text.replace(text.find(from), from.size(), to);
        return text;
    };
    struct Row
    {
        const char *name;
        std::string json;
        Status::Exit kind;
        std::string version, at;
    };
    const std::vector<Row> rows = {
        { "empty", "", Status::Exit::None, "", "" },
        { "not JSON", "last_exit=crashed\n", Status::Exit::None, "", "" },
        { "an unknown kind", replaced("\"crashed\"", "\"exploded\""), Status::Exit::None, "", "" },
        { "cut off in a string", ours.substr(0, ours.find("\"crashed\"") + 4), Status::Exit::None, "", "" },
        { "a bad escape", replaced("\"crashed\"", "\"crash\\qed\""), Status::Exit::None, "", "" },
        { "a path for a version",
          replaced("\"last_exit_version\": \"1.1.0\"", "\"last_exit_version\": \"../x\""),
          Status::Exit::Crashed, "", "2026-12-10T08:15:00Z" },
        { "a time in another form",
          replaced("\"last_exit_at\": \"2026-12-10T08:15:00Z\"", "\"last_exit_at\": \"10.12.2026 08:15\""),
          Status::Exit::Crashed, "1.1.0", "" },
        { "ours", ours, Status::Exit::Crashed, "1.1.0", "2026-12-10T08:15:00Z" },
    };
    for (const Row &row : rows) {
        const Status::LastExit exit = Status::readLastExit(row.json);
        CHECK(row.name, exit.kind == row.kind && exit.version == row.version && exit.at == row.at);
    }
}

// The shell writes the file again after a check: what the launcher wrote of
// its own stays as it was, only the state's part changes.
void keepsTheLaunchersFactsWhenTheStateChanges()
{
    const Status::Facts before = facts("signal 11 in \"x\".dll");
    const std::string ours = Status::json(before);
    Status::Facts again = Status::readFacts(ours);
    again.state = before.state;
    CHECK("written again, the same", Status::json(again) == ours);
    again.state.lastCheckAt = 1796894160;
    again.state.lastCheckResult = "staged";
    Members members;
    CHECK("the check is new", Check::Json::object(Status::json(again), members));
    CHECK("the check is new",
          members["last_check_at"] == "2026-12-10T09:16:00Z"
                  && members["started_at"] == "2026-12-10T08:15:00Z" && members["graphics_level"] == "2"
                  && members["last_exit_cause"] == "signal 11 in \"x\".dll");
    // A package is fetched whole: it has no count of patched files.
    again.state.downloadVia = "package";
    Members package;
    CHECK("a package", Check::Json::object(Status::json(again), package));
    CHECK("a package",
          package["last_download_patched"] == "null" && package["last_download_bytes"] == "140509184");
    struct Row
    {
        const char *name;
        std::string json;
        std::string started, startedAt;
        int level;
    };
    const auto replaced = [&](const std::string &from, const std::string &to) {
        std::string text = ours;
        text.replace(text.find(from), from.size(), to);
        return text;
    };
    const std::vector<Row> rows = {
        { "not ours", "{\"started\": \"1.0\"}", "", "", 0 },
        { "a path for a version", replaced("\"started\": \"1.1.0\"", "\"started\": \"..\\\\x\""), "", "", 2 },
        { "a level beyond the ladder", replaced("\"graphics_level\": 2", "\"graphics_level\": 7"), "1.1.0",
          "2026-12-10T08:15:00Z", 0 },
        { "a time in another form",
          replaced("2026-12-10T08:15:00Z\",\n  \"graphics", "today\",\n  \"graphics"), "1.1.0", "", 2 },
    };
    for (const Row &row : rows) {
        const Status::Facts read = Status::readFacts(row.json);
        CHECK(row.name, read.started == row.started && read.startedAt == row.startedAt);
        CHECK(row.name, read.graphicsLevel == row.level);
    }
}

void tellsHowAStartEnded()
{
    const auto outcome = [](bool started, bool notLoaded, bool crashed, int code) {
        StartPlan::Outcome o;
        o.started = started;
        o.notLoaded = notLoaded;
        o.crashed = crashed;
        o.exitCode = code;
        return o;
    };
    struct Row
    {
        const char *name;
        StartPlan::Outcome outcome;
        Status::Exit kind;
        std::string cause;
    };
    const std::vector<Row> rows = {
        { "clean", outcome(true, false, false, 0), Status::Exit::Clean, "" },
        { "exit code", outcome(true, false, false, 3), Status::Exit::Failed, "exit code 3" },
        { "crash", outcome(true, false, true, 139), Status::Exit::Crashed, "signal 11 in x.dll" },
        { "library missing", outcome(true, true, false, -1073741515), Status::Exit::CouldNotStart,
          "a library could not be loaded (exit code -1073741515)" },
        { "program missing", outcome(false, false, false, 127), Status::Exit::CouldNotStart,
          "the program is missing or cannot be run" },
    };
    for (const Row &row : rows) {
        const Status::LastExit exit = Status::lastExit("2.0", row.outcome, "signal 11 in x.dll", 0);
        CHECK(row.name, exit.kind == row.kind && exit.cause == row.cause);
        CHECK(row.name, exit.version == "2.0" && exit.at == "1970-01-01T00:00:00Z");
    }
}

void writesUtcTimes()
{
    const std::vector<std::pair<long long, std::string>> rows = {
        { 0, "1970-01-01T00:00:00Z" },
        { 946684799, "1999-12-31T23:59:59Z" },
        { 951868799, "2000-02-29T23:59:59Z" },
        { 1796890500, "2026-12-10T08:15:00Z" },
        { 4107542400, "2100-03-01T00:00:00Z" },
        { -5, "1970-01-01T00:00:00Z" }, // a clock before 1970 is no time to tell
    };
    for (const auto &row : rows)
        CHECK(row.second, Status::isoUtc(row.first) == row.second);
}

} // namespace

int statusTests()
{
    writesValidJson();
    readsOnlyItsOwnLastExit();
    keepsTheLaunchersFactsWhenTheStateChanges();
    tellsHowAStartEnded();
    writesUtcTimes();
    return Check::failures();
}
