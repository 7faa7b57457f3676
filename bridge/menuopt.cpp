#include "bridge/menuopt.h"

MenuOpt *MenuOpt::getInstance()
{
    // A function-local static is initialised once, also under concurrent first calls.
    static MenuOpt *const instance = new MenuOpt;
    return instance;
}
