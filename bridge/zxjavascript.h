#pragma once

#include <QObject>
#include <QString>

// The object that trusted pages reach as `zx` over their view's web channel:
// settings, the system browser, server downloads and local programs.
class ZxJavascript : public QObject
{
    Q_OBJECT

public:
    static ZxJavascript *getInstance();

    // Sets attribute `attr` of element `name` in config.dll.
    Q_INVOKABLE void setConfig(const QString &name, const QString &attr, const QString &value);

    // Starts a local program detached (see commandLineFor()).
    Q_INVOKABLE void run(const QString &cmd = QString(), const QString &args = QString());

    // Opens the address with the desktop's default handler; an address without
    // a scheme is taken as plain HTTP. Only http and https addresses are opened.
    Q_INVOKABLE void openUrlExt(const QString &url);

    // Downloads `fUrl` into `dstDir` under the text after its last "/" and
    // returns the stored file's path, or the empty text (see SynServDb).
    Q_INVOKABLE QString downloadFile(const QString &fUrl, const QString &dstDir, const QString &callback);

protected:
    // Refuses deferred deletion: the object lives for the whole run, whatever
    // a page invokes over the channel.
    bool event(QEvent *event) override;

private:
    ZxJavascript() = default;
};
