#pragma once

#include "probe.h"

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
    // A config.dll that makes `startUrl` the first tab's address.
    explicit WindowHarness(const QUrl &startUrl);
    // A config.dll of the test's own making.
    explicit WindowHarness(const QByteArray &config);

    static QByteArray startConfig(const QUrl &startUrl);

    bool isLoaded() const { return m_root != nullptr; }
    QQmlApplicationEngine *engine() { return &m_engine; }

    // Evaluates a QML expression in the window document's own scope.
    QVariant eval(const QString &expression) const;

    QQuickWindow *window() const;
    QQuickItem *item(const QString &expression) const;

    // Waits until the selected tab has finished loading its page.
    bool waitForCurrentView() const;

    // Runs `script` in the page of the selected tab and waits for its value.
    QVariant runJavaScript(const QString &script);
    // Opens `url` in the selected tab and waits until its document is there.
    bool load(const QUrl &url);

    // `point` of `item` in window coordinates.
    static QPoint inWindow(QQuickItem *item, const QPointF &point);
    QPoint centreOf(const QString &itemExpression) const;

private:
    // Declared first, so that it outlives the engine whose scripts call it.
    Probe m_probe;
    QQmlApplicationEngine m_engine;
    QObject *m_root = nullptr;
};
