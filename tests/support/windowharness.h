#pragma once

#include "probe.h"
#include "tabview.h"

#include <QPoint>
#include <QQmlApplicationEngine>
#include <QUrl>
#include <QVariant>

class QQuickItem;
class QQuickWindow;
class TabModel;

// The real window, created in this process the way start-up creates it, from a
// config.dll that the harness writes into the application directory first.
// Tests reach the window through the typed functions below: its tabs, the
// selected tab, the views and the parts the document names by id.
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
    QQuickWindow *window() const;

    // The tabs (`tabModel`), as the rows hold them.
    TabModel *tabModel() const;
    int tabCount() const;
    QString tabTitle(int row) const;
    QString tabUrl(int row) const;
    // The window's own `addTab`: a tab at the end, selected. `url` as its
    // callers in the window give it, a url value or text.
    void addTab(const QString &title, const QVariant &url);
    // Removes a tab, as its close button does while others remain.
    void closeTab(int row);
    // The selected tab (`navBar.currentIndex`), and selecting one.
    int currentIndex() const;
    void setCurrentIndex(int index);
    // The strip's tab of `row`.
    QQuickItem *tabButton(int row) const;

    // The selected tab's view (`currentView`), and the view of `row`.
    TabView currentView() const;
    TabView view(int row) const;
    // Waits until the selected tab has finished loading its page.
    bool waitForCurrentView() const;
    // Runs `script` in the page of the selected tab and waits for its value.
    QVariant runJavaScript(const QString &script);
    // Opens `url` in the selected tab and waits until its document is there.
    bool load(const QUrl &url);

    // A part of the window document by its id.
    QObject *byId(const QString &id) const;
    QQuickItem *itemById(const QString &id) const;
    // What the window makes on first use (its menu, dialogs and panels, each
    // an OnDemand): made now if it was not yet, or null while it was not.
    QObject *made(const QString &id) const;
    QObject *madeSoFar(const QString &id) const;

    // `point` of `item` in window coordinates, and the centre of `item`.
    static QPoint inWindow(QQuickItem *item, const QPointF &point);
    static QPoint centreOf(QQuickItem *item);

private:
    // Declared first, so that it outlives the engine whose scripts call it.
    Probe m_probe;
    QQmlApplicationEngine m_engine;
    QObject *m_root = nullptr;
};
