#pragma once

#include <QString>

// Whether a download may be stored under `fileName`: one name inside the target
// folder, and one that Windows stores as given. The same names are refused on
// every platform, so a page gets the same answer everywhere. Refused: empty,
// "." and "..", path separators and drive colons, the characters < > " | ? *,
// control characters, a trailing dot or space (Windows drops them, so "a." and
// "a" would be one file), the device names CON, PRN, AUX, NUL, COM1-9 and
// LPT1-9 in any letter case and with any extension ("aux.txt" is the device
// too), and lone UTF-16 surrogates.
bool isPortableFileName(const QString &fileName);

// `suggested` changed as little as it takes to pass isPortableFileName(): the
// characters it refuses become "_", spaces around the name and trailing dots
// go, a device name gets "_" after its stem ("aux.txt" becomes "aux_.txt",
// "CON" "CON_"), and a name left empty becomes `fallback`.
QString portableFileName(const QString &suggested, const QString &fallback);
