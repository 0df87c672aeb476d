#pragma once

// Whether a test built for Windows runs under Wine, which is not Windows:
// Wine's ntdll exports wine_get_version, Windows' does not.
#include <QtGlobal>
#ifdef Q_OS_WIN
#include <qt_windows.h>
#endif

inline bool underWine()
{
#ifdef Q_OS_WIN
    const HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
    return ntdll && GetProcAddress(ntdll, "wine_get_version") != nullptr;
#else
    return false;
#endif
}
