#pragma once

#include <QObject>

class QQmlApplicationEngine;

// The start-up wiring: everything that has to happen between the creation of
// the QML engine and the loading of the window.
class AppInit : public QObject
{
    Q_OBJECT

public:
    static AppInit *getInstance();

    // Loads the configuration, brings it in step with the index service, moves a
    // waiting report folder into place and publishes `config` and `menuOpt`.
    // False when a termination signal ended the start-up: then nothing after
    // the code-version check is done.
    bool init(QQmlApplicationEngine *engine);

    // Publishes `zx` and `appDir`, then loads the window document, which finds the
    // program's own types in module Fenestra. The process ends with -1 when the window cannot be created.
    void loadWindow(QQmlApplicationEngine *engine);

private:
    AppInit() = default;
};
