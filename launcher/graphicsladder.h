#pragma once

#include <string>
#include <vector>

// The steps by which the shell draws with less of the graphics card, one more
// after each crash in a graphics driver:
//   0 as Qt chooses, 1 no GPU compositing, 2 no GPU in the web engine at all,
//   3 also Qt Quick's software backend.
namespace GraphicsLadder {

constexpr int MaxLevel = 3;

// QTWEBENGINE_CHROMIUM_FLAGS for `level`: what the environment already held
// (IT's flags), followed by the level's, so that theirs are kept and cannot
// undo the level's.
std::string chromiumFlags(const std::string &fromEnvironment, int level);
// Whether `level` sets QT_QUICK_BACKEND=software.
bool softwareQuick(int level);

// The level IT pinned with `graphics=0..3` in its policy files (at the top or
// in their [update] section, as the shell reads them), -1 when none. `files`
// are their texts, the oldest name first: a later file that sets the key wins.
// `problem` says why a value given was not taken.
int pinnedLevel(const std::vector<std::string> &files, std::string *problem = nullptr);

} // namespace GraphicsLadder
