#include "browser/notificationpresenter.h"

#include <QGuiApplication>
#include <QQmlEngine>
#include <QSystemTrayIcon>
#include <QWebEngineNotification>

NotificationPresenter::NotificationPresenter(QObject *parent) : QObject(parent) { }

NotificationPresenter::~NotificationPresenter()
{
    delete m_current;
}

QString NotificationPresenter::title() const
{
    return m_current ? m_current->title() : QString();
}

QString NotificationPresenter::message() const
{
    return m_current ? m_current->message() : QString();
}

void NotificationPresenter::present(QObject *object)
{
    auto *notification = qobject_cast<QWebEngineNotification *>(object);
    if (!notification)
        return;
    // The presenter keeps it until the next one comes or the page closes it.
    QQmlEngine::setObjectOwnership(notification, QQmlEngine::CppOwnership);
    if (m_current != notification)
        dismiss();
    m_current = notification;
    connect(notification, &QWebEngineNotification::closed, this, [this, notification] {
        if (m_current == notification)
            drop();
    });
    notification->show();

    if (QSystemTrayIcon::isSystemTrayAvailable()) {
        if (!m_tray) {
            m_tray = new QSystemTrayIcon(QGuiApplication::windowIcon(), this);
            connect(m_tray, &QSystemTrayIcon::messageClicked, this, &NotificationPresenter::click);
        }
        m_tray->show();
        m_tray->showMessage(notification->title(), notification->message(), QGuiApplication::windowIcon());
    } else {
        m_noticeShown = true;
    }
    Q_EMIT changed();
    Q_EMIT shown(notification->title(), notification->message(), notification->origin());
}

void NotificationPresenter::click()
{
    if (!m_current)
        return;
    const QUrl origin = m_current->origin();
    m_current->click();
    drop();
    Q_EMIT activated(origin);
}

void NotificationPresenter::dismiss()
{
    if (m_current)
        m_current->close();
    drop();
}

void NotificationPresenter::drop()
{
    if (m_current)
        m_current->deleteLater();
    m_current = nullptr;
    m_noticeShown = false;
    if (m_tray)
        m_tray->hide();
    Q_EMIT changed();
}
