// Sets the process memory-page priority through the native process information call.
#pragma once
#include "jxPrioritySetter.h"

namespace JX {

class CProcessPrioritySetterMgr::CPrioritySetter_Page : public CProcessPrioritySetterMgr::CPrioritySetter
{
public:
    enum { eInformationClass = 39 };

    // Throws std::invalid_argument for a value that is no page priority.
    explicit CPrioritySetter_Page(DWORD dwValueType);

    // 5 normal.
    static ULONG ConvertValue(DWORD dwValueType);
    bool Apply(CProcessPrioritySetterMgr& mgr) override;

private:
    ULONG m_ulPagePriority;
};

}  // namespace JX
