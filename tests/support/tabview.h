#pragma once

#include <QPointer>
#include <QQuickItem>
#include <QString>
#include <QUrl>

class QQuickWindow;

// A tab's page view, with typed access to what tests ask of it. The view is
// the window's WebEngineView, whose class Qt keeps private; it is reached
// through its properties and invokable methods. A view that has gone (its tab
// was closed) reads as empty and ignores what is asked of it.
class TabView
{
public:
    explicit TabView(QQuickItem *view = nullptr) : m_view(view) { }

    QQuickItem *item() const { return m_view; }

    QUrl url() const;
    void setUrl(const QUrl &url);
    QString title() const;
    bool isLoading() const;
    // Not loading, and the last load came to its end.
    bool isLoaded() const;
    bool canGoBack() const;
    bool isFullScreen() const;
    qreal zoomFactor() const;
    void setZoomFactor(qreal factor);
    qint64 renderProcessPid() const;
    // Whether the page may reach the bridge (the window's own view property).
    bool isTrusted() const;
    // The developer tools' window and the view inside it, while they are open.
    QQuickWindow *devTools() const;
    QQuickItem *devToolsView() const;

    void goBack();
    void reload();
    void forceActiveFocus();

    // The view's own child item named `objectName` (its notices and error page).
    QQuickItem *child(const QString &objectName) const;

private:
    QVariant read(const char *name) const;

    QPointer<QQuickItem> m_view;
};
