#pragma once

#include <QPixmap>
#include <QRasterWindow>

// The small window that says the program is starting while it talks to the
// index service, before the main window exists. It shows as soon as it is
// made and paints whenever the start-up waits in an event loop. A raster window,
// not a widget: Qt 6.8's QSplashScreen holds up its show() for as long as a
// second until the window system has exposed it, and any widget would first
// set up the widget style, which nothing else needs before the window.
class StartupSplash : public QRasterWindow
{
    Q_OBJECT

public:
    StartupSplash();

    // Closes the splash once `window` has shown its first frame; at once
    // when there is no window to wait for.
    void closeWhenShown(QWindow *window);

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    QPixmap m_picture;
};
