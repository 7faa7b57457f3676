#pragma once

#include <QLocalServer>
#include <QLockFile>
#include <QObject>
#include <QString>

#include <memory>

class QWindow;

// One running program per application folder and user. The first start holds a
// lock and listens on a local socket; a later start of the same installation
// tells it to come to the front and then ends, before it has read or written
// anything. Lock and socket live in the user's temporary folder, named after a
// hash of the application folder and the user, so an installation that cannot
// be written to keeps nothing of them and other installations run on their own.
class SingleInstance : public QObject
{
    Q_OBJECT

public:
    explicit SingleInstance(const QString &appDirPath, QObject *parent = nullptr);
    ~SingleInstance() override;

    // Whether this process is the one to run. When another one already runs,
    // it has been asked to come to the front and this process should end.
    bool isFirst() const { return m_first; }

    // Shows `window`, restored if minimised, above the others and active.
    static void bringToFront(QWindow *window);

Q_SIGNALS:
    // A later start asked this one to come to the front.
    void activationRequested();

private:
    void listen();
    void handOver();

    QString m_name;
    std::unique_ptr<QLockFile> m_lock;
    QLocalServer m_server;
    bool m_first = true;
};
