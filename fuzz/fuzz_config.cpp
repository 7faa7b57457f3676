// config.dll as the disk and the pages give it: any file content, then one
// setAttr with any names and value. A readable file stays readable and the value
// written reads back; a write that is refused, or any write to an unreadable
// file, leaves the bytes as they were; nothing but config.dll is left behind.
#include "config/appdir.h"
#include "config/config.h"
#include "config/xmlrules.h"
#include "fuzzinput.h"

#include <QDir>
#include <QDomDocument>
#include <QFile>
#include <QStringList>
#include <QTemporaryDir>

#include <cstdlib>

namespace {

QTemporaryDir *folder;

QString configPath()
{
    return folder->filePath(QStringLiteral("config.dll"));
}

QByteArray fileContent()
{
    QFile file(configPath());
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

bool readable(const QByteArray &content)
{
    QDomDocument document;
#if QT_VERSION >= QT_VERSION_CHECK(6, 5, 0)
    return bool(document.setContent(content, QDomDocument::ParseOption::Default));
#else
    return document.setContent(content);
#endif
}

QString pick(FuzzedDataProvider &input, const QStringList &known)
{
    switch (input.ConsumeIntegralInRange(0, 2)) {
    case 0:
        return known.at(input.ConsumeIntegralInRange<qsizetype>(0, known.size() - 1));
    case 1:
        return nearlyAsciiText(input, 24);
    default:
        return utf16Text(input, 24);
    }
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    silenceQtMessages();
    // Every write ends in a sync to disk; a memory file system makes that free.
    folder = new QTemporaryDir(QDir(QStringLiteral("/dev/shm")).exists()
                                       ? QStringLiteral("/dev/shm/fenestra-fuzz-XXXXXX")
                                       : QDir::tempPath() + QStringLiteral("/fenestra-fuzz-XXXXXX"));
    AppDir::setPath(folder->path());
    // libFuzzer ends with exit(): the folder goes with it.
    std::atexit([] { delete folder; });
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    FuzzedDataProvider input(data, size);
    const bool fileExists = input.ConsumeBool();
    const QString name =
            pick(input, { "server", "factory", "web", "db", "app", "backup", "site", "hallinfo" });
    const QString attr = pick(input, { "url", "path", "port", "name", "code_version", "is_domain", "hid" });
    const QString value = input.ConsumeBool() ? utf16Text(input, 64) : nearlyAsciiText(input, 64);
    const std::string rest = input.ConsumeRemainingBytesAsString();
    // FUZZ_SHOW=1 with a finding as the argument prints what it decodes to.
    if (qEnvironmentVariableIsSet("FUZZ_SHOW"))
        std::fprintf(stderr, "name %s attr %s value %s file %d\n",
                     qPrintable(QString::fromLatin1(name.toUtf8().toPercentEncoding())),
                     qPrintable(QString::fromLatin1(attr.toUtf8().toPercentEncoding())),
                     qPrintable(QString::fromLatin1(value.toUtf8().toPercentEncoding())), int(fileExists));

    QFile::remove(configPath());
    if (fileExists) {
        QFile file(configPath());
        FUZZ_CHECK(file.open(QIODevice::WriteOnly));
        file.write(rest.data(), qint64(rest.size()));
    }

    Config *config = Config::getInstance();
    config->loadConfig();
    const QByteArray before = fileContent();
    if (!fileExists)
        FUZZ_CHECK(readable(before)); // made from the fields
    else
        FUZZ_CHECK(before == QByteArray::fromStdString(rest)); // loading never rewrites a file
    config->getUrl(0);
    config->getUrl(1);
    config->getAttr(name, attr);

    config->setAttr(name, attr, value);
    const QByteArray after = fileContent();
    const bool storable = isXmlName(name) && isXmlName(attr) && isXmlText(value);
    if (readable(before) && storable) {
        FUZZ_CHECK(readable(after));
        FUZZ_CHECK(config->getAttr(name, attr) == value);
    } else {
        FUZZ_CHECK(after == before);
    }

    config->loadConfig();
    FUZZ_CHECK(fileContent() == after);
    FUZZ_CHECK(QDir(folder->path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden)
               == QStringList { QStringLiteral("config.dll") });
    return 0;
}
