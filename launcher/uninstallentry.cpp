#include "uninstallentry.h"

#include "launcher/installlayout.h"
#include "launcher/installstate.h"

#include <windows.h>

namespace UninstallEntry {

Result showVersion(const std::string &version)
{
    if (!InstallState::isValidVersion(version))
        return Result::Failed;
    // A version's name is ASCII.
    const std::wstring wide(version.begin(), version.end());
    HKEY key = nullptr;
    const LSTATUS opened = RegOpenKeyExW(HKEY_CURRENT_USER, InstallLayout::uninstallKey, 0,
                                         KEY_QUERY_VALUE | KEY_SET_VALUE, &key);
    if (opened == ERROR_FILE_NOT_FOUND)
        return Result::NoEntry;
    if (opened != ERROR_SUCCESS)
        return Result::Failed;
    wchar_t shown[80] = L"";
    DWORD type = 0, size = sizeof shown - sizeof(wchar_t);
    Result result = Result::Updated;
    if (RegQueryValueExW(key, L"DisplayVersion", nullptr, &type, reinterpret_cast<BYTE *>(shown), &size)
                == ERROR_SUCCESS
        && type == REG_SZ && wide == std::wstring(shown, size / sizeof(wchar_t)).c_str()) {
        result = Result::Unchanged;
    } else if (RegSetValueExW(key, L"DisplayVersion", 0, REG_SZ, reinterpret_cast<const BYTE *>(wide.c_str()),
                              DWORD((wide.size() + 1) * sizeof(wchar_t)))
               != ERROR_SUCCESS) {
        result = Result::Failed;
    }
    RegCloseKey(key);
    return result;
}

} // namespace UninstallEntry
