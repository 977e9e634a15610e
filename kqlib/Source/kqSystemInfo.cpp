#include "kqSystemInfo.h"

#include <atomic>
#include <mutex>
#include <vector>

namespace {

COsVersion ReadOsVersion()
{
    COsVersion os;
    OSVERSIONINFOEXW info = {};
    info.dwOSVersionInfoSize = sizeof(info);
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
    if (!GetVersionExW(reinterpret_cast<OSVERSIONINFOW*>(&info))) {
        // Systems without the extended form answer the basic one.
        info = {};
        info.dwOSVersionInfoSize = sizeof(OSVERSIONINFOW);
        if (!GetVersionExW(reinterpret_cast<OSVERSIONINFOW*>(&info)))
            return os;
    }
#pragma GCC diagnostic pop
    os.dwPlatformId = info.dwPlatformId;
    os.dwMajorVersion = info.dwMajorVersion;
    os.dwMinorVersion = info.dwMinorVersion;
    os.dwBuildNumber = info.dwBuildNumber;
    os.bProductType = info.wProductType;
    return os;
}

bool IsVersion(const COsVersion& os, DWORD dwMajor, DWORD dwMinor)
{
    return os.dwMajorVersion == dwMajor && os.dwMinorVersion == dwMinor;
}

bool IsAbove(const COsVersion& os, DWORD dwMajor, DWORD dwMinor)
{
    return os.dwMajorVersion > dwMajor || (os.dwMajorVersion == dwMajor && os.dwMinorVersion > dwMinor);
}

}  // namespace

const COsVersion& GetOsVersion()
{
    static const COsVersion s_os = ReadOsVersion();
    return s_os;
}

bool IsWindows9x(const COsVersion& os) { return os.dwPlatformId == VER_PLATFORM_WIN32_WINDOWS; }
bool IsWindowsNT(const COsVersion& os) { return os.dwPlatformId == VER_PLATFORM_WIN32_NT; }

bool IsWindowsMe(const COsVersion& os) { return IsWindows9x(os) && IsVersion(os, 4, 90); }
bool IsWindowsMeOrLater(const COsVersion& os)
{
    return IsWindows9x(os) && (IsVersion(os, 4, 90) || IsAbove(os, 4, 90));
}

bool IsWindowsNT4(const COsVersion& os) { return IsWindowsNT(os) && IsVersion(os, 4, 0); }
bool IsWindowsNT4OrLater(const COsVersion& os) { return IsWindowsNT4(os) || IsWindows2000OrLater(os); }

bool IsWindows2000(const COsVersion& os) { return IsWindowsNT(os) && IsVersion(os, 5, 0); }
bool IsWindows2000OrLater(const COsVersion& os) { return IsWindows2000(os) || IsWindowsXPOrLater(os); }

bool IsWindowsXP(const COsVersion& os)
{
    if (!IsWindowsNT(os))
        return false;
    // NT 5.2 is XP only in its 64-bit workstation edition; the server is Windows Server 2003.
    return IsVersion(os, 5, 1) || (IsVersion(os, 5, 2) && os.bProductType == VER_NT_WORKSTATION);
}
bool IsWindowsXPOrLater(const COsVersion& os) { return IsWindowsNT(os) && IsAbove(os, 5, 0); }

bool IsWindowsVistaSP1(const COsVersion& os)
{
    return IsWindowsNT(os) && IsVersion(os, 6, 0) && os.dwBuildNumber > 6000;
}
bool IsWindowsVistaSP1OrLater(const COsVersion& os)
{
    return IsWindowsVistaSP1(os) || (IsWindowsNT(os) && IsAbove(os, 6, 0));
}

bool IsWindowsVista(const COsVersion& os)
{
    return IsWindowsNT(os) && IsVersion(os, 6, 0) && os.dwBuildNumber < 6001;
}
bool IsWindowsVistaOrLater(const COsVersion& os) { return IsWindowsVista(os) || IsWindowsVistaSP1OrLater(os); }

bool IsUserAdmin(bool* pbElevationNeeded)
{
    if (!IsWindowsNT())
        return true;
    HANDLE hToken = nullptr;
    if (!OpenThreadToken(GetCurrentThread(), TOKEN_QUERY, TRUE, &hToken) &&
        !OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &hToken))
        return false;

    bool bFound = false;
    bool bEnabled = false;
    SID_IDENTIFIER_AUTHORITY ntAuthority = SECURITY_NT_AUTHORITY;
    PSID pAdmins = nullptr;
    if (AllocateAndInitializeSid(&ntAuthority, 2, SECURITY_BUILTIN_DOMAIN_RID, DOMAIN_ALIAS_RID_ADMINS, 0, 0,
                                 0, 0, 0, 0, &pAdmins)) {
        DWORD cbGroups = 0;
        GetTokenInformation(hToken, TokenGroups, nullptr, 0, &cbGroups);
        if (cbGroups != 0) {
            try {
                std::vector<BYTE> buffer(cbGroups);
                auto* pGroups = reinterpret_cast<TOKEN_GROUPS*>(buffer.data());
                if (GetTokenInformation(hToken, TokenGroups, pGroups, cbGroups, &cbGroups)) {
                    for (DWORD i = 0; i < pGroups->GroupCount; ++i) {
                        if (EqualSid(pGroups->Groups[i].Sid, pAdmins)) {
                            bFound = true;
                            bEnabled = (pGroups->Groups[i].Attributes & SE_GROUP_ENABLED) != 0;
                            break;
                        }
                    }
                }
            } catch (...) {
                bFound = false;
            }
        }
        FreeSid(pAdmins);
    }
    CloseHandle(hToken);
    if (bFound && pbElevationNeeded)
        *pbElevationNeeded = !bEnabled;
    return bFound;
}

bool IsWow64()
{
    static std::atomic<int> s_answer{-1};
    int answer = s_answer.load();
    if (answer >= 0)
        return answer != 0;
    typedef BOOL(WINAPI * PFN_ISWOW64PROCESS)(HANDLE, PBOOL);
    HMODULE hKernel = GetModuleHandleW(L"KERNEL32.DLL");
    auto pfn = hKernel ? reinterpret_cast<PFN_ISWOW64PROCESS>(
                             reinterpret_cast<void*>(GetProcAddress(hKernel, "IsWow64Process")))
                       : nullptr;
    if (!pfn)
        return false;
    BOOL bWow64 = FALSE;
    if (!pfn(GetCurrentProcess(), &bWow64))
        return false;
    s_answer.store(bWow64 ? 1 : 0);
    return bWow64 != FALSE;
}

REGSAM Wow64RegistryView()
{
    return IsWow64() ? KEY_WOW64_64KEY : 0;
}
