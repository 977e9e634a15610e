#include "kqDumpServiceControl.h"

#include <cwchar>

const wchar_t CDumpServiceControl::kServiceName[] = L"kqDmpSvc";

CDumpServiceControl::~CDumpServiceControl()
{
    Close();
}

std::vector<std::wstring> CDumpServiceControl::BuildArguments(DWORD dwProcessId, DWORD dwThreadId,
                                                              const void* pExceptionPointers)
{
    wchar_t szProcess[16], szThread[16], szBits[8], szPointers[32];
    swprintf(szProcess, ARRAYSIZE(szProcess), L"%d", static_cast<int>(dwProcessId));
    swprintf(szThread, ARRAYSIZE(szThread), L"%d", static_cast<int>(dwThreadId));
    // The service reads the pointers in an image of this bitness ("32" for the shipped program).
    swprintf(szBits, ARRAYSIZE(szBits), L"%d", static_cast<int>(sizeof(void*) * 8));
    swprintf(szPointers, ARRAYSIZE(szPointers), L"%p", pExceptionPointers);
    return {szProcess, szThread, szBits, szPointers};
}

DWORD CDumpServiceControl::PollInterval(DWORD dwWaitHint)
{
    DWORD dwMs = dwWaitHint / 10;
    if (dwMs < 1000)
        return 1000;
    if (dwMs > 10000)
        return 10000;
    return dwMs;
}

bool CDumpServiceControl::RequestDump(DWORD dwProcessId, DWORD dwThreadId, const void* pExceptionPointers)
{
    bool bDone = false;
    try {
        SERVICE_STATUS status = {};
        // A service that is running already is busy with another process: leave it alone.
        if (Open() && QueryStatus(status) && status.dwCurrentState == SERVICE_STOPPED &&
            Start(BuildArguments(dwProcessId, dwThreadId, pExceptionPointers))) {
            const DWORD dwStart = TickCount();
            Sleep(kFirstWaitMs);
            while (QueryStatus(status)) {
                if (status.dwCurrentState == SERVICE_STOPPED) {
                    // Only a clean stop with exit code 0 means the dump was written.
                    bDone = status.dwServiceSpecificExitCode == 0 &&
                            (status.dwWin32ExitCode == NO_ERROR ||
                             status.dwWin32ExitCode == ERROR_SERVICE_SPECIFIC_ERROR);
                    break;
                }
                if (TickCount() - dwStart >= kTimeLimitMs)
                    break;
                Sleep(PollInterval(status.dwWaitHint));
            }
        }
    } catch (...) {
        bDone = false;
    }
    Close();
    return bDone;
}

bool CDumpServiceControl::Open()
{
    Close();
    m_hManager = OpenSCManagerW(nullptr, L"ServicesActive", SC_MANAGER_CONNECT);
    if (!m_hManager)
        return false;
    m_hService = OpenServiceW(m_hManager, kServiceName, SERVICE_QUERY_STATUS | SERVICE_START);
    return m_hService != nullptr;
}

void CDumpServiceControl::Close()
{
    if (m_hService)
        CloseServiceHandle(m_hService);
    if (m_hManager)
        CloseServiceHandle(m_hManager);
    m_hService = nullptr;
    m_hManager = nullptr;
}

bool CDumpServiceControl::QueryStatus(SERVICE_STATUS& status)
{
    return m_hService && QueryServiceStatus(m_hService, &status);
}

bool CDumpServiceControl::Start(const std::vector<std::wstring>& vecArguments)
{
    std::vector<const wchar_t*> vecPointers;
    for (const std::wstring& strArgument : vecArguments)
        vecPointers.push_back(strArgument.c_str());
    return m_hService &&
           StartServiceW(m_hService, static_cast<DWORD>(vecPointers.size()), vecPointers.data());
}

void CDumpServiceControl::Sleep(DWORD dwMs)
{
    ::Sleep(dwMs);
}

DWORD CDumpServiceControl::TickCount()
{
    return GetTickCount();
}
