// The native process information entry points of ntdll, taken on first use. A failed lookup
// is tried again at the next call.
#pragma once
#include <windows.h>
#include <string>

#include "kqCriticalSection.h"
#include "jxProcessPrioritySetterMgr.h"

namespace JX {

class CProcessPrioritySetterMgr::CNativeProcessInfo
{
public:
    typedef LONG(NTAPI* PFN_QUERY)(HANDLE, ULONG, PVOID, ULONG, PULONG);
    typedef LONG(NTAPI* PFN_SET)(HANDLE, ULONG, PVOID, ULONG);

    // The process-wide holder, on ntdll.
    static CNativeProcessInfo& Instance();

    // A holder on another module, for tests of the failure paths.
    explicit CNativeProcessInfo(const wchar_t* pszModule);
    ~CNativeProcessInfo();
    CNativeProcessInfo(const CNativeProcessInfo&) = delete;
    CNativeProcessInfo& operator=(const CNativeProcessInfo&) = delete;

    // The native status, 0 for success; 1 when the entry point cannot be obtained.
    LONG SetInformationProcess(HANDLE hProcess, ULONG ulInformationClass, PVOID pBuffer, ULONG cbBuffer);

private:
    bool Initialize();

    CCriticalSection m_lock;
    std::wstring m_strModule;
    PFN_QUERY m_pfnQuery = nullptr;
    PFN_SET m_pfnSet = nullptr;
};

}  // namespace JX
