#include "ZIRA_SystemCalls.h"

#include <atomic>

#include "kqSystemInfo.h"

namespace ZIRA {

namespace {

DWORD ResultOf(BOOL bOk)
{
    if (bOk)
        return ERROR_SUCCESS;
    DWORD dwError = ::GetLastError();
    return dwError ? dwError : ERROR_GEN_FAILURE;
}

std::atomic<ISystemCalls*> g_pReplacement{nullptr};

}  // namespace

bool CSystemCalls::OpenProcessToken(DWORD dwDesiredAccess, HANDLE* phToken)
{
    return ::OpenProcessToken(GetCurrentProcess(), dwDesiredAccess, phToken) != FALSE;
}

bool CSystemCalls::EnablePrivilege(HANDLE hToken, const wchar_t* pszPrivilege, TOKEN_PRIVILEGES* pPrevious)
{
    TOKEN_PRIVILEGES tp = {};
    tp.PrivilegeCount = 1;
    tp.Privileges[0].Attributes = SE_PRIVILEGE_ENABLED;
    if (!LookupPrivilegeValueW(nullptr, pszPrivilege, &tp.Privileges[0].Luid))
        return false;
    TOKEN_PRIVILEGES previous = {};
    DWORD cbPrevious = sizeof(previous);
    if (!AdjustTokenPrivileges(hToken, FALSE, &tp, sizeof(previous), &previous, &cbPrevious))
        return false;
    // The call succeeds without enabling a privilege the token does not hold.
    if (::GetLastError() == ERROR_NOT_ALL_ASSIGNED)
        return false;
    if (pPrevious)
        *pPrevious = previous;
    return true;
}

void CSystemCalls::RestorePrivilege(HANDLE hToken, const TOKEN_PRIVILEGES& previous)
{
    TOKEN_PRIVILEGES copy = previous;
    AdjustTokenPrivileges(hToken, FALSE, &copy, sizeof(copy), nullptr, nullptr);
}

bool CSystemCalls::CheckTokenMembership(HANDLE hToken, PSID pSid, bool& bMember)
{
    BOOL bIsMember = FALSE;
    if (!::CheckTokenMembership(hToken, pSid, &bIsMember))
        return false;
    bMember = bIsMember != FALSE;
    return true;
}

DWORD CSystemCalls::GetNamedSecurity(const wchar_t* pszName, SE_OBJECT_TYPE eType, SECURITY_INFORMATION siWhat,
                                     PSECURITY_DESCRIPTOR* ppDescriptor)
{
    *ppDescriptor = nullptr;
    return GetNamedSecurityInfoW(pszName, eType, siWhat, nullptr, nullptr, nullptr, nullptr, ppDescriptor);
}

DWORD CSystemCalls::SetNamedSecurity(const wchar_t* pszName, SE_OBJECT_TYPE eType, SECURITY_INFORMATION siWhat,
                                     PSID pOwner, PACL pDacl)
{
    return SetNamedSecurityInfoW(const_cast<wchar_t*>(pszName), eType, siWhat, pOwner, nullptr, pDacl, nullptr);
}

DWORD CSystemCalls::RemoveFile(const wchar_t* pszPath)
{
    return ResultOf(::DeleteFileW(pszPath));
}

DWORD CSystemCalls::RemoveFolder(const wchar_t* pszPath)
{
    return ResultOf(::RemoveDirectoryW(pszPath));
}

DWORD CSystemCalls::DeleteAtRestart(const wchar_t* pszPath)
{
    return ResultOf(::MoveFileExW(pszPath, nullptr, MOVEFILE_DELAY_UNTIL_REBOOT));
}

LONG CSystemCalls::OpenKey(CRegistryKey& key, HKEY hHive, const wchar_t* pszPath, REGSAM samDesired, bool bCreate,
                           DWORD dwOptions)
{
    if (bCreate)
        key.Create(hHive, pszPath, samDesired, dwOptions);
    else
        key.Open(hHive, pszPath, samDesired);
    return key.GetLastError();
}

bool CSystemCalls::IsWow64()
{
    return ::IsWow64();
}

ISystemCalls& SystemCalls()
{
    static CSystemCalls s_real;
    ISystemCalls* pReplacement = g_pReplacement.load();
    return pReplacement ? *pReplacement : s_real;
}

ISystemCalls* SetSystemCalls(ISystemCalls* pCalls)
{
    return g_pReplacement.exchange(pCalls);
}

}  // namespace ZIRA
