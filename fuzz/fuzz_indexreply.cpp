// Index service replies: any bytes. An answer is found only in a JSON object
// whose "return" is a whole number 0, and what it carries survives being written
// into an XML attribute and read back.
#include "fuzzinput.h"
#include "sync/codeversionreply.h"

#include <QDomDocument>
#include <QJsonDocument>
#include <QJsonObject>

namespace {

QString throughXml(const QString &value)
{
    QDomDocument document;
    QDomElement root = document.createElement(QStringLiteral("hallinfo"));
    document.appendChild(root);
    root.setAttribute(QStringLiteral("v"), value);
    QDomDocument read;
    FUZZ_CHECK(read.setContent(document.toByteArray(4)));
    return read.documentElement().attribute(QStringLiteral("v"));
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    silenceQtMessages();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray body(reinterpret_cast<const char *>(data), qsizetype(size));
    const std::optional<CodeVersionAnswer> answer = codeVersionAnswer(body);
    if (!answer)
        return 0;

    const QJsonDocument document = QJsonDocument::fromJson(body);
    FUZZ_CHECK(document.isObject());
    const QJsonValue code = document.object().value(QStringLiteral("return"));
    FUZZ_CHECK(code.isUndefined() || code.isNull() || code.toVariant().toLongLong() == 0);
    FUZZ_CHECK(throughXml(answer->isDomain) == answer->isDomain);
    FUZZ_CHECK(throughXml(answer->codeVersion) == answer->codeVersion);
    return 0;
}
