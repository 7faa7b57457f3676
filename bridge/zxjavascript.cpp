#include "bridge/zxjavascript.h"

#include "bridge/addressrules.h"
#include "bridge/commandrunner.h"
#include "config/config.h"
#include "net/synservdb.h"

#include <QDebug>
#include <QDesktopServices>
#include <QUrl>

ZxJavascript *ZxJavascript::getInstance()
{
    static ZxJavascript *const instance = new ZxJavascript;
    return instance;
}

void ZxJavascript::setConfig(const QString &name, const QString &attr, const QString &value)
{
    Config::getInstance()->setAttr(name, attr, value);
}

void ZxJavascript::run(const QString &cmd, const QString &args)
{
    startDetached(commandLineFor(cmd, args));
}

void ZxJavascript::openUrlExt(const QString &url)
{
    const QUrl address(AddressRules::getInstance()->withScheme(url), QUrl::TolerantMode);
    if (!QDesktopServices::openUrl(address))
        qDebug().noquote() << QStringLiteral("网址语法错误!");
}

QString ZxJavascript::downloadFile(const QString &fUrl, const QString &dstDir, const QString &callback)
{
    SynServDb download(fUrl.mid(fUrl.lastIndexOf(QLatin1Char('/')) + 1));
    return download.download(fUrl, dstDir, callback);
}
