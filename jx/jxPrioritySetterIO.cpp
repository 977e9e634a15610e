#include "jxPrioritySetterIO.h"

#include <stdexcept>

#include "jxPrioritySystemCalls.h"
#include "kqTrace.h"

namespace JX {

CProcessPrioritySetterMgr::CPrioritySetter_IO::CPrioritySetter_IO(DWORD dwValueType)
    : m_ulIoPriority(ConvertValue(dwValueType))
{
}

ULONG CProcessPrioritySetterMgr::CPrioritySetter_IO::ConvertValue(DWORD dwValueType)
{
    if (dwValueType < eValueType_IO_VeryLow || dwValueType > eValueType_IO_Critical)
        throw std::invalid_argument("CPrioritySetter_IO::ConvertValue(CProcessPrioritySetterMgr::eValueType)");
    return dwValueType - eValueType_IO_VeryLow;
}

bool CProcessPrioritySetterMgr::CPrioritySetter_IO::Apply(CProcessPrioritySetterMgr& mgr)
{
    ULONG ulValue = m_ulIoPriority;
    LONG lStatus = mgr.Calls().SetInformationProcess(mgr.GetProcessHandle(), eInformationClass, &ulValue,
                                                     sizeof(ulValue));
    if (lStatus != 0) {
        TraceError(L"JX::CProcessPrioritySetterMgr::CPrioritySetter_IO::Apply(491) : Could not set IO priority, "
                   L"error returned %ld",
                   lStatus);
        return false;
    }
    TraceInformation(L"JX::CProcessPrioritySetterMgr::CPrioritySetter_IO::Apply(496) : Successfully set IO priority "
                     L"level for current process to %lu",
                     static_cast<unsigned long>(m_ulIoPriority));
    return true;
}

}  // namespace JX
