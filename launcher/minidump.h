#pragma once

#include "launcher/crashkind.h"

#include <cstdint>
#include <string>

// Reads where a crash happened from a Windows minidump, without symbols: the
// exception stream's code and address, and the module list's entry that holds
// that address. Any bytes may come in; what lies outside them, or outside the
// stream it belongs to, is never read.
namespace Minidump {

struct Exception
{
    std::uint32_t code = 0;
    std::uint64_t address = 0;
    // The module holding the address and the offset into it; both empty when
    // the dump lists none that does.
    CrashKind::Summary where;
};

// False when `dump` is no minidump or has no exception stream.
bool readException(const std::string &dump, Exception &exception);

} // namespace Minidump
