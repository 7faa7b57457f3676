#include "bridge/zxjavascript.h"

ZxJavascript *ZxJavascript::getInstance()
{
    static ZxJavascript *const instance = new ZxJavascript;
    return instance;
}
