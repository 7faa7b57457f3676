#pragma once

#include <QObject>
#include <QPointer>
#include <QString>
#include <QUrl>
#include <QtQml/qqmlregistration.h>

class QSystemTrayIcon;
class QWebEngineNotification;

// Shows the notifications of pages on the desktop, the newest one at a time:
// as a message of a tray icon with the program's icon where the desktop has a
// tray, otherwise as a notice that the window shows (noticeShown). Clicking it
// tells the page and asks the window to bring the page's tab forward.
class NotificationPresenter : public QObject
{
    Q_OBJECT
    QML_ELEMENT
    Q_PROPERTY(QString title READ title NOTIFY changed)
    Q_PROPERTY(QString message READ message NOTIFY changed)
    Q_PROPERTY(bool noticeShown READ isNoticeShown NOTIFY changed)

public:
    explicit NotificationPresenter(QObject *parent = nullptr);
    ~NotificationPresenter() override;

    QString title() const;
    QString message() const;
    bool isNoticeShown() const { return m_noticeShown; }

    // Takes a WebEngineNotification from the profile's presentNotification.
    Q_INVOKABLE void present(QObject *notification);
    // The user clicked the notification that is showing.
    Q_INVOKABLE void click();
    // The user put the notice away.
    Q_INVOKABLE void dismiss();

Q_SIGNALS:
    void changed();
    // A notification is showing, on the tray or as the window's notice.
    void shown(const QString &title, const QString &message, const QUrl &origin);
    // The user clicked the notification of a page of `origin`.
    void activated(const QUrl &origin);

private:
    void drop();

    QPointer<QWebEngineNotification> m_current;
    QSystemTrayIcon *m_tray = nullptr;
    bool m_noticeShown = false;
};
