#include "jxPrioritySetterFactory.h"

#include <stdexcept>

#include "jxPrioritySetterCPU.h"
#include "jxPrioritySetterCPUNative.h"
#include "jxPrioritySetterIO.h"
#include "jxPrioritySetterPage.h"
#include "kqTrace.h"

namespace JX {

CProcessPrioritySetterMgr::CPrioritySetterRef CProcessPrioritySetterMgr::CPrioritySetterFactory::operator()(
    const PrioritySetterInfo& info) const
{
    CPrioritySetterRef spSetter;
    switch (info.eType) {
    case eType_CPU:
        spSetter = CPrioritySetterRef(new CPrioritySetter_CPU(info.eValueType, true));
        TraceInformation(L"JX::CProcessPrioritySetterMgr::CPrioritySetterFactory::operator ()(616) : Created "
                         L"PRIMITIVE CPrioritySetter_CPU");
        break;
    case eType_CPU_NativeBackground:
        spSetter = CPrioritySetterRef(new CPrioritySetter_CPU_Native(info.eValueType, false));
        TraceInformation(L"JX::CProcessPrioritySetterMgr::CPrioritySetterFactory::operator ()(623) : Created "
                         L"PRIMITIVE CPrioritySetter_CPU_Native");
        break;
    case eType_CPU_NativeForeground:
        spSetter = CPrioritySetterRef(new CPrioritySetter_CPU_Native(info.eValueType, true));
        TraceInformation(L"JX::CProcessPrioritySetterMgr::CPrioritySetterFactory::operator ()(630) : Created "
                         L"PRIMITIVE CPrioritySetter_CPU_Native");
        break;
    case eType_IO:
        spSetter = CPrioritySetterRef(new CPrioritySetter_IO(info.eValueType));
        TraceInformation(L"JX::CProcessPrioritySetterMgr::CPrioritySetterFactory::operator ()(637) : Created "
                         L"PRIMITIVE CPrioritySetter_IO");
        break;
    case eType_Page:
        spSetter = CPrioritySetterRef(new CPrioritySetter_Page(info.eValueType));
        TraceInformation(L"JX::CProcessPrioritySetterMgr::CPrioritySetterFactory::operator ()(644) : Created "
                         L"PRIMITIVE CPrioritySetter_Page");
        break;
    default:
        throw std::invalid_argument("CPrioritySetterFactory::operator ()(CProcessPrioritySetterMgr::eType)");
    }
    TraceInformation(L"JX::CProcessPrioritySetterMgr::CPrioritySetterFactory::operator ()(654) : Create the primitive "
                     L"based on identifier DONE");
    return spSetter;
}

}  // namespace JX
