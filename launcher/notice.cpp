#include "notice.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <cstdio>
#endif

namespace Notice {

namespace {

void tell(const wchar_t *wide, const char *utf8)
{
#ifdef _WIN32
    (void)utf8;
    MessageBoxW(nullptr, wide, L"门窗软件管理", MB_OK | MB_ICONERROR | MB_SETFOREGROUND | MB_TOPMOST);
#else
    (void)wide;
    std::fputs(utf8, stderr);
#endif
}

} // namespace

void nothingToStart()
{
    tell(L"门窗软件管理无法启动：本机没有可以启动的程序版本。\n请联系IT部门重新安装。",
         "门窗软件管理无法启动：本机没有可以启动的程序版本。请联系IT部门重新安装。\n");
}

void keepsCrashing()
{
    tell(L"门窗软件管理反复崩溃：本机的显卡驱动无法正常显示程序，已停止重新启动。\n请联系IT部门检查显卡驱动"
         L"。",
         "门窗软件管理反复崩溃：本机的显卡驱动无法正常显示程序，已停止重新启动。请联系IT部门检查显卡驱动。"
         "\n");
}

} // namespace Notice
