#include "graphicsladder.h"

#include "third_party/inih/ini.h"

#include <cstring>

namespace GraphicsLadder {

namespace {

struct Pin
{
    std::string top, inUpdate;
    bool seenTop = false, seenUpdate = false;
};

int takeKey(void *user, const char *section, const char *name, const char *value)
{
    Pin &pin = *static_cast<Pin *>(user);
    if (std::strcmp(name, "graphics") != 0)
        return 1;
    if (*section == '\0') {
        pin.top = value;
        pin.seenTop = true;
    } else if (std::strcmp(section, "update") == 0) {
        pin.inUpdate = value;
        pin.seenUpdate = true;
    }
    return 1;
}

} // namespace

std::string chromiumFlags(const std::string &fromEnvironment, int level)
{
    std::string flags;
    if (level >= 1)
        flags = "--disable-gpu-compositing";
    if (level >= 2)
        flags += " --disable-gpu";
    if (flags.empty())
        return fromEnvironment;
    return fromEnvironment.empty() ? flags : fromEnvironment + " " + flags;
}

bool softwareQuick(int level)
{
    return level >= 3;
}

int pinnedLevel(const std::vector<std::string> &files, std::string *problem)
{
    std::string value;
    for (const std::string &file : files) {
        Pin pin;
        ini_parse_string_length(file.data(), file.size(), takeKey, &pin);
        const std::string &own = pin.seenTop && !pin.top.empty() ? pin.top : pin.inUpdate;
        if (!own.empty())
            value = own;
    }
    if (value.empty())
        return -1;
    if (value.size() == 1 && value[0] >= '0' && value[0] <= '0' + MaxLevel)
        return value[0] - '0';
    if (problem)
        *problem = "graphics=" + value.substr(0, 16) + " is not a level from 0 to " + std::to_string(MaxLevel)
                + ", not pinned";
    return -1;
}

} // namespace GraphicsLadder
