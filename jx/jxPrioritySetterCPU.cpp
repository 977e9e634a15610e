#include "jxPrioritySetterCPU.h"

#include <stdexcept>

#include "jxPrioritySystemCalls.h"
#include "kqTrace.h"

namespace JX {

namespace {

// The six classes from lowest to highest; -1 for any other value.
int RankOf(DWORD dwClass)
{
    static const DWORD s_adwRanked[] = {IDLE_PRIORITY_CLASS, BELOW_NORMAL_PRIORITY_CLASS, NORMAL_PRIORITY_CLASS,
                                        ABOVE_NORMAL_PRIORITY_CLASS, HIGH_PRIORITY_CLASS, REALTIME_PRIORITY_CLASS};
    for (int i = 0; i < static_cast<int>(ARRAYSIZE(s_adwRanked)); ++i) {
        if (s_adwRanked[i] == dwClass)
            return i;
    }
    return -1;
}

}  // namespace

CProcessPrioritySetterMgr::CPrioritySetter_CPU::CPrioritySetter_CPU(DWORD dwValueType, bool bRaiseOnly)
    : m_dwPriorityClass(ConvertValue(dwValueType)), m_bRaiseOnly(bRaiseOnly)
{
}

DWORD CProcessPrioritySetterMgr::CPrioritySetter_CPU::ConvertValue(DWORD dwValueType)
{
    switch (dwValueType) {
    case eValueType_CPU_Idle: return IDLE_PRIORITY_CLASS;
    case eValueType_CPU_BelowNormal: return BELOW_NORMAL_PRIORITY_CLASS;
    case eValueType_CPU_Normal: return NORMAL_PRIORITY_CLASS;
    case eValueType_CPU_AboveNormal: return ABOVE_NORMAL_PRIORITY_CLASS;
    case eValueType_CPU_High: return HIGH_PRIORITY_CLASS;
    case eValueType_CPU_Realtime: return REALTIME_PRIORITY_CLASS;
    default: throw std::invalid_argument("CPrioritySetter_CPU::ConvertValue(CProcessPrioritySetterMgr::eValueType)");
    }
}

bool CProcessPrioritySetterMgr::CPrioritySetter_CPU::IsUpdateRequired(DWORD dwCurrentClass) const
{
    TraceInformation(L"JX::CProcessPrioritySetterMgr::CPrioritySetter_CPU::IsUpdateRequired(372) : Current process "
                     L"priority class 0x%08x, Requested process priority class 0x%08x",
                     dwCurrentClass, m_dwPriorityClass);
    if (dwCurrentClass == m_dwPriorityClass)
        return false;
    if (!m_bRaiseOnly)
        return true;
    const int nCurrent = RankOf(dwCurrentClass);
    return nCurrent < 0 || nCurrent < RankOf(m_dwPriorityClass);
}

bool CProcessPrioritySetterMgr::CPrioritySetter_CPU::Apply(CProcessPrioritySetterMgr& mgr)
{
    CPrioritySystemCalls& calls = mgr.Calls();
    const HANDLE hProcess = mgr.GetProcessHandle();
    DWORD dwCurrent = calls.GetPriorityClass(hProcess);
    if (dwCurrent == 0) {
        TraceError(L"JX::CProcessPrioritySetterMgr::CPrioritySetter_CPU::Apply(287) : Unable to get process priority "
                   L"class, last error 0x%08x",
                   GetLastError());
        return false;
    }
    TraceInformation(L"JX::CProcessPrioritySetterMgr::CPrioritySetter_CPU::Apply(292) : Priority class for process "
                     L"0x%08x",
                     dwCurrent);
    if (!IsUpdateRequired(dwCurrent)) {
        TraceInformation(L"JX::CProcessPrioritySetterMgr::CPrioritySetter_CPU::Apply(302) : Request already "
                         L"satisfied, no update required");
        return true;
    }
    if (!calls.SetPriorityClass(hProcess, m_dwPriorityClass)) {
        TraceWarning(L"JX::CProcessPrioritySetterMgr::CPrioritySetter_CPU::Apply(310) : Unable to set process "
                     L"priority class, last error 0x%08x",
                     GetLastError());
        return false;
    }
    DWORD dwReadBack = calls.GetPriorityClass(hProcess);
    if (dwReadBack != m_dwPriorityClass) {
        TraceError(L"JX::CProcessPrioritySetterMgr::CPrioritySetter_CPU::Apply(319) : Successfully set process "
                   L"priority class to 0x%08x, but retrieved value 0x%08x differs!!!",
                   m_dwPriorityClass, dwReadBack);
        return false;
    }
    TraceInformation(L"JX::CProcessPrioritySetterMgr::CPrioritySetter_CPU::Apply(324) : Successfully set process "
                     L"0x%08x priority class to 0x%08x",
                     HandleToULong(hProcess), m_dwPriorityClass);
    return true;
}

}  // namespace JX
