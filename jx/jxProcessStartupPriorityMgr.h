// Puts the process's CPU, I/O and page priorities back to normal at start.
// This first form only records its configuration and reports success; the worker that
// retries the changes is added with the priority setters.
#pragma once
#include <windows.h>

namespace JX {

enum PrioritySetterKind
{
    ePrioritySetter_CpuPriorityClass = 1,
    ePrioritySetter_IoPriority = 4,
    ePrioritySetter_PagePriority = 5,
};

class CProcessStartupPriorityMgr
{
public:
    class CConfiguration
    {
    public:
        void Initialize(bool bEnabled, DWORD dwRetryFrequencyMs, DWORD dwRetryTimeoutMs)
        {
            m_bEnabled = bEnabled;
            m_dwRetryFrequencyMs = dwRetryFrequencyMs;
            m_dwRetryTimeoutMs = dwRetryTimeoutMs;
        }
        bool GetEnabled() const { return m_bEnabled; }
        DWORD GetRetryFrequency() const { return m_dwRetryFrequencyMs; }
        DWORD GetRetryTimeout() const { return m_dwRetryTimeoutMs; }

    private:
        bool m_bEnabled = false;
        DWORD m_dwRetryFrequencyMs = 0;
        DWORD m_dwRetryTimeoutMs = 0;
    };

    CConfiguration& GetConfiguration() { return m_cfg; }
    bool AddPrioritySetter(DWORD /*dwKind*/) { return true; }
    bool Start(HANDLE /*hProcess*/) { return true; }
    void Stop() {}

private:
    CConfiguration m_cfg;
};

}  // namespace JX
