// Puts a process's CPU, I/O and memory-page priorities to chosen values and keeps trying from
// a worker thread until every change has taken effect, a time limit runs out or it is told
// to stop. A process started by a scheduler or a service often inherits low priorities.
#pragma once
#include <windows.h>
#include <vector>

#include "kqCriticalSection.h"
#include "kqScopedHandle.h"
#include "kqThread.h"

namespace JX {

class CPrioritySystemCalls;

class CProcessPrioritySetterMgr : private CThread
{
public:
    // Which setter makes a change.
    enum eType : DWORD
    {
        eType_CPU = 1,                  // priority class through the documented calls, raise only
        eType_CPU_NativeBackground = 2, // priority class through the native call, foreground flag clear
        eType_CPU_NativeForeground = 3, // the same with the foreground flag set
        eType_IO = 4,                   // I/O priority
        eType_Page = 5,                 // memory-page priority
    };

    // Which value a setter applies.
    enum eValueType : DWORD
    {
        eValueType_CPU_Idle = 1,
        eValueType_CPU_BelowNormal = 2,
        eValueType_CPU_Normal = 3,
        eValueType_CPU_AboveNormal = 4,
        eValueType_CPU_High = 5,
        eValueType_CPU_Realtime = 6,
        eValueType_IO_VeryLow = 7,
        eValueType_IO_Low = 8,
        eValueType_IO_Normal = 9,
        eValueType_IO_High = 10,
        eValueType_IO_Critical = 11,
        eValueType_Page_Normal = 12,
    };

    enum eResult : DWORD
    {
        eResult_NotRun = 0,
        eResult_Running = 1,
        eResult_Incomplete = 2,  // failure, time limit or stop request
        eResult_Succeeded = 3,
    };

    struct PrioritySetterInfo
    {
        DWORD eType;
        DWORD eValueType;
    };

    class CPrioritySetter;
    class CPrioritySetterRef;
    class CPrioritySetter_CPU;
    class CPrioritySetter_CPU_Native;
    class CPrioritySetter_IO;
    class CPrioritySetter_Page;
    class CPrioritySetterFactory;
    class CNativeProcessInfo;

    // Without calls the running system's are used; tests pass their own.
    explicit CProcessPrioritySetterMgr(CPrioritySystemCalls* pCalls = nullptr);
    ~CProcessPrioritySetterMgr() override;

    static bool IsValidPair(DWORD dwValueType, DWORD dwType);

    bool AddPrioritySetter(DWORD dwValueType, DWORD dwType);
    // Works on a duplicate of the handle with query and set-information rights only.
    bool Start(HANDLE hProcess, DWORD dwRetryFrequencyMs, DWORD dwRetryTimeoutMs);
    // Asks the worker to end; does not wait.
    void Stop();
    bool IsRunning();
    // Waits until the worker has ended: WAIT_OBJECT_0, WAIT_TIMEOUT, or WAIT_FAILED without a thread.
    DWORD Lock(DWORD dwTimeoutMs);
    DWORD GetResult();

    // For the setters, on the worker thread.
    HANDLE GetProcessHandle() const { return m_hProcess.Get(); }
    CPrioritySystemCalls& Calls() const { return *m_pCalls; }

protected:
    // Waits for the worker without limit, for the destructors.
    void WaitForWorker() { Wait(INFINITE); }

private:

    DWORD Run() override;
    bool start(HANDLE hDuplicate, DWORD dwRetryFrequencyMs, DWORD dwRetryTimeoutMs);
    bool BuildSetters(std::vector<CPrioritySetterRef>& vecSetters);
    DWORD RunPasses(std::vector<CPrioritySetterRef>& vecSetters);

    CCriticalSection m_lock;
    std::vector<PrioritySetterInfo> m_vecInfos;
    CScopedHandle m_hProcess;
    DWORD m_dwRetryFrequencyMs = 0;
    DWORD m_dwRetryTimeoutMs = 0;
    DWORD m_dwResult = eResult_NotRun;
    CPrioritySystemCalls* m_pCalls;
};

}  // namespace JX
