#pragma once

#include <QPoint>
#include <QQmlApplicationEngine>
#include <QUrl>
#include <QVariant>

class QQuickItem;
class QQuickWindow;

// The real window, created in this process the way start-up creates it, with a
// config.dll in the application directory that makes `startUrl` the first tab's
// address.
class TestWindow
{
public:
    explicit TestWindow(const QUrl &startUrl);

    bool isLoaded() const { return m_root != nullptr; }

    // Evaluates a QML expression in the window document's own scope.
    QVariant eval(const QString &expression) const;

    QQuickWindow *window() const;
    QQuickItem *item(const QString &expression) const;

    // Waits until the selected tab has finished loading its page.
    bool waitForCurrentView() const;

    // `point` of `item` in window coordinates.
    static QPoint inWindow(QQuickItem *item, const QPointF &point);
    QPoint centreOf(const QString &itemExpression) const;

private:
    QQmlApplicationEngine m_engine;
    QObject *m_root = nullptr;
};
