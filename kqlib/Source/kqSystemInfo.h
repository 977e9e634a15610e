// Which Windows the process runs on, administrator test and the WOW64 test.
#pragma once
#include <windows.h>

// The operating-system facts the version checks look at.
struct COsVersion
{
    DWORD dwPlatformId = 0;
    DWORD dwMajorVersion = 0;
    DWORD dwMinorVersion = 0;
    DWORD dwBuildNumber = 0;
    BYTE bProductType = 0;
};

// Facts of the running system, read once per process.
const COsVersion& GetOsVersion();

bool IsWindows9x(const COsVersion& os);
bool IsWindowsNT(const COsVersion& os);
bool IsWindowsMe(const COsVersion& os);
bool IsWindowsMeOrLater(const COsVersion& os);
bool IsWindowsNT4(const COsVersion& os);
bool IsWindowsNT4OrLater(const COsVersion& os);
bool IsWindows2000(const COsVersion& os);
bool IsWindows2000OrLater(const COsVersion& os);
bool IsWindowsXP(const COsVersion& os);
bool IsWindowsXPOrLater(const COsVersion& os);
bool IsWindowsVistaSP1(const COsVersion& os);
bool IsWindowsVistaSP1OrLater(const COsVersion& os);
bool IsWindowsVista(const COsVersion& os);
bool IsWindowsVistaOrLater(const COsVersion& os);

inline bool IsWindows9x() { return IsWindows9x(GetOsVersion()); }
inline bool IsWindowsNT() { return IsWindowsNT(GetOsVersion()); }
inline bool IsWindowsXP() { return IsWindowsXP(GetOsVersion()); }
inline bool IsWindowsXPOrLater() { return IsWindowsXPOrLater(GetOsVersion()); }
inline bool IsWindowsVistaOrLater() { return IsWindowsVistaOrLater(GetOsVersion()); }

// True when the token holds BUILTIN\Administrators. pbElevationNeeded becomes true when the
// group is present but not enabled (a filtered token that must elevate), false when enabled.
// On a system that is not NT the result is true and the flag is left untouched.
bool IsUserAdmin(bool* pbElevationNeeded);

// True for a 32-bit process on 64-bit Windows; such a process adds KEY_WOW64_64KEY to reach
// the machine's own registry view.
bool IsWow64();
// KEY_WOW64_64KEY under WOW64, otherwise 0.
REGSAM Wow64RegistryView();
