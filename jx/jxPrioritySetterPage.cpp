#include "jxPrioritySetterPage.h"

#include <stdexcept>

#include "jxPrioritySystemCalls.h"
#include "kqTrace.h"

namespace JX {

CProcessPrioritySetterMgr::CPrioritySetter_Page::CPrioritySetter_Page(DWORD dwValueType)
    : m_ulPagePriority(ConvertValue(dwValueType))
{
}

ULONG CProcessPrioritySetterMgr::CPrioritySetter_Page::ConvertValue(DWORD dwValueType)
{
    if (dwValueType != eValueType_Page_Normal)
        throw std::invalid_argument("CPrioritySetter_Page::ConvertValue(CProcessPrioritySetterMgr::eValueType)");
    return 5;
}

bool CProcessPrioritySetterMgr::CPrioritySetter_Page::Apply(CProcessPrioritySetterMgr& mgr)
{
    ULONG ulValue = m_ulPagePriority;
    LONG lStatus = mgr.Calls().SetInformationProcess(mgr.GetProcessHandle(), eInformationClass, &ulValue,
                                                     sizeof(ulValue));
    if (lStatus != 0) {
        TraceError(L"JX::CProcessPrioritySetterMgr::CPrioritySetter_Page::Apply(557) : Could not set page priority, "
                   L"error returned %ld",
                   lStatus);
        return false;
    }
    TraceInformation(L"JX::CProcessPrioritySetterMgr::CPrioritySetter_Page::Apply(562) : Successfully set Page "
                     L"priority level for current process to %lu",
                     static_cast<unsigned long>(m_ulPagePriority));
    return true;
}

}  // namespace JX
