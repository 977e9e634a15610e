#include "kqThread.h"

CThread::CThread() : m_hStopEvent(CreateEventW(nullptr, TRUE, FALSE, nullptr)) {}

CThread::~CThread()
{
    RequestStop();
    Wait(INFINITE);
    CloseThreadHandle();
    if (m_hStopEvent)
        CloseHandle(m_hStopEvent);
}

DWORD WINAPI CThread::ThreadProc(LPVOID pParam)
{
    return static_cast<CThread*>(pParam)->Run();
}

bool CThread::Create(LPSECURITY_ATTRIBUTES pSecurity, SIZE_T cbStack, DWORD dwCreationFlags)
{
    if (IsRunning()) {
        SetLastError(ERROR_BUSY);
        return false;
    }
    if (!m_hStopEvent) {
        m_hStopEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
        if (!m_hStopEvent)
            return false;
    }
    CloseThreadHandle();
    ResetEvent(m_hStopEvent);
    DWORD dwThreadId = 0;
    HANDLE hThread = CreateThread(pSecurity, cbStack, ThreadProc, this, dwCreationFlags, &dwThreadId);
    if (!hThread)
        return false;
    m_hThread = hThread;
    m_dwThreadId = dwThreadId;
    m_bSuspended = (dwCreationFlags & CREATE_SUSPENDED) != 0;
    return true;
}

void CThread::RequestStop()
{
    // A suspended thread could never see the event.
    if (m_bSuspended)
        Resume();
    if (m_hStopEvent)
        SetEvent(m_hStopEvent);
}

bool CThread::IsStopRequested() const
{
    return m_hStopEvent && WaitForSingleObject(m_hStopEvent, 0) == WAIT_OBJECT_0;
}

DWORD CThread::Resume()
{
    if (!m_hThread)
        return static_cast<DWORD>(-1);
    DWORD dwPrevious = ResumeThread(m_hThread);
    if (dwPrevious != static_cast<DWORD>(-1) && dwPrevious <= 1)
        m_bSuspended = false;
    return dwPrevious;
}

bool CThread::IsRunning() const
{
    return m_hThread && WaitForSingleObject(m_hThread, 0) == WAIT_TIMEOUT;
}

DWORD CThread::Wait(DWORD dwTimeoutMs) const
{
    if (!m_hThread)
        return WAIT_FAILED;
    return WaitForSingleObject(m_hThread, dwTimeoutMs);
}

void CThread::CloseThreadHandle()
{
    if (m_hThread) {
        CloseHandle(m_hThread);
        m_hThread = nullptr;
    }
    m_dwThreadId = 0;
    m_bSuspended = false;
}
