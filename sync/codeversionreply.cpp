#include "sync/codeversionreply.h"

#include "config/xmlrules.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonValue>
#include <QVariant>

#include <cmath>

namespace {

// The result code, when "return" holds a whole number within 64 bits.
std::optional<qint64> returnCode(const QJsonValue &value)
{
    switch (value.type()) {
    case QJsonValue::Undefined:
    case QJsonValue::Null:
        return 0;
    case QJsonValue::Bool:
        return value.toBool() ? 1 : 0;
    case QJsonValue::Double: {
        // 2^63 is the first double beyond the range; the comparison is exact.
        const double number = value.toDouble();
        if (std::trunc(number) != number || number < -9223372036854775808.0
            || number >= 9223372036854775808.0)
            return std::nullopt;
        return qint64(number);
    }
    case QJsonValue::String: {
        bool ok = false;
        const qint64 number = value.toString().toLongLong(&ok);
        return ok ? std::optional<qint64>(number) : std::nullopt;
    }
    default:
        return std::nullopt;
    }
}

} // namespace

std::optional<CodeVersionAnswer> codeVersionAnswer(const QByteArray &body)
{
    const QJsonDocument document = QJsonDocument::fromJson(body);
    if (!document.isObject())
        return std::nullopt;
    const QJsonObject reply = document.object();
    if (returnCode(reply.value(QStringLiteral("return"))) != 0)
        return std::nullopt;

    // Strings as they are, numbers in their shortest form, booleans as words.
    const QVariantMap data = reply.value(QStringLiteral("data")).toObject().toVariantMap();
    CodeVersionAnswer answer { data.value(QStringLiteral("is_domain")).toString(),
                               data.value(QStringLiteral("code_version")).toString() };
    if (!isXmlText(answer.isDomain) || !isXmlText(answer.codeVersion))
        return std::nullopt;
    return answer;
}
