// Builds the setter for one requested change.
#pragma once
#include "jxPrioritySetter.h"

namespace JX {

class CProcessPrioritySetterMgr::CPrioritySetterFactory
{
public:
    // Throws std::invalid_argument for a pair no setter accepts and std::bad_alloc when out of
    // memory. The CPU setter only ever raises the class.
    CPrioritySetterRef operator()(const PrioritySetterInfo& info) const;
};

}  // namespace JX
