#pragma once

#include <cstdint>
#include <string>

// Where a crash of the shell happened, told from the module it faulted in: a
// graphics driver or the graphics stack, which another way of drawing avoids;
// the program's own code, which a release answers for; or neither.
namespace CrashKind {

enum class Kind { Graphics, Own, Unknown };

// `module` is a path or a bare file name, in any case, with either slash.
Kind classify(const std::string &module);
// "graphics", "own" or "unknown", for the log.
const char *name(Kind kind);

// What the shell leaves about its crash: one line `module=<name> offset=0x<hex>`.
struct Summary
{
    std::string module; // empty: not told
    std::string offset; // "0x..." or empty
};
// Control characters are dropped and the module is cut to a path's length from
// its front, so that nothing it carries can break the log line it goes into
// and its file name stays.
Summary parseSummary(const std::string &text);
// The same from a module's name and the offset into it, cleaned alike.
Summary summary(const std::string &module, std::uint64_t offset);

} // namespace CrashKind
