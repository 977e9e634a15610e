// Priority system calls for tests: a virtual clock for the waits between passes, scripted
// answers for the setters, and a gate that holds the worker at a chosen pass.
#pragma once
#include <windows.h>

#include <map>
#include <mutex>
#include <vector>

#include "jxPrioritySystemCalls.h"

class CFakePrioritySystemCalls : public JX::CPrioritySystemCalls
{
public:
    CFakePrioritySystemCalls()
        : m_hReachedGate(CreateEventW(nullptr, TRUE, FALSE, nullptr))
    {
    }
    ~CFakePrioritySystemCalls() override { CloseHandle(m_hReachedGate); }

    DWORD GetPriorityClass(HANDLE) override
    {
        std::lock_guard<std::mutex> guard(m_lock);
        ++m_nGetClassCalls;
        if (m_dwGetClassError) {
            SetLastError(m_dwGetClassError);
            return 0;
        }
        return m_dwClass;
    }

    BOOL SetPriorityClass(HANDLE, DWORD dwClass) override
    {
        std::lock_guard<std::mutex> guard(m_lock);
        m_vecSetClass.push_back(dwClass);
        if (m_dwSetClassError) {
            SetLastError(m_dwSetClassError);
            return FALSE;
        }
        // A system that stores another class than the one asked for.
        m_dwClass = m_dwStoredClassOverride ? m_dwStoredClassOverride : dwClass;
        return TRUE;
    }

    LONG SetInformationProcess(HANDLE, ULONG ulClass, void* pBuffer, ULONG cbBuffer) override
    {
        std::lock_guard<std::mutex> guard(m_lock);
        const BYTE* pb = static_cast<const BYTE*>(pBuffer);
        m_mapBuffers[ulClass].assign(pb, pb + cbBuffer);
        int& nCalls = m_mapCalls[ulClass];
        ++nCalls;
        auto it = m_mapFailuresLeft.find(ulClass);
        if (it != m_mapFailuresLeft.end() && (it->second < 0 || nCalls <= it->second))
            return static_cast<LONG>(0xC0000002);  // STATUS_NOT_IMPLEMENTED
        return 0;
    }

    bool WaitForStop(HANDLE hStopEvent, DWORD dwMs) override
    {
        int nWait;
        {
            std::lock_guard<std::mutex> guard(m_lock);
            nWait = m_nWaits++;
            m_ullVirtualMs += dwMs;
        }
        if (nWait == m_nGateAtWait) {
            // Hold the worker here until the test has asked for a stop.
            SetEvent(m_hReachedGate);
            return WaitForSingleObject(hStopEvent, 60000) == WAIT_OBJECT_0;
        }
        return WaitForSingleObject(hStopEvent, 0) == WAIT_OBJECT_0;
    }

    // Scripting (before Start).
    // Fails the native call of this class for its first nTimes calls; -1 for ever.
    void FailInformationClass(ULONG ulClass, int nTimes) { m_mapFailuresLeft[ulClass] = nTimes; }
    void SetCurrentClass(DWORD dwClass) { m_dwClass = dwClass; }
    void SetGateAtWait(int nWait) { m_nGateAtWait = nWait; }

    // Results (after the worker has ended).
    bool WaitForGate(DWORD dwMs) { return WaitForSingleObject(m_hReachedGate, dwMs) == WAIT_OBJECT_0; }
    int Calls(ULONG ulClass) { return m_mapCalls[ulClass]; }
    std::vector<BYTE> Buffer(ULONG ulClass) { return m_mapBuffers[ulClass]; }
    int Waits() const { return m_nWaits; }
    ULONGLONG VirtualMs() const { return m_ullVirtualMs; }

    std::mutex m_lock;
    DWORD m_dwClass = NORMAL_PRIORITY_CLASS;
    DWORD m_dwGetClassError = 0;
    DWORD m_dwSetClassError = 0;
    DWORD m_dwStoredClassOverride = 0;
    int m_nGetClassCalls = 0;
    std::vector<DWORD> m_vecSetClass;

private:
    HANDLE m_hReachedGate;
    std::map<ULONG, int> m_mapCalls;
    std::map<ULONG, int> m_mapFailuresLeft;
    std::map<ULONG, std::vector<BYTE>> m_mapBuffers;
    int m_nWaits = 0;
    int m_nGateAtWait = -1;
    ULONGLONG m_ullVirtualMs = 0;
};
