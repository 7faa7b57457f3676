#include "check.h"
#include "launcher/graphicsladder.h"

#include <vector>

namespace {

// IT's flags are kept, the level's come after them.
void setsTheWebEnginesFlags()
{
    struct Row
    {
        const char *name;
        std::string fromEnvironment;
        int level;
        std::string flags;
        bool softwareQuick;
    };
    const std::vector<Row> rows = {
        { "default: nothing added", "", 0, "", false },
        { "default: IT's flags as they are", "--enable-logging --v=1", 0, "--enable-logging --v=1", false },
        { "no GPU compositing", "", 1, "--disable-gpu-compositing", false },
        { "after IT's", "--ignore-gpu-blocklist", 2,
          "--ignore-gpu-blocklist --disable-gpu-compositing --disable-gpu", false },
        { "software drawing everywhere", "", 3, "--disable-gpu-compositing --disable-gpu", true },
    };
    for (const Row &row : rows) {
        CHECK(row.name, GraphicsLadder::chromiumFlags(row.fromEnvironment, row.level) == row.flags);
        CHECK(row.name, GraphicsLadder::softwareQuick(row.level) == row.softwareQuick);
    }
}

void readsItsPin()
{
    struct Row
    {
        const char *name;
        std::string policy; // policy.ini
        int level;
        bool problem;
        std::string old = std::string(); // update-policy.ini
    };
    const std::vector<Row> rows = {
        { "no file", "", -1, false },
        { "updates only", "[update]\nenabled=false\n", -1, false },
        { "at the top", "graphics=2\n", 2, false },
        { "in [update], as the shell reads its keys", "[update]\nring=pilot\ngraphics = 3\r\n", 3, false },
        { "the top wins", "graphics=1\n[update]\ngraphics=3\n", 1, false },
        { "the default pinned", "graphics=0\n", 0, false },
        { "another section is not ours", "[other]\ngraphics=2\n", -1, false },
        { "empty: not pinned", "graphics=\n", -1, false },
        { "beyond the ladder", "graphics=4\n", -1, true },
        { "not a number", "graphics=software\n", -1, true },
        { "negative", "graphics=-1\n", -1, true },
        { "two digits", "graphics=02\n", -1, true },
        { "the old file alone", "", 2, false, "graphics=2\n" },
        { "the new file wins", "[update]\ngraphics=1\n", 1, false, "graphics=2\n" },
        { "the new file set empty keeps the old one's", "graphics=\n[tabs]\nrest=0\n", 3, false,
          "[update]\ngraphics=3\n" },
        { "a bad value in the new file pins nothing", "graphics=9\n", -1, true, "graphics=2\n" },
    };
    for (const Row &row : rows) {
        std::string problem;
        CHECK(row.name, GraphicsLadder::pinnedLevel({ row.old, row.policy }, &problem) == row.level);
        CHECK(row.name, problem.empty() != row.problem);
    }
}

} // namespace

int graphicsLadderTests()
{
    setsTheWebEnginesFlags();
    readsItsPin();
    return Check::failures();
}
