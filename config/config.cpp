#include "config/config.h"

#include "config/appdir.h"
#include "config/deployment.h"
#include "config/logging.h"
#include "config/xmlrules.h"

#include <QDir>
#include <QDomDocument>
#include <QDomElement>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QSaveFile>
#include <QTextStream>

#include <filesystem>
#include <system_error>

namespace {

// Reads a decimal attribute; `fallback` when it is absent or not a number.
int intAttribute(const QDomElement &element, const QString &attr, int fallback)
{
    bool ok = false;
    const int value = element.attribute(attr).toInt(&ok);
    return ok ? value : fallback;
}

QDomElement firstChildNamed(const QDomDocument &document, const QString &name)
{
    for (QDomNode node = document.documentElement().firstChild(); !node.isNull(); node = node.nextSibling()) {
        const QDomElement element = node.toElement();
        if (!element.isNull() && element.tagName() == name)
            return element;
    }
    return {};
}

bool parseDocument(QDomDocument *document, const QByteArray &content)
{
#if QT_VERSION >= QT_VERSION_CHECK(6, 5, 0)
    return bool(document->setContent(content, QDomDocument::ParseOption::Default));
#else
    return document->setContent(content);
#endif
}

// UTF-8 without a byte-order mark, a matching declaration, four spaces a level.
QByteArray serialized(const QDomDocument &document)
{
    QByteArray content;
    QTextStream stream(&content);
    stream.setEncoding(QStringConverter::Utf8);
    document.save(stream, 4, QDomNode::EncodingFromTextStream);
    stream.flush();
    return content;
}

// Where a write stages the new content before it takes config.dll's place. It
// is a name no one else gives a file, so that what a killed write left behind
// (this file, or the temporary file QSaveFile makes beside it) is provably the
// shell's own: the copies IT keeps beside config.dll are never touched.
QString stagingPath(const QString &configPath)
{
    return configPath + QStringLiteral(".fenestra-tmp");
}

void removeStaleTemporaryFiles(const QString &configPath)
{
    const QFileInfo staging(stagingPath(configPath));
    const QRegularExpression ownName(
            QStringLiteral("^%1(\\.[A-Za-z0-9]{6})?$").arg(QRegularExpression::escape(staging.fileName())));
    const QDir folder = staging.absoluteDir();
    const QStringList candidates = folder.entryList({ staging.fileName() + QLatin1Char('*') },
                                                    QDir::Files | QDir::Hidden | QDir::System);
    for (const QString &name : candidates) {
        if (ownName.match(name).hasMatch())
            QFile::remove(folder.filePath(name));
    }
}

std::filesystem::path fileSystemPath(const QString &path)
{
    return std::filesystem::path(path.toStdU16String());
}

bool writeInPlace(const QString &path, const QByteArray &content)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate | QIODevice::Unbuffered)
            && file.write(content) == content.size();
}

} // namespace

Config *Config::getInstance()
{
    static Config *const instance = new Config;
    return instance;
}

Config::Config()
    : serverUrl(Deployment::signUpAddress()),
      serverPath(QStringLiteral("register")),
      dbName(QStringLiteral("mini_alum")),
      webPort(80),
      dbPort(7878),
      serverHid(0),
      serverIsOffline(0)
{ }

QString Config::filePath()
{
    return AppDir::filePath(QStringLiteral("config.dll"));
}

bool Config::readDocument(QDomDocument *document)
{
    QFile file(filePath());
    return file.open(QIODevice::ReadOnly) && parseDocument(document, file.readAll());
}

// Replaces config.dll as a whole: the content goes to a file beside it that
// takes the file's place only once it is complete and on disk, so a crash or a
// full disk never leaves a truncated configuration behind.
bool Config::writeDocument(const QByteArray &content)
{
    const QString path = filePath();
    const QFileInfo existing(path);
    if (existing.exists() && !existing.isWritable())
        return false; // a read-only configuration stays as it is

    // QSaveFile names its own temporary file, so it writes the staged file, and
    // a rename that replaces its target puts that in config.dll's place.
    QSaveFile staged(stagingPath(path));
    // Unbuffered: an error while a buffer is flushed at commit() goes unnoticed,
    // and the incomplete file would take config.dll's place.
    if (!staged.open(QIODevice::WriteOnly | QIODevice::Truncate | QIODevice::Unbuffered)) {
        // A folder where no new file can be created may still hold a writable
        // config.dll: then it is written in place, which beats losing the change.
        return existing.exists() && writeInPlace(path, content);
    }
    if (existing.exists())
        staged.setPermissions(existing.permissions());
    if (staged.write(content) != content.size()) {
        staged.cancelWriting();
        return false;
    }
    if (!staged.commit())
        return false;
    std::error_code error;
    std::filesystem::rename(fileSystemPath(staged.fileName()), fileSystemPath(path), error);
    if (error) {
        QFile::remove(staged.fileName());
        return false;
    }
    return true;
}

void Config::loadConfig()
{
    removeStaleTemporaryFiles(filePath());
    if (!QFileInfo::exists(filePath())) {
        saveConfig();
        return;
    }

    QDomDocument document;
    if (!readDocument(&document))
        return;

    for (QDomNode node = document.documentElement().firstChild(); !node.isNull(); node = node.nextSibling()) {
        const QDomElement e = node.toElement();
        if (e.isNull())
            continue;
        const QString tag = e.tagName();
        if (tag == QLatin1String("server")) {
            serverUrl = e.attribute(QStringLiteral("url"));
            serverHid = intAttribute(e, QStringLiteral("hid"), 0);
            serverIsOffline = intAttribute(e, QStringLiteral("isoffline"), 0);
            serverPath = e.attribute(QStringLiteral("path"));
        } else if (tag == QLatin1String("site")) {
            siteUrl = e.attribute(QStringLiteral("url"));
        } else if (tag == QLatin1String("backup")) {
            backupUrl = e.attribute(QStringLiteral("url"));
            backupPath = e.attribute(QStringLiteral("path"));
            backupCompany = e.attribute(QStringLiteral("company"));
        } else if (tag == QLatin1String("web")) {
            const int port = intAttribute(e, QStringLiteral("port"), 0);
            if (port > 0)
                webPort = port;
        } else if (tag == QLatin1String("db")) {
            const int port = intAttribute(e, QStringLiteral("port"), 0);
            if (port > 0)
                dbPort = port;
            const QString name = e.attribute(QStringLiteral("name"));
            if (!name.isEmpty())
                dbName = name;
        } else if (tag == QLatin1String("app")) {
            appName = e.attribute(QStringLiteral("name"));
            appVersion = e.attribute(QStringLiteral("version"));
            appType = e.attribute(QStringLiteral("type"));
        } else if (tag == QLatin1String("factory")) {
            factoryAppCode = e.attribute(QStringLiteral("app_code"));
            factoryCodeVersion = e.attribute(QStringLiteral("code_version"));
            factoryIsDomain = e.attribute(QStringLiteral("is_domain"));
        }
    }
}

void Config::saveConfig()
{
    QDomDocument document;
    QDomElement root = document.createElement(QStringLiteral("hallinfo"));
    document.appendChild(root);

    const auto addElement = [&](const QString &tag,
                                std::initializer_list<std::pair<QString, QString>> attributes) {
        QDomElement element = document.createElement(tag);
        for (const auto &[name, value] : attributes)
            element.setAttribute(name, value);
        root.appendChild(element);
    };
    addElement(QStringLiteral("server"),
               { { QStringLiteral("url"), serverUrl },
                 { QStringLiteral("hid"), QString::number(serverHid) },
                 { QStringLiteral("isoffline"), QString::number(serverIsOffline) },
                 { QStringLiteral("path"), serverPath } });
    addElement(QStringLiteral("backup"),
               { { QStringLiteral("url"), backupUrl },
                 { QStringLiteral("path"), backupPath },
                 { QStringLiteral("company"), backupCompany } });
    addElement(QStringLiteral("db"),
               { { QStringLiteral("port"), QString::number(dbPort) }, { QStringLiteral("name"), dbName } });
    addElement(QStringLiteral("web"), { { QStringLiteral("port"), QString::number(webPort) } });
    addElement(QStringLiteral("app"),
               { { QStringLiteral("name"), appName },
                 { QStringLiteral("version"), appVersion },
                 { QStringLiteral("type"), appType } });
    addElement(QStringLiteral("factory"),
               { { QStringLiteral("code_version"), factoryCodeVersion },
                 { QStringLiteral("app_code"), factoryAppCode },
                 { QStringLiteral("is_domain"), factoryIsDomain } });

    if (writeDocument(serialized(document)))
        loadConfig();
}

QString Config::getAttr(const QString &name, const QString &attr) const
{
    QDomDocument document;
    if (!readDocument(&document))
        return {};
    return firstChildNamed(document, name).attribute(attr);
}

QString Config::getUrl(int val) const
{
    if (serverPath == QLatin1String("register"))
        return serverUrl;

    const QString port = QString::number(webPort);
    QString url;
    if (factoryIsDomain.toInt() == 1) {
        url = QStringLiteral("%1:%2").arg(serverUrl, port);
        if (!factoryCodeVersion.isEmpty())
            url += QLatin1Char('/') + factoryCodeVersion;
    } else {
        url = QStringLiteral("%1:%2/%3").arg(serverUrl, port, serverPath);
        if (!factoryCodeVersion.isEmpty())
            url += QLatin1Char('/') + factoryCodeVersion;
        if (!appVersion.isEmpty())
            url += QLatin1Char('/') + appVersion;
        if (val != 0)
            return url;
    }
    if (!url.endsWith(QLatin1Char('/')))
        url += QLatin1Char('/');
    return url;
}

void Config::setAttr(const QString &name, const QString &attr, const QString &value)
{
    const auto refuse = [&] {
        qCDebug(lcConfig) << "config.dll unchanged: element" << name << "attribute" << attr
                          << "cannot be stored in XML";
    };
    // QDom would write these as they are, and the file could not be read again.
    if (!isXmlName(name) || !isXmlName(attr) || !isXmlText(value)) {
        refuse();
        return;
    }

    QDomDocument document;
    if (!readDocument(&document))
        return;

    QDomElement element = firstChildNamed(document, name);
    if (element.isNull()) {
        element = document.createElement(name);
        document.documentElement().appendChild(element);
    }
    element.setAttribute(attr, value);

    // Whatever else the file holds must survive the round trip as well.
    const QByteArray content = serialized(document);
    QDomDocument written;
    if (!parseDocument(&written, content) || firstChildNamed(written, name).attribute(attr) != value) {
        refuse();
        return;
    }
    writeDocument(content);
    loadConfig();
}
