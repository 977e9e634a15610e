// Sets the priority class through the documented calls; with the raise-only flag it never
// lowers a class that already ranks at or above the requested one.
#pragma once
#include "jxPrioritySetter.h"

namespace JX {

class CProcessPrioritySetterMgr::CPrioritySetter_CPU : public CProcessPrioritySetterMgr::CPrioritySetter
{
public:
    // Throws std::invalid_argument for a value that is no priority class.
    CPrioritySetter_CPU(DWORD dwValueType, bool bRaiseOnly);

    static DWORD ConvertValue(DWORD dwValueType);
    bool IsUpdateRequired(DWORD dwCurrentClass) const;
    bool Apply(CProcessPrioritySetterMgr& mgr) override;

    DWORD GetPriorityClass() const { return m_dwPriorityClass; }

private:
    DWORD m_dwPriorityClass;
    bool m_bRaiseOnly;
};

}  // namespace JX
