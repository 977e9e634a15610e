// Sets the priority class through the native process information call, with the foreground
// flag set or clear. Does not read the current class first.
#pragma once
#include "jxPrioritySetter.h"

namespace JX {

class CProcessPrioritySetterMgr::CPrioritySetter_CPU_Native : public CProcessPrioritySetterMgr::CPrioritySetter
{
public:
    enum { eInformationClass = 18 };

    // Throws std::invalid_argument for a value that is no priority class.
    CPrioritySetter_CPU_Native(DWORD dwValueType, bool bForeground);

    // The native class value (1 idle, 5 below normal, 2 normal, 6 above normal, 3 high, 4 realtime).
    static BYTE ConvertValue(DWORD dwValueType);
    bool Apply(CProcessPrioritySetterMgr& mgr) override;

private:
    BYTE m_bPriorityClass;
    bool m_bForeground;
};

}  // namespace JX
