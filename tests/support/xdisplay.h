#pragma once

#include "testenvironment.h"

#include <QDir>
#include <QPoint>
#include <QProcess>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

// The desktop as a user has it, for the tests that need a real display and a
// window manager: Xvfb on a display number it picks itself (so tests running
// side by side never meet) and openbox. The test program runs itself again on
// that display and reports what that run reports; both end with it.
class XDisplay
{
public:
    // Starts Xvfb and openbox; isRunning() tells whether they came up.
    XDisplay();
    // Ends openbox, then Xvfb, which removes its lock and socket.
    ~XDisplay();

    bool isRunning() const { return !m_name.isEmpty(); }
    QString name() const { return m_name; }

    // Runs the test program (`argv`) on the display and returns its exit code.
    int runInside(int argc, char *argv[]) const;

    // True in the program that runInside() started.
    static bool isInside();

    // xdotool on this process's display; false when it fails or hangs.
    static bool xdotool(const QStringList &arguments);
    // Moves the pointer to `global` (screen coordinates) as a user's hand does, in steps.
    static bool movePointer(const QPoint &global);
    // Presses and releases keys named the xdotool way ("F5", "ctrl+f", "ctrl+equal").
    static bool pressKeys(const QString &keys);

private:
    QTemporaryDir m_home { QDir::tempPath() + QStringLiteral("/fenestra-xdisplay-XXXXXX") };
    QProcess m_server;
    QProcess m_windowManager;
    QString m_name;
};

// FENESTRA_TEST_MAIN on a display of the test's own with a window manager.
#define FENESTRA_X_TEST_MAIN(TestObject)                                                                     \
    int main(int argc, char *argv[])                                                                         \
    {                                                                                                        \
        if (!XDisplay::isInside()) {                                                                         \
            QCoreApplication app(argc, argv);                                                                \
            const XDisplay display;                                                                          \
            return display.runInside(argc, argv);                                                            \
        }                                                                                                    \
        prepareTestEnvironment();                                                                            \
        QtWebEngineQuick::initialize();                                                                      \
        QApplication app(argc, argv);                                                                        \
        useChineseLanguage();                                                                                \
        TestObject tc;                                                                                       \
        QTEST_SET_MAIN_SOURCE_PATH                                                                           \
        return QTest::qExec(&tc, argc, argv);                                                                \
    }
