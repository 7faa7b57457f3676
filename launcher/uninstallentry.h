#pragma once

#include <string>

// The uninstall entry the installer makes (HKEY_CURRENT_USER), which Windows'
// program list and IT's inventory tools read. Windows only.
namespace UninstallEntry {

enum class Result {
    NoEntry, // no installer made one: a portable copy, which the registry never learns of
    Unchanged, // it names that version already
    Updated,
    Failed,
};

// Makes the entry's DisplayVersion name `version`, if there is an entry.
Result showVersion(const std::string &version);

} // namespace UninstallEntry
