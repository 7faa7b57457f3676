#include "check.h"

#include "launcher/crashdumps.h"
#include "launcher/installlayout.h"

#include <algorithm>
#include <vector>

namespace fs = std::filesystem;

namespace {

constexpr std::uintmax_t MiB = 1024 * 1024;

void keepsTheBound()
{
    using CrashDumps::File;
    struct Row
    {
        const char *name;
        std::vector<File> files;
        std::vector<std::string> removed;
    };
    const std::vector<Row> rows = {
        { "within the bound", { { "crash-20261201-080000-000-1.0.0.dmp", MiB } }, {} },
        { "six files: the oldest goes, whatever order they are listed in",
          { { "crash-20261206-080000-000-1.0.0.dmp", MiB },
            { "crash-20261201-080000-000-1.0.0.dmp", MiB },
            { "crash-20261203-080000-000-1.0.0.dmp", MiB },
            { "crash-20261202-080000-000-1.0.0.dmp", MiB },
            { "crash-20261205-080000-000-1.0.0.dmp", MiB },
            { "crash-20261204-080000-000-1.0.0.dmp", MiB } },
          { "crash-20261201-080000-000-1.0.0.dmp" } },
        { "too many bytes: the oldest go until the rest fit",
          { { "crash-20261201-080000-000-1.0.0.dmp", 6 * MiB },
            { "crash-20261202-080000-000-1.0.0.dmp", 6 * MiB },
            { "crash-20261203-080000-000-1.1.0.dmp", 6 * MiB } },
          { "crash-20261201-080000-000-1.0.0.dmp" } },
        { "the newest is kept even when it alone is too large",
          { { "crash-20261201-080000-000-1.0.0.dmp", MiB },
            { "crash-20261202-080000-000-1.0.0.dmp", 20 * MiB } },
          { "crash-20261201-080000-000-1.0.0.dmp" } },
        { "an unfinished write goes, the summary and other files stay",
          { { "crash-20261201-080000-000-1.0.0.dmp.partial", MiB },
            { "last-crash.txt", 1 },
            { "notes.dmp", 30 * MiB },
            { "crash-.dmp", 30 * MiB },
            { "crash-20261201-080000-000-1.0.0.dmp.txt", 30 * MiB },
            { "crash-20261202-080000-000-1.0.0.dmp", MiB } },
          { "crash-20261201-080000-000-1.0.0.dmp.partial" } },
        { "an empty folder", {}, {} },
    };
    for (const Row &row : rows)
        CHECK(row.name,
              CrashDumps::toRemove(row.files, CrashDumps::maxFiles, CrashDumps::maxBytes) == row.removed);

    // The same on a real folder, with a name in Chinese beside the dumps.
    Check::TemporaryDir dir;
    const fs::path folder = dir.path() / fs::u8path(InstallLayout::crashesFolder);
    for (int day = 1; day <= 7; ++day)
        Check::writeFile(folder / ("crash-2026120" + std::to_string(day) + "-080000-000-1.0.0.dmp"), "MDMP");
    Check::writeFile(folder / fs::u8path("门窗.txt"), "IT's");
    CrashDumps::rotate(Check::utf8(dir.path()));
    std::vector<std::string> left;
    for (const fs::directory_entry &entry : fs::directory_iterator(folder))
        left.push_back(Check::utf8(entry.path().filename()));
    std::sort(left.begin(), left.end());
    CHECK("a real folder",
          left
                  == (std::vector<std::string> {
                          "crash-20261203-080000-000-1.0.0.dmp", "crash-20261204-080000-000-1.0.0.dmp",
                          "crash-20261205-080000-000-1.0.0.dmp", "crash-20261206-080000-000-1.0.0.dmp",
                          "crash-20261207-080000-000-1.0.0.dmp", "\xE9\x97\xA8\xE7\xAA\x97.txt" }));
}

} // namespace

int crashDumpsTests()
{
    keepsTheBound();
    return Check::failures();
}
