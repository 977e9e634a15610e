#include "jxPrioritySystemCalls.h"

#include "jxNativeProcessInfo.h"

namespace JX {

DWORD CPrioritySystemCalls::GetPriorityClass(HANDLE hProcess)
{
    return ::GetPriorityClass(hProcess);
}

BOOL CPrioritySystemCalls::SetPriorityClass(HANDLE hProcess, DWORD dwPriorityClass)
{
    return ::SetPriorityClass(hProcess, dwPriorityClass);
}

LONG CPrioritySystemCalls::SetInformationProcess(HANDLE hProcess, ULONG ulInformationClass, void* pBuffer,
                                                 ULONG cbBuffer)
{
    return CProcessPrioritySetterMgr::CNativeProcessInfo::Instance().SetInformationProcess(
        hProcess, ulInformationClass, pBuffer, cbBuffer);
}

bool CPrioritySystemCalls::WaitForStop(HANDLE hStopEvent, DWORD dwMs)
{
    return WaitForSingleObject(hStopEvent, dwMs) == WAIT_OBJECT_0;
}

CPrioritySystemCalls& CPrioritySystemCalls::System()
{
    static CPrioritySystemCalls s_calls;
    return s_calls;
}

}  // namespace JX
