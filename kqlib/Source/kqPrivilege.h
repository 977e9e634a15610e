// Enables a privilege on a process or thread token and restores its previous state when
// destroyed (or before the next Enable).
#pragma once
#include <windows.h>
#include <vector>

class CPrivilege
{
public:
    CPrivilege() = default;
    ~CPrivilege();

    CPrivilege(const CPrivilege&) = delete;
    CPrivilege& operator=(const CPrivilege&) = delete;

    bool Enable(const wchar_t* pszPrivilege) { return Enable(GetCurrentProcess(), pszPrivilege); }
    bool Enable(HANDLE hProcess, const wchar_t* pszPrivilege);
    bool EnableForThread(const wchar_t* pszPrivilege) { return EnableForThread(GetCurrentThread(), pszPrivilege); }
    bool EnableForThread(HANDLE hThread, const wchar_t* pszPrivilege);

private:
    bool EnableOnToken(HANDLE hToken, const wchar_t* pszPrivilege);
    void Restore();

    HANDLE m_hToken = nullptr;
    std::vector<TOKEN_PRIVILEGES> m_vecPrevious;
};
