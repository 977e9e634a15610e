// A worker thread object: Create starts the virtual Run on a new thread. A manual stop event
// tells Run to end; the owner asks for a stop and waits on the thread's handle.
#pragma once
#include <windows.h>

class CThread
{
public:
    CThread();
    // Requests a stop and waits without limit. A derived class whose Run uses its own members
    // must stop and wait in its own destructor, before those members are gone.
    virtual ~CThread();

    CThread(const CThread&) = delete;
    CThread& operator=(const CThread&) = delete;

    // Starts Run on a new thread. Fails (last error set) while an earlier thread still runs.
    // A new thread gets a cleared stop event.
    bool Create(LPSECURITY_ATTRIBUTES pSecurity, SIZE_T cbStack, DWORD dwCreationFlags);

    // Sets the stop event; resumes the thread first when it was created suspended.
    void RequestStop();
    bool IsStopRequested() const;
    HANDLE GetStopEvent() const { return m_hStopEvent; }

    DWORD Resume();
    bool IsSuspended() const { return m_bSuspended; }

    // True while the thread handle is valid and the thread has not ended.
    bool IsRunning() const;
    // Waits on the thread's handle; WAIT_FAILED when no thread was created.
    DWORD Wait(DWORD dwTimeoutMs) const;
    HANDLE GetHandle() const { return m_hThread; }
    DWORD GetThreadId() const { return m_dwThreadId; }

protected:
    // The thread's work; its result becomes the thread's exit code.
    virtual DWORD Run() = 0;

private:
    static DWORD WINAPI ThreadProc(LPVOID pParam);
    void CloseThreadHandle();

    HANDLE m_hThread = nullptr;
    HANDLE m_hStopEvent = nullptr;
    DWORD m_dwThreadId = 0;
    bool m_bSuspended = false;
};
