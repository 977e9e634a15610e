// The calls the priority setters and the manager's worker make into the system: reading and
// setting the priority class, the native process information call and the wait between
// passes. Tests replace them to drive the retry loop and its time limit without real waits.
#pragma once
#include <windows.h>

namespace JX {

class CPrioritySystemCalls
{
public:
    virtual ~CPrioritySystemCalls() = default;

    virtual DWORD GetPriorityClass(HANDLE hProcess);
    virtual BOOL SetPriorityClass(HANDLE hProcess, DWORD dwPriorityClass);
    // The native set call (through ntdll); 0 for success.
    virtual LONG SetInformationProcess(HANDLE hProcess, ULONG ulInformationClass, void* pBuffer, ULONG cbBuffer);
    // Waits at most dwMs for the stop event; true when it is set.
    virtual bool WaitForStop(HANDLE hStopEvent, DWORD dwMs);

    // The calls of the running system.
    static CPrioritySystemCalls& System();
};

}  // namespace JX
