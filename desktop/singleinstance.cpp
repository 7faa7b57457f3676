#include "desktop/singleinstance.h"

#include <QCryptographicHash>
#include <QDeadlineTimer>
#include <QDir>
#include <QLocalSocket>
#include <QThread>
#include <QWindow>

namespace {

const QByteArray activateMessage = "activate\n";

// The running program listens right after taking the lock; a start in that
// instant waits this long for it before it gives up.
constexpr int handOverMs = 2000;

QString instanceName(const QString &appDirPath)
{
    // The home folder stands for the user: each user has their own, on every system.
    const QByteArray key =
            QDir::cleanPath(appDirPath).toCaseFolded().toUtf8() + '\n' + QDir::homePath().toUtf8();
    return QStringLiteral("fenestra-")
            + QString::fromLatin1(QCryptographicHash::hash(key, QCryptographicHash::Sha256).toHex().left(32));
}

} // namespace

SingleInstance::SingleInstance(const QString &appDirPath, QObject *parent)
    : QObject(parent), m_name(instanceName(appDirPath))
{
    m_lock = std::make_unique<QLockFile>(QDir(QDir::tempPath()).filePath(m_name + QStringLiteral(".lock")));
    // Only a lock whose process has gone is stale, however long the program runs.
    m_lock->setStaleLockTime(0);
    if (m_lock->tryLock(0)) {
        listen();
    } else if (m_lock->error() == QLockFile::LockFailedError) {
        m_first = false;
        handOver();
    }
    // A lock that cannot be made at all (no temporary folder) never keeps the program from starting.
}

SingleInstance::~SingleInstance() = default;

void SingleInstance::listen()
{
    // A socket left by a killed program would refuse the name; the lock says it is stale.
    QLocalServer::removeServer(m_name);
    m_server.setSocketOptions(QLocalServer::UserAccessOption);
    if (!m_server.listen(m_name))
        return;
    connect(&m_server, &QLocalServer::newConnection, this, [this] {
        while (QLocalSocket *socket = m_server.nextPendingConnection()) {
            connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
            connect(socket, &QLocalSocket::readyRead, this, [this, socket] {
                if (socket->canReadLine() && socket->readLine() == activateMessage)
                    emit activationRequested();
            });
        }
    });
}

void SingleInstance::handOver()
{
    QLocalSocket socket;
    const QDeadlineTimer deadline(handOverMs);
    do {
        socket.connectToServer(m_name);
        if (socket.waitForConnected(100)) {
            socket.write(activateMessage);
            socket.waitForBytesWritten(qMax<qint64>(0, deadline.remainingTime()));
            socket.disconnectFromServer();
            return;
        }
        QThread::msleep(20);
    } while (!deadline.hasExpired());
}

void SingleInstance::bringToFront(QWindow *window)
{
    // Leaving the minimised state keeps a maximised window maximised.
    window->setWindowStates(window->windowStates() & ~Qt::WindowMinimized);
    window->setVisible(true);
    window->raise();
    window->requestActivate();
}
