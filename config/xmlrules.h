#pragma once

#include <QString>

// What an XML 1.0 document can hold. config.dll is written only with names and
// values that pass these checks, so that every write can be read back.

// A name usable for an element or attribute, as the reader that reads
// config.dll accepts it (Qt's reader follows the older, narrower name rules of
// XML 1.0: rarer CJK letters are not name characters there). Names with a colon
// are refused too: a reader with namespace processing takes them for an
// unbound prefix.
bool isXmlName(const QString &name);

// Text made only of characters XML 1.0 allows (no NUL, no other C0 controls
// besides tab, line feed and carriage return, no U+FFFE/U+FFFF, no lone
// surrogates).
bool isXmlText(const QString &text);
