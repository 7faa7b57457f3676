// The start-up code-version check: two operations of Config that keep the
// "factory" element of config.dll in step with the index service.
#include "config/config.h"

#include "net/mynetwork.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QUrl>
#include <QVariant>
#include <QVariantMap>

#include <chrono>

using namespace std::chrono_literals;

namespace {
const QString indexClientKey = QStringLiteral("app_index");

// The window appears only after the check, so a service that accepts the
// connection and then says nothing must not hold the start-up for long.
constexpr auto indexServiceSilenceLimit = 10s;
} // namespace

void Config::checkCodeVersion()
{
    const QString serverPath = getAttr(QStringLiteral("server"), QStringLiteral("path"));
    if (serverPath == QLatin1String("register"))
        return;

    // The path travels as one query value: "&", "#", "+" or "=" in it must not
    // start another parameter or a fragment.
    const QString query = QStringLiteral("?r=register/codeVersion&server_path=%1")
                                  .arg(QString::fromLatin1(QUrl::toPercentEncoding(serverPath)));
    applyCodeVersion(MyNetwork::getInstance(indexClientKey)->runCmd(query, indexServiceSilenceLimit));
}

void Config::applyCodeVersion(const QString &reply)
{
    // Only an object is an answer; anything else (an error page, nothing at all,
    // a stray array) leaves the configuration alone.
    const QJsonDocument document = QJsonDocument::fromJson(reply.toUtf8());
    if (!document.isObject())
        return;

    // A numeric string counts by its value and a missing code as success. Read
    // as a 64-bit value, so that a large code does not wrap round to 0.
    const QVariantMap members = document.object().toVariantMap();
    if (members.value(QStringLiteral("return")).toLongLong() != 0)
        return;

    const QVariantMap data = members.value(QStringLiteral("data")).toMap();
    const QString isDomain = data.value(QStringLiteral("is_domain")).toString();
    const QString codeVersion = data.value(QStringLiteral("code_version")).toString();

    const QString factory = QStringLiteral("factory");
    const QString currentIsDomain = getAttr(factory, QStringLiteral("is_domain"));
    const QString currentCodeVersion = getAttr(factory, QStringLiteral("code_version"));
    if (currentCodeVersion == codeVersion && currentIsDomain == isDomain)
        return;

    setAttr(factory, QStringLiteral("is_domain"), isDomain);
    setAttr(factory, QStringLiteral("code_version"), codeVersion);
}
