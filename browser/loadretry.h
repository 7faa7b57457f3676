#pragma once

#include <QDeadlineTimer>
#include <QNetworkInformation>
#include <QObject>
#include <QString>
#include <QTimer>
#include <QtQml/qqmlregistration.h>

#include <chrono>

// Loads a page again by itself after it failed for a network reason, so that
// a server that was down when the shift started shows up once it is back:
// after a growing wait, at once when the system says the network is back, and
// only while the tab is shown. An HTTP error, a certificate question or a
// form's submission is never repeated by itself.
class LoadRetry : public QObject
{
    Q_OBJECT
    QML_ELEMENT
    Q_PROPERTY(bool shown READ isShown WRITE setShown NOTIFY shownChanged)
    // What the error page says of the next try; empty when none comes.
    Q_PROPERTY(QString notice READ notice NOTIFY noticeChanged)

public:
    // Whether a load that failed with the engine's error `domain` and `code`
    // (QWebEngineLoadingInfo) failed for a reason that passes by itself.
    static bool isRetriable(int domain, int code);
    // The wait before the try that follows `failures` failures in a row.
    static std::chrono::seconds delayAfter(int failures);
    // The error page's words for a try `seconds` away.
    static QString describeWait(int seconds);

    explicit LoadRetry(QObject *parent = nullptr);

    bool isShown() const { return m_shown; }
    void setShown(bool shown);
    QString notice() const { return m_notice; }

    // A load failed; `submitted` when it sent a form, which is not sent again.
    Q_INVOKABLE void failed(int domain, int code, bool submitted);
    // A load ended otherwise (arrived, stopped): no more tries.
    Q_INVOKABLE void settled();

Q_SIGNALS:
    void shownChanged();
    void noticeChanged();
    // Time to load the page again.
    void retry();

private:
    void tick();
    void tryNow();
    void setNotice(const QString &notice);
    void watchNetwork();
    void networkChanged(QNetworkInformation::Reachability reachability);

    bool m_shown = true;
    bool m_waiting = false;
    int m_failures = 0;
    QDeadlineTimer m_due;
    QTimer m_ticker;
    QString m_notice;
};
