#include "net/filename.h"

#include <QStringList>

#include <algorithm>

namespace {

bool isForbiddenCharacter(QChar c)
{
    static const QString forbidden = QStringLiteral("/\\:<>\"|?*");
    return c.unicode() < 0x20 || c.category() == QChar::Other_Control || forbidden.contains(c);
}

bool isLoneSurrogate(const QString &text, qsizetype i)
{
    if (text[i].isHighSurrogate())
        return i + 1 == text.size() || !text[i + 1].isLowSurrogate();
    return text[i].isLowSurrogate() && (i == 0 || !text[i - 1].isHighSurrogate());
}

bool hasLoneSurrogate(const QString &text)
{
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (isLoneSurrogate(text, i))
            return true;
    }
    return false;
}

// Up to the first dot, where Windows ends a device name.
qsizetype stemLength(const QString &fileName)
{
    const qsizetype dot = fileName.indexOf(QLatin1Char('.'));
    return dot < 0 ? fileName.size() : dot;
}

// Windows opens the device for these whatever follows the first dot, and
// ignores spaces before that dot.
bool isDeviceName(const QString &fileName)
{
    QString stem = fileName.left(stemLength(fileName));
    while (stem.endsWith(QLatin1Char(' ')))
        stem.chop(1);
    stem = stem.toUpper();
    static const QStringList devices = { QStringLiteral("CON"), QStringLiteral("PRN"), QStringLiteral("AUX"),
                                         QStringLiteral("NUL") };
    if (devices.contains(stem))
        return true;
    if (stem.size() != 4 || !(stem.startsWith(QLatin1String("COM")) || stem.startsWith(QLatin1String("LPT"))))
        return false;
    // Windows counts the superscript digits ¹ ² ³ as port numbers too.
    const QChar digit = stem.back();
    return (digit >= QLatin1Char('1') && digit <= QLatin1Char('9')) || digit == QChar(0xB9)
            || digit == QChar(0xB2) || digit == QChar(0xB3);
}

} // namespace

bool isPortableFileName(const QString &fileName)
{
    if (fileName.isEmpty())
        return false;
    if (std::any_of(fileName.cbegin(), fileName.cend(), isForbiddenCharacter))
        return false;
    // Also refuses "." and "..".
    if (fileName.endsWith(QLatin1Char('.')) || fileName.endsWith(QLatin1Char(' ')))
        return false;
    return !isDeviceName(fileName) && !hasLoneSurrogate(fileName);
}

QString portableFileName(const QString &suggested, const QString &fallback)
{
    QString name = suggested;
    for (qsizetype i = 0; i < name.size(); ++i) {
        if (isForbiddenCharacter(name[i]) || isLoneSurrogate(suggested, i))
            name[i] = QLatin1Char('_');
    }
    name = name.trimmed();
    // Windows drops trailing dots and spaces, which would merge two names.
    while (name.endsWith(QLatin1Char('.')) || name.endsWith(QLatin1Char(' ')))
        name.chop(1);
    if (name.isEmpty())
        return fallback;
    if (isDeviceName(name))
        name.insert(stemLength(name), QLatin1Char('_'));
    return name;
}
