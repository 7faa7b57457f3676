#pragma once

#include <QHash>
#include <QPoint>
#include <QQmlApplicationEngine>
#include <QUrl>
#include <QVariant>

class QQuickItem;
class QQuickWindow;

// The real window, created in this process the way start-up creates it, from a
// config.dll that the harness writes into the application directory first.
class WindowHarness
{
public:
    // Objects the window's QML context offers under their names, set before the window loads.
    using ContextProperties = QHash<QString, QObject *>;

    // A config.dll that makes `startUrl` the first tab's address.
    explicit WindowHarness(const QUrl &startUrl, const ContextProperties &properties = {});
    // A config.dll of the test's own making.
    explicit WindowHarness(const QByteArray &config, const ContextProperties &properties = {});

    static QByteArray startConfig(const QUrl &startUrl);

    bool isLoaded() const { return m_root != nullptr; }
    QQmlApplicationEngine *engine() { return &m_engine; }

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
