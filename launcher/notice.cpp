#include "notice.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <cstdio>
#endif

namespace Notice {

void nothingToStart()
{
#ifdef _WIN32
    MessageBoxW(nullptr, L"门窗软件管理无法启动：本机没有可以启动的程序版本。\n请联系IT部门重新安装。",
                L"门窗软件管理", MB_OK | MB_ICONERROR | MB_SETFOREGROUND | MB_TOPMOST);
#else
    std::fputs("门窗软件管理无法启动：本机没有可以启动的程序版本。请联系IT部门重新安装。\n", stderr);
#endif
}

} // namespace Notice
