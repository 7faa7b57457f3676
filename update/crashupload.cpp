#include "update/crashupload.h"

#include "config/logging.h"
#include "config/policy.h"
#include "launcher/installlayout.h"
#include "launcher/installstate.h"
#include "net/boundedfetch.h"
#include "net/networkaccess.h"

#include <QDir>
#include <QFile>
#include <QHostAddress>
#include <QNetworkRequest>
#include <QRandomGenerator>
#include <QSaveFile>

namespace {

void log(const QString &line)
{
    qCInfo(lcUpdate).noquote() << line;
}

bool isThisComputer(const QString &host)
{
    if (host.compare(QLatin1String("localhost"), Qt::CaseInsensitive) == 0)
        return true;
    const QHostAddress address(host);
    return !address.isNull() && address.isLoopback();
}

QByteArray randomBoundary()
{
    QByteArray bytes(16, Qt::Uninitialized);
    QRandomGenerator::system()->generate(bytes.begin(), bytes.end());
    return "fenestra-" + bytes.toHex();
}

} // namespace

QUrl CrashUpload::address(const QString &fromPolicy, const QString &builtIn, QString *problem)
{
    const QString text = fromPolicy.isEmpty() ? builtIn : fromPolicy;
    if (text.isEmpty())
        return QUrl();
    const QUrl url(text, QUrl::StrictMode);
    const bool https = url.scheme() == QLatin1String("https");
    const bool localHttp = url.scheme() == QLatin1String("http") && isThisComputer(url.host());
    if (!url.isValid() || url.host().isEmpty() || !url.userInfo().isEmpty() || !(https || localHttp)) {
        if (problem)
            *problem = QStringLiteral("crash_upload=%1 is not an https address, so dumps are not sent")
                               .arg(text.left(200));
        return QUrl();
    }
    return url;
}

CrashUpload::CrashUpload(const QString &root, const QString &version, const QString &builtIn, QObject *parent)
    : QObject(parent), m_root(root), m_version(version), m_builtIn(builtIn)
{ }

QString CrashUpload::filePath(const char *relative) const
{
    return m_root + QLatin1Char('/') + QString::fromLatin1(relative);
}

QStringList CrashUpload::waiting(const QString &folder)
{
    QStringList files;
    const QFileInfoList found =
            QDir(folder).entryInfoList({ QStringLiteral("*.dmp") }, QDir::Files, QDir::Time | QDir::Reversed);
    for (const QFileInfo &file : found)
        files << file.absoluteFilePath();
    return files;
}

QByteArray CrashUpload::form(const QByteArray &boundary, const QString &version,
                             const QString &installationId, const QString &fileName, const QByteArray &dump)
{
    QByteArray body;
    const auto field = [&](const QByteArray &name, const QString &value) {
        body += "--" + boundary + "\r\nContent-Disposition: form-data; name=\"" + name + "\"\r\n\r\n"
                + value.toUtf8() + "\r\n";
    };
    field("prod", QStringLiteral("Fenestra"));
    field("ver", version);
    field("guid", installationId);
    // The name is the launcher's own (version, time, .dmp); quotes could not be in it anyway.
    QString safeName = fileName;
    safeName.remove(QLatin1Char('"')).remove(QLatin1Char('\r')).remove(QLatin1Char('\n'));
    body += "--" + boundary + "\r\nContent-Disposition: form-data; name=\"upload_file_minidump\"; filename=\""
            + safeName.toUtf8() + "\"\r\nContent-Type: application/octet-stream\r\n\r\n" + dump + "\r\n--"
            + boundary + "--\r\n";
    return body;
}

void CrashUpload::start()
{
    if (m_sending)
        return;
    QString problem;
    m_address = address(Policy::read(m_root).updates.crashUpload, m_builtIn, &problem);
    if (!problem.isEmpty())
        log(problem);
    if (!m_address.isValid()) {
        Q_EMIT finished();
        return;
    }
    InstallState::State state;
    m_installationId = InstallState::read(filePath(InstallLayout::stateFile).toStdString(), state)
                    == InstallState::ReadResult::Read
            ? QString::fromStdString(state.installationId)
            : QString();
    m_queue = waiting(filePath(InstallLayout::crashesFolder));
    sendNext();
}

void CrashUpload::sendNext()
{
    const QDate today = QDate::currentDate();
    while (!m_queue.isEmpty()) {
        if (sentOn(today) >= maxPerDay) {
            log(QStringLiteral("%1 crash dumps wait: %2 were sent today already")
                        .arg(m_queue.size())
                        .arg(maxPerDay));
            break;
        }
        m_sendingFile = m_queue.takeFirst();
        QFile file(m_sendingFile);
        if (file.size() > maxDumpBytes) {
            log(QStringLiteral("crash dump %1 not sent: over %2 bytes").arg(m_sendingFile).arg(maxDumpBytes));
            continue;
        }
        if (!file.open(QIODevice::ReadOnly)) {
            log(QStringLiteral("cannot read crash dump %1").arg(m_sendingFile));
            continue;
        }
        const QByteArray dump = file.read(maxDumpBytes + 1);
        if (dump.size() > maxDumpBytes)
            continue;
        QByteArray boundary = randomBoundary();
        while (dump.contains(boundary))
            boundary = randomBoundary();
        QNetworkRequest request(m_address);
        request.setHeader(QNetworkRequest::ContentTypeHeader, "multipart/form-data; boundary=" + boundary);
        request.setAttribute(QNetworkRequest::RedirectPolicyAttribute,
                             QNetworkRequest::NoLessSafeRedirectPolicy);
        if (!m_network)
            m_network = NetworkAccess::create(this, NetworkAccess::Proxy::System);
        BoundedFetch::Limits limits;
        limits.maxBytes = 64 * 1024;
        limits.stall = std::chrono::milliseconds(stallMs);
        limits.total = std::chrono::milliseconds(totalMs);
        m_sending = new BoundedFetch(
                m_network, request,
                form(boundary, m_version, m_installationId, QFileInfo(m_sendingFile).fileName(), dump),
                limits, this);
        connect(m_sending, &BoundedFetch::finished, this, &CrashUpload::sent);
        return;
    }
    Q_EMIT finished();
}

void CrashUpload::sent()
{
    BoundedFetch *sending = m_sending;
    m_sending = nullptr;
    sending->deleteLater();
    if (!sending->succeeded()) {
        // Tried again at the next round: the server may be back by then.
        log(QStringLiteral("could not send crash dump %1: %2").arg(m_sendingFile, sending->errorString()));
        m_queue.clear();
        Q_EMIT finished();
        return;
    }
    countSent(QDate::currentDate());
    // Crash servers answer with the id they filed it under.
    const QString answer = QString::fromUtf8(sending->body().left(200)).simplified();
    if (QFile::remove(m_sendingFile))
        log(QStringLiteral("sent crash dump %1: %2").arg(m_sendingFile, answer));
    else
        log(QStringLiteral("sent crash dump %1 (%2) but cannot remove it").arg(m_sendingFile, answer));
    sendNext();
}

int CrashUpload::sentOn(QDate day) const
{
    QFile file(filePath(InstallLayout::crashUploadsFile));
    if (!file.open(QIODevice::ReadOnly))
        return 0;
    const QList<QByteArray> parts = file.read(64).trimmed().split(' ');
    if (parts.size() != 2 || parts[0] != day.toString(Qt::ISODate).toLatin1())
        return 0;
    bool ok = false;
    const int count = parts[1].toInt(&ok);
    // A count that is not ours is taken as a full day: sending less is the safe side.
    return ok && count >= 0 ? count : maxPerDay;
}

void CrashUpload::countSent(QDate day)
{
    QSaveFile file(filePath(InstallLayout::crashUploadsFile));
    if (!file.open(QIODevice::WriteOnly)
        || file.write(day.toString(Qt::ISODate).toLatin1() + ' ' + QByteArray::number(sentOn(day) + 1) + '\n')
                < 0
        || !file.commit())
        log(QStringLiteral("cannot write %1").arg(file.fileName()));
}
