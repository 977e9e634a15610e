#include "jxNativeProcessInfo.h"

#include "kqTrace.h"

namespace JX {

namespace {

template <typename TFunction>
TFunction GetExport(HMODULE hModule, const char* pszName)
{
    return reinterpret_cast<TFunction>(reinterpret_cast<void*>(GetProcAddress(hModule, pszName)));
}

}  // namespace

CProcessPrioritySetterMgr::CNativeProcessInfo& CProcessPrioritySetterMgr::CNativeProcessInfo::Instance()
{
    static CNativeProcessInfo s_info(L"ntdll");
    return s_info;
}

CProcessPrioritySetterMgr::CNativeProcessInfo::CNativeProcessInfo(const wchar_t* pszModule)
    : m_strModule(pszModule ? pszModule : L"")
{
}

CProcessPrioritySetterMgr::CNativeProcessInfo::~CNativeProcessInfo() = default;

bool CProcessPrioritySetterMgr::CNativeProcessInfo::Initialize()
{
    CAutoLock lock(m_lock);
    bool bResult = m_pfnSet != nullptr;
    if (!bResult) {
        // The module stays loaded for the life of the process, so no reference is taken.
        HMODULE hModule = GetModuleHandleW(m_strModule.c_str());
        if (!hModule) {
            TraceError(L"JX::CProcessPrioritySetterMgr::CNativeProcessInfo::Initialize(186) : Unable to retrieve "
                       L"NTDLL module handle, last error 0x%08x",
                       GetLastError());
        } else if (!(m_pfnQuery = GetExport<PFN_QUERY>(hModule, "ZwQueryInformationProcess"))) {
            TraceError(L"JX::CProcessPrioritySetterMgr::CNativeProcessInfo::Initialize(197) : Unable to retrieve "
                       L"ZwQueryInformationProcess function pointer, error returned 0x%08x",
                       GetLastError());
        } else if (!(m_pfnSet = GetExport<PFN_SET>(hModule, "ZwSetInformationProcess"))) {
            TraceError(L"JX::CProcessPrioritySetterMgr::CNativeProcessInfo::Initialize(209) : Unable to retrieve "
                       L"ZwSetInformationProcess function pointer, error returned 0x%08x",
                       GetLastError());
            m_pfnQuery = nullptr;
        } else {
            TraceInformation(L"JX::CProcessPrioritySetterMgr::CNativeProcessInfo::Initialize(215) : Successfully "
                             L"initialized");
            bResult = true;
        }
    }
    return bResult;
}

LONG CProcessPrioritySetterMgr::CNativeProcessInfo::SetInformationProcess(HANDLE hProcess, ULONG ulInformationClass,
                                                                           PVOID pBuffer, ULONG cbBuffer)
{
    if (!Initialize()) {
        TraceError(L"JX::CProcessPrioritySetterMgr::CNativeProcessInfo::SetInformationProcess(148) : Unable to "
                   L"retrieve ZwSetInformationProcess function pointer");
        return 1;
    }
    return m_pfnSet(hProcess, ulInformationClass, pBuffer, cbBuffer);
}

}  // namespace JX
