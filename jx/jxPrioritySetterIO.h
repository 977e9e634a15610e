// Sets the process I/O priority through the native process information call.
#pragma once
#include "jxPrioritySetter.h"

namespace JX {

class CProcessPrioritySetterMgr::CPrioritySetter_IO : public CProcessPrioritySetterMgr::CPrioritySetter
{
public:
    enum { eInformationClass = 33 };

    // Throws std::invalid_argument for a value that is no I/O priority.
    explicit CPrioritySetter_IO(DWORD dwValueType);

    // 0 very low, 1 low, 2 normal, 3 high, 4 critical.
    static ULONG ConvertValue(DWORD dwValueType);
    bool Apply(CProcessPrioritySetterMgr& mgr) override;

private:
    ULONG m_ulIoPriority;
};

}  // namespace JX
