#include "bridge/zxjavascript.h"

#include "bridge/commandrunner.h"
#include "config/config.h"
#include "config/logging.h"
#include "net/addressrules.h"
#include "net/synservdb.h"

#include <QDesktopServices>
#include <QEvent>
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
    // Other schemes reach local files, network shares or any registered
    // protocol handler: not what a web page may open on the desktop.
    const QUrl address(AddressRules::getInstance()->withScheme(url), QUrl::TolerantMode);
    const QString scheme = address.scheme();
    const bool web = scheme == QLatin1String("http") || scheme == QLatin1String("https");
    if (!web || !QDesktopServices::openUrl(address))
        qCDebug(lcBridge).noquote() << QStringLiteral("网址语法错误!");
}

bool ZxJavascript::event(QEvent *event)
{
    // deleteLater() is a public slot, so any page could otherwise remove the
    // bridge of every tab for the rest of the run.
    if (event->type() == QEvent::DeferredDelete) {
        qCDebug(lcBridge) << "The bridge object is shared by every page and is not deleted.";
        return true;
    }
    return QObject::event(event);
}

QString ZxJavascript::downloadFile(const QString &fUrl, const QString &dstDir, const QString &callback)
{
    SynServDb download(fUrl.mid(fUrl.lastIndexOf(QLatin1Char('/')) + 1));
    return download.download(fUrl, dstDir, callback);
}
