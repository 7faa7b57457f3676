#include "windowsuite.h"

#include <QGuiApplication>
#include <QInputMethodEvent>
#include <QQuickItem>
#include <QQuickWindow>
#include <QTest>

bool WindowSuite::openWindow(const QString &startPath, const QString &title)
{
    m_appDir = std::make_unique<TemporaryAppDir>();
    m_harness = std::make_unique<WindowHarness>(m_server.url(startPath));
    m_window = m_harness->window();
    if (!m_window)
        return false;
    m_window->requestActivate();
    return QTest::qWaitForWindowActive(m_window)
            && QTest::qWaitFor([&] { return m_harness->currentView().title() == title; }, 20000);
}

void WindowSuite::load(const QString &path)
{
    // A fresh query each time, so that the old document is never taken for the new one.
    QVERIFY(m_harness->load(m_server.url(path + QStringLiteral("?load=%1").arg(++m_loads))));
}

void WindowSuite::type(const QString &text)
{
    QObject *focus = QGuiApplication::focusObject();
    QVERIFY(focus);
    QInputMethodEvent event;
    event.setCommitString(text);
    QGuiApplication::sendEvent(focus, &event);
}

void WindowSuite::press(Qt::Key key, Qt::KeyboardModifiers modifiers)
{
    QTest::keyClick(m_window, key, modifiers);
}

void WindowSuite::click(QQuickItem *target)
{
    QVERIFY(target);
    QTest::mouseClick(m_window, Qt::LeftButton, Qt::NoModifier, WindowHarness::centreOf(target));
}

QQuickItem *WindowSuite::item(const QString &objectName, QObject *under)
{
    return (under ? under : m_window)->findChild<QQuickItem *>(objectName);
}
