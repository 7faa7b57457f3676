#include "browser/loadretry.h"

#include "config/logging.h"

#include <QNetworkInformation>
#include <QWebEngineLoadingInfo>

#include <algorithm>

namespace {

constexpr std::chrono::seconds firstDelay { 3 };
constexpr std::chrono::seconds longestDelay { 180 };

} // namespace

bool LoadRetry::isRetriable(int domain, int code)
{
    if (domain == QWebEngineLoadingInfo::HttpStatusCodeDomain
        || domain == QWebEngineLoadingInfo::CertificateErrorDomain)
        return false;
    switch (code) {
    case -7: // ERR_TIMED_OUT
    case -15: // ERR_SOCKET_NOT_CONNECTED
    case -21: // ERR_NETWORK_CHANGED
    case -100: // ERR_CONNECTION_CLOSED
    case -101: // ERR_CONNECTION_RESET
    case -102: // ERR_CONNECTION_REFUSED
    case -103: // ERR_CONNECTION_ABORTED
    case -104: // ERR_CONNECTION_FAILED
    case -105: // ERR_NAME_NOT_RESOLVED
    case -106: // ERR_INTERNET_DISCONNECTED
    case -109: // ERR_ADDRESS_UNREACHABLE
    case -118: // ERR_CONNECTION_TIMED_OUT
    case -130: // ERR_PROXY_CONNECTION_FAILED
    case -137: // ERR_NAME_RESOLUTION_FAILED
    case -324: // ERR_EMPTY_RESPONSE: a server going down mid-answer
        return true;
    }
    return false;
}

std::chrono::seconds LoadRetry::delayAfter(int failures)
{
    // Doubles from the first failure on: 3 s, 6 s, 12 s … and then every 3 minutes.
    const int doublings = std::clamp(failures - 1, 0, 16);
    return std::min(firstDelay * (1 << doublings), longestDelay);
}

QString LoadRetry::describeWait(int seconds)
{
    if (seconds <= 0)
        return QStringLiteral("正在重新连接……");
    if (seconds < 60)
        return QStringLiteral("%1 秒后自动重试。").arg(seconds);
    return QStringLiteral("%1 分 %2 秒后自动重试。").arg(seconds / 60).arg(seconds % 60);
}

LoadRetry::LoadRetry(QObject *parent) : QObject(parent)
{
    m_ticker.setInterval(std::chrono::seconds(1));
    connect(&m_ticker, &QTimer::timeout, this, &LoadRetry::tick);
}

void LoadRetry::setShown(bool shown)
{
    if (m_shown == shown)
        return;
    m_shown = shown;
    Q_EMIT shownChanged();
    // A tab that is not shown waits; shown again, it tries if its time has come.
    if (!m_waiting)
        return;
    if (shown) {
        m_ticker.start();
        tick();
    } else {
        m_ticker.stop();
    }
}

void LoadRetry::failed(int domain, int code, bool submitted)
{
    if (submitted || !isRetriable(domain, code)) {
        settled();
        return;
    }
    ++m_failures;
    m_waiting = true;
    m_due.setRemainingTime(delayAfter(m_failures));
    watchNetwork();
    if (m_shown)
        m_ticker.start();
    tick();
}

void LoadRetry::settled()
{
    m_failures = 0;
    m_waiting = false;
    m_ticker.stop();
    setNotice(QString());
}

void LoadRetry::tick()
{
    if (!m_waiting)
        return;
    if (m_shown && m_due.hasExpired()) {
        tryNow();
        return;
    }
    // Rounded up, so that "1 秒" shows for the last second.
    const qint64 left = (m_due.remainingTime() + 999) / 1000;
    setNotice(describeWait(int(std::max<qint64>(left, 1))));
}

void LoadRetry::tryNow()
{
    m_waiting = false;
    m_ticker.stop();
    setNotice(describeWait(0));
    Q_EMIT retry();
}

void LoadRetry::setNotice(const QString &notice)
{
    if (m_notice == notice)
        return;
    m_notice = notice;
    Q_EMIT noticeChanged();
}

void LoadRetry::watchNetwork()
{
    // Loaded on the first failure, not at start; where the platform has no
    // backend the growing wait alone brings the page back.
    static const bool loaded =
            QNetworkInformation::loadBackendByFeatures(QNetworkInformation::Feature::Reachability);
    QNetworkInformation *network = loaded ? QNetworkInformation::instance() : nullptr;
    if (!network)
        return;
    connect(network, &QNetworkInformation::reachabilityChanged, this, &LoadRetry::networkChanged,
            Qt::UniqueConnection);
}

void LoadRetry::networkChanged(QNetworkInformation::Reachability reachability)
{
    if (m_waiting && m_shown && reachability == QNetworkInformation::Reachability::Online) {
        qCInfo(lcBrowser) << "the network is back; loading the page again";
        tryNow();
    }
}
