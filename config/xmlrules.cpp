#include "config/xmlrules.h"

#include <QStringView>
#include <QXmlStreamReader>

bool isXmlName(const QString &name)
{
    if (name.isEmpty() || name.contains(QLatin1Char(':')) || !isXmlText(name))
        return false;
    // Anything that is not one name makes the element another one, or no
    // element at all.
    QXmlStreamReader reader(QLatin1Char('<') + name + QLatin1String("/>"));
    return reader.readNext() == QXmlStreamReader::StartDocument
            && reader.readNext() == QXmlStreamReader::StartElement && reader.qualifiedName() == name
            && reader.attributes().isEmpty() && reader.readNext() == QXmlStreamReader::EndElement
            && reader.readNext() == QXmlStreamReader::EndDocument && !reader.hasError();
}

bool isXmlText(const QString &text)
{
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text[i];
        if (c.isHighSurrogate() && i + 1 < text.size() && text[i + 1].isLowSurrogate()) {
            ++i;
            continue;
        }
        const char16_t u = c.unicode();
        const bool allowed = u == 0x9 || u == 0xA || u == 0xD || (u >= 0x20 && u <= 0xD7FF)
                || (u >= 0xE000 && u <= 0xFFFD);
        if (!allowed)
            return false;
    }
    return true;
}
