// The start-up code-version check: two operations of Config that keep the
// "factory" element of config.dll in step with the index service.
#include "config/config.h"

#include "net/mynetwork.h"
#include "sync/codeversionreply.h"

#include <QUrl>

#include <chrono>

using namespace std::chrono_literals;

namespace {
const QString indexClientKey = QStringLiteral("app_index");

// The window appears only after the check, so a service that accepts the
// connection and then says nothing, or trickles, must not hold the start-up for
// long; nor may an endless reply fill the memory. An answer is a few bytes.
constexpr auto indexServiceDeadline = 10s;
constexpr qint64 indexReplyLimit = 1024 * 1024;
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
    applyCodeVersion(
            MyNetwork::getInstance(indexClientKey)->runCmd(query, {}, indexServiceDeadline, indexReplyLimit));
}

void Config::applyCodeVersion(const QString &reply)
{
    const std::optional<CodeVersionAnswer> answer = codeVersionAnswer(reply.toUtf8());
    if (!answer)
        return;

    const QString factory = QStringLiteral("factory");
    const QString currentIsDomain = getAttr(factory, QStringLiteral("is_domain"));
    const QString currentCodeVersion = getAttr(factory, QStringLiteral("code_version"));
    if (currentCodeVersion == answer->codeVersion && currentIsDomain == answer->isDomain)
        return;

    setAttr(factory, QStringLiteral("is_domain"), answer->isDomain);
    setAttr(factory, QStringLiteral("code_version"), answer->codeVersion);
}
