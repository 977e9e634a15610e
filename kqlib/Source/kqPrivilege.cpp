#include "kqPrivilege.h"

#include "kqSystemInfo.h"

namespace {
const DWORD kTokenRights = TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY;
}

CPrivilege::~CPrivilege()
{
    Restore();
}

void CPrivilege::Restore()
{
    if (m_hToken) {
        for (auto it = m_vecPrevious.rbegin(); it != m_vecPrevious.rend(); ++it)
            AdjustTokenPrivileges(m_hToken, FALSE, &*it, sizeof(*it), nullptr, nullptr);
        CloseHandle(m_hToken);
        m_hToken = nullptr;
    }
    m_vecPrevious.clear();
}

bool CPrivilege::Enable(HANDLE hProcess, const wchar_t* pszPrivilege)
{
    if (IsWindows9x())
        return true;
    Restore();
    HANDLE hToken = nullptr;
    if (!OpenProcessToken(hProcess, kTokenRights, &hToken))
        return false;
    return EnableOnToken(hToken, pszPrivilege);
}

bool CPrivilege::EnableForThread(HANDLE hThread, const wchar_t* pszPrivilege)
{
    if (IsWindows9x())
        return true;
    Restore();
    HANDLE hToken = nullptr;
    if (!OpenThreadToken(hThread, kTokenRights, TRUE, &hToken)) {
        if (GetLastError() != ERROR_NO_TOKEN || !OpenProcessToken(GetCurrentProcess(), kTokenRights, &hToken))
            return false;
    }
    return EnableOnToken(hToken, pszPrivilege);
}

bool CPrivilege::EnableOnToken(HANDLE hToken, const wchar_t* pszPrivilege)
{
    m_hToken = hToken;
    TOKEN_PRIVILEGES enable = {};
    enable.PrivilegeCount = 1;
    enable.Privileges[0].Attributes = SE_PRIVILEGE_ENABLED;
    if (!pszPrivilege || !LookupPrivilegeValueW(nullptr, pszPrivilege, &enable.Privileges[0].Luid))
        return false;
    TOKEN_PRIVILEGES previous = {};
    DWORD cbPrevious = sizeof(previous);
    if (!AdjustTokenPrivileges(m_hToken, FALSE, &enable, sizeof(enable), &previous, &cbPrevious))
        return false;
    // Success with ERROR_NOT_ALL_ASSIGNED means the account does not hold the privilege.
    if (GetLastError() == ERROR_NOT_ALL_ASSIGNED)
        return false;
    try {
        m_vecPrevious.push_back(previous);
    } catch (...) {
        AdjustTokenPrivileges(m_hToken, FALSE, &previous, sizeof(previous), nullptr, nullptr);
        return false;
    }
    return true;
}
