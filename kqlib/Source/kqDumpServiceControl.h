// Asks the out-of-process dump service "kqDmpSvc" to dump this process: starts it only when it
// is stopped, then waits until it has stopped again or ten minutes have passed. The service
// itself is not part of this library; the calls into the service control manager and the
// clock are virtual so that the start and wait rules can be checked without it.
#pragma once
#include <windows.h>
#include <string>
#include <vector>

class CDumpServiceControl
{
public:
    static const wchar_t kServiceName[];
    static const DWORD kFirstWaitMs = 1000;
    static const DWORD kTimeLimitMs = 600000;

    CDumpServiceControl() = default;
    virtual ~CDumpServiceControl();
    CDumpServiceControl(const CDumpServiceControl&) = delete;
    CDumpServiceControl& operator=(const CDumpServiceControl&) = delete;

    // True when the service ended stopped with a service-specific exit code of 0.
    bool RequestDump(DWORD dwProcessId, DWORD dwThreadId, const void* pExceptionPointers);

    // The four start arguments: process id, thread id, the bitness of the pointers, the
    // address of the exception pointers.
    static std::vector<std::wstring> BuildArguments(DWORD dwProcessId, DWORD dwThreadId,
                                                    const void* pExceptionPointers);
    // A tenth of the wait hint, kept within 1000..10000 ms.
    static DWORD PollInterval(DWORD dwWaitHint);

protected:
    virtual bool Open();
    virtual void Close();
    virtual bool QueryStatus(SERVICE_STATUS& status);
    virtual bool Start(const std::vector<std::wstring>& vecArguments);
    virtual void Sleep(DWORD dwMs);
    virtual DWORD TickCount();

private:
    SC_HANDLE m_hManager = nullptr;
    SC_HANDLE m_hService = nullptr;
};
