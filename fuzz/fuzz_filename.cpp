// Download names: any text. A name accepted is one file inside the folder on
// every platform: it is created there under exactly that name and nothing else.
// Any name, renamed for a page download, is accepted.
#include "fuzzinput.h"
#include "net/filename.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <cstdlib>

namespace {
QTemporaryDir *folder;
}

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    silenceQtMessages();
    folder = new QTemporaryDir;
    // libFuzzer ends with exit(): the folder goes with it.
    std::atexit([] { delete folder; });
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    FuzzedDataProvider input(data, size);
    const QString name = input.ConsumeBool() ? utf16Text(input, 40) : nearlyAsciiText(input, 40);
    // Page downloads rename what the rule refuses; the new name must pass it.
    FUZZ_CHECK(isPortableFileName(portableFileName(name, QStringLiteral("download"))));
    if (!isPortableFileName(name))
        return 0;

    for (const QChar c : QStringLiteral("/\\:<>\"|?*"))
        FUZZ_CHECK(!name.contains(c));
    FUZZ_CHECK(!name.endsWith(QLatin1Char('.')) && !name.endsWith(QLatin1Char(' ')));
    QString stem = name.section(QLatin1Char('.'), 0, 0);
    while (stem.endsWith(QLatin1Char(' ')))
        stem.chop(1);
    for (const char *device : { "con", "prn", "aux", "nul", "com1", "lpt9" })
        FUZZ_CHECK(stem.compare(QLatin1String(device), Qt::CaseInsensitive) != 0);

    // Longer names than the file system holds are a storing failure, not a rule.
    if (QFile::encodeName(name).size() > 255)
        return 0;
    const QDir dir(folder->path());
    QFile file(dir.filePath(name));
    FUZZ_CHECK(file.open(QIODevice::WriteOnly));
    file.close();
    FUZZ_CHECK(dir.entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden) == QStringList { name });
    FUZZ_CHECK(file.remove());
    return 0;
}
