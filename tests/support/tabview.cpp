#include "tabview.h"

#include <QQuickWindow>

QVariant TabView::read(const char *name) const
{
    return m_view ? m_view->property(name) : QVariant();
}

QUrl TabView::url() const
{
    return read("url").toUrl();
}

void TabView::setUrl(const QUrl &url)
{
    if (m_view)
        m_view->setProperty("url", url);
}

QString TabView::title() const
{
    return read("title").toString();
}

bool TabView::isLoading() const
{
    return read("loading").toBool();
}

bool TabView::isLoaded() const
{
    return m_view && !isLoading() && read("loadProgress").toInt() == 100;
}

bool TabView::canGoBack() const
{
    return read("canGoBack").toBool();
}

bool TabView::isFullScreen() const
{
    return read("isFullScreen").toBool();
}

qreal TabView::zoomFactor() const
{
    return read("zoomFactor").toReal();
}

void TabView::setZoomFactor(qreal factor)
{
    if (m_view)
        m_view->setProperty("zoomFactor", factor);
}

qint64 TabView::renderProcessPid() const
{
    return read("renderProcessPid").toLongLong();
}

bool TabView::isTrusted() const
{
    return read("trusted").toBool();
}

QQuickWindow *TabView::devTools() const
{
    return qobject_cast<QQuickWindow *>(read("devTools").value<QObject *>());
}

QQuickItem *TabView::devToolsView() const
{
    return qobject_cast<QQuickItem *>(read("devToolsView").value<QObject *>());
}

void TabView::goBack()
{
    if (m_view)
        QMetaObject::invokeMethod(m_view, "goBack");
}

void TabView::reload()
{
    if (m_view)
        QMetaObject::invokeMethod(m_view, "reload");
}

void TabView::forceActiveFocus()
{
    if (m_view)
        m_view->forceActiveFocus();
}

QQuickItem *TabView::child(const QString &objectName) const
{
    return m_view ? m_view->findChild<QQuickItem *>(objectName) : nullptr;
}
