#pragma once

#include "testenvironment.h"
#include "testhttpserver.h"
#include "windowharness.h"

#include <QObject>

#include <memory>

class QQuickItem;
class QQuickWindow;

// The ground of a suite that drives the real window on pages of its own loopback
// server: the suite sets its routes, opens the window and acts on its pages the
// way a user does; it reaches the window's tabs and views through `m_harness`.
class WindowSuite : public QObject
{
    Q_OBJECT

protected:
    // Opens the window on `startPath` in a fresh application directory and waits,
    // with the window active, until the page titled `title` shows.
    bool openWindow(const QString &startPath, const QString &title);

    QVariant runJavaScript(const QString &script) { return m_harness->runJavaScript(script); }
    // Opens `path` of the server in the selected tab and waits for its document.
    void load(const QString &path);
    // Text arrives the way an input method commits it, which serves any script.
    static void type(const QString &text);
    void press(Qt::Key key, Qt::KeyboardModifiers modifiers = Qt::NoModifier);
    void click(QQuickItem *target);
    QQuickItem *item(const QString &objectName, QObject *under = nullptr);

    TestHttpServer m_server;
    std::unique_ptr<TemporaryAppDir> m_appDir;
    std::unique_ptr<WindowHarness> m_harness;
    QQuickWindow *m_window = nullptr;

private:
    int m_loads = 0;
};
