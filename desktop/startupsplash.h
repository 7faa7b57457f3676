#pragma once

#include <QSplashScreen>

class QWindow;

// The small window that says the program is starting while it talks to the
// index service, before the main window exists. It shows as soon as it is
// made and paints whenever the start-up waits in an event loop.
class StartupSplash : public QSplashScreen
{
    Q_OBJECT

public:
    StartupSplash();

    // Closes the splash once `window` has shown its first frame; at once
    // when there is no window to wait for.
    void closeWhenShown(QWindow *window);
};
