#include "jxPrioritySetterCPUNative.h"

#include <stdexcept>

#include "jxPrioritySystemCalls.h"
#include "kqTrace.h"

namespace JX {

CProcessPrioritySetterMgr::CPrioritySetter_CPU_Native::CPrioritySetter_CPU_Native(DWORD dwValueType, bool bForeground)
    : m_bPriorityClass(ConvertValue(dwValueType)), m_bForeground(bForeground)
{
}

BYTE CProcessPrioritySetterMgr::CPrioritySetter_CPU_Native::ConvertValue(DWORD dwValueType)
{
    switch (dwValueType) {
    case eValueType_CPU_Idle: return 1;
    case eValueType_CPU_BelowNormal: return 5;
    case eValueType_CPU_Normal: return 2;
    case eValueType_CPU_AboveNormal: return 6;
    case eValueType_CPU_High: return 3;
    case eValueType_CPU_Realtime: return 4;
    default:
        throw std::invalid_argument("CPrioritySetter_CPU_Native::ConvertValue(CProcessPrioritySetterMgr::eValueType)");
    }
}

bool CProcessPrioritySetterMgr::CPrioritySetter_CPU_Native::Apply(CProcessPrioritySetterMgr& mgr)
{
    // The native layout: a foreground flag, then the class value.
    BYTE abBuffer[2] = {static_cast<BYTE>(m_bForeground ? 1 : 0), m_bPriorityClass};
    LONG lStatus = mgr.Calls().SetInformationProcess(mgr.GetProcessHandle(), eInformationClass, abBuffer,
                                                     sizeof(abBuffer));
    if (lStatus != 0) {
        TraceError(L"JX::CProcessPrioritySetterMgr::CPrioritySetter_CPU_Native::Apply(422) : Could not set process "
                   L"priority class, error returned %ld",
                   lStatus);
        return false;
    }
    TraceInformation(L"JX::CProcessPrioritySetterMgr::CPrioritySetter_CPU_Native::Apply(427) : Successfully set "
                     L"process priority class for current process to %s, %lu",
                     m_bForeground ? L"FOREGROUND" : L"BACKGROUND", static_cast<unsigned long>(m_bPriorityClass));
    return true;
}

}  // namespace JX
