// The start-up code-version check: two operations of Config that keep the
// "factory" element of config.dll in step with the index service.
#include "config/config.h"

#include "net/mynetwork.h"

#include <QJsonDocument>
#include <QVariant>
#include <QVariantMap>

namespace {
const QString indexClientKey = QStringLiteral("app_index");
}

void Config::checkCodeVersion()
{
    const QString serverPath = getAttr(QStringLiteral("server"), QStringLiteral("path"));
    if (serverPath == QLatin1String("register"))
        return;

    const QString query = QStringLiteral("?r=register/codeVersion&server_path=%1").arg(serverPath);
    applyCodeVersion(MyNetwork::getInstance(indexClientKey)->runCmd(query));
}

void Config::applyCodeVersion(const QString &reply)
{
    const QJsonDocument document = QJsonDocument::fromJson(reply.toUtf8());
    if (document.isNull())
        return;

    const QVariantMap members = document.toVariant().toMap();
    if (members.value(QStringLiteral("return")).toInt() != 0)
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
