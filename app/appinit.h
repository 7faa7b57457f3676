#pragma once

#include <QObject>

#include <functional>

class QQmlApplicationEngine;
class QQmlComponent;
class QQuickWebEngineProfile;

// The start-up wiring: everything that has to happen between the creation of
// the QML engine and the loading of the window.
class AppInit : public QObject
{
    Q_OBJECT

public:
    static AppInit *getInstance();

    // Loads the configuration, prepares the window, brings the configuration in step
    // with the index service, moves a waiting report folder into place and publishes
    // `config` and `menuOpt`.
    // False when a termination signal ended the start-up: then nothing after
    // the code-version check is done. `whileWaiting` (the splash) runs from within
    // the check's wait, once its request has left; never when there was no wait.
    bool init(QQmlApplicationEngine *engine, const std::function<void()> &whileWaiting = {});

    // Publishes `zx` and `appDir`, then loads the window document. The process
    // ends with -1 when the window cannot be created.
    void loadWindow(QQmlApplicationEngine *engine);

private:
    AppInit() = default;
    // What the window needs and the index service's answer does not change, started
    // before the code-version check so that it runs during the wait: keeps the
    // program's own types of module Fenestra, compiles the window document and
    // starts the web engine. Nothing of the window becomes visible.
    void prepareWindow(QQmlApplicationEngine *engine, const std::function<void()> &whileWaiting);

    QQmlComponent *preparedWindow = nullptr;
    QQuickWebEngineProfile *engineStarter = nullptr;
};
