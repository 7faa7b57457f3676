#pragma once

#include <QObject>
#include <QString>

class QDomDocument;

// The single in-memory copy of config.dll, the XML file beside the executable
// that holds every local setting. It composes the start address of the web
// application from those settings.
class Config : public QObject
{
    Q_OBJECT

public:
    static Config *getInstance();

    // Reads config.dll into the fields; a missing file is created from the
    // current fields first. A file that cannot be read or parsed changes nothing.
    // The files that an interrupted write of the shell left beside it are
    // removed; other files beside it (copies kept by hand) stay.
    void loadConfig();

    // Writes the whole file from the fields, then reads it back.
    void saveConfig();

    // One attribute of the first direct child `name` of the root, read straight
    // from the file; empty on any failure.
    QString getAttr(const QString &name, const QString &attr) const;

    // The start address. A non-zero `val` leaves off the final "/" of a
    // server-path address.
    Q_INVOKABLE QString getUrl(int val = 0) const;

    // Sets one attribute of the first direct child `name` of the root (appending
    // that element when there is none), writes the file and reads it back.
    // A name that is not an XML name, or a value with characters XML 1.0 cannot
    // hold, is refused with a debug line: the file and the fields stay as they are.
    void setAttr(const QString &name, const QString &attr, const QString &value);

    // Asks the index service for the configured server's code version and
    // addressing form, and stores the answer (sync/codeversion.cpp). Blocks until
    // the service has answered or failed, ten seconds after sending at most. Makes
    // no request while the server path is "register".
    void checkCodeVersion();

    // Stores "is_domain" and "code_version" of a successful JSON answer in the
    // "factory" element, both of them and in that order, unless both already
    // hold those values. Anything else changes nothing (see codeVersionAnswer()).
    void applyCodeVersion(const QString &reply);

private:
    Config();

    static QString filePath();
    static bool readDocument(QDomDocument *document);
    static bool writeDocument(const QByteArray &content);

    QString serverUrl;
    QString serverPath;
    QString backupUrl;
    QString backupPath;
    QString backupCompany;
    QString appType;
    QString appName;
    QString siteUrl;
    QString dbName;
    int webPort;
    int dbPort;
    int serverHid;
    int serverIsOffline;
    QString factoryAppCode;
    QString factoryIsDomain;
    QString factoryCodeVersion;
    QString appVersion;
};
