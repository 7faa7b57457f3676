#pragma once

#include <QObject>

// Carries out the page context menu's entries that need the desktop.
class MenuOpt : public QObject
{
    Q_OBJECT

public:
    static MenuOpt *getInstance();

private:
    MenuOpt() = default;
};
