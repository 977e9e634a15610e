// The priority manager a program uses on itself at start: each setter restores the normal
// level of its kind, and the whole mechanism runs only where the system supports it.
#pragma once
#include <windows.h>

#include "jxProcessPrioritySetterMgr.h"

namespace JX {

class CProcessStartupPriorityMgr : public CProcessPrioritySetterMgr
{
public:
    class CConfiguration
    {
    public:
        static constexpr DWORD kRetryFrequencyMs = 200;
        static constexpr DWORD kRetryTimeoutMs = 300000;

        // The fixed values: enabled on Windows Vista or later, 200 ms, 300000 ms.
        void Initialize();
        // The same with the values given (tests, other systems); logs the configuration line.
        void Initialize(bool bEnabled, DWORD dwRetryFrequencyMs, DWORD dwRetryTimeoutMs);

        bool GetEnabled() const { return m_bEnabled; }
        DWORD GetRetryFrequency() const { return m_dwRetryFrequencyMs; }
        DWORD GetRetryTimeout() const { return m_dwRetryTimeoutMs; }

    private:
        bool m_bEnabled = false;
        DWORD m_dwRetryFrequencyMs = kRetryFrequencyMs;
        DWORD m_dwRetryTimeoutMs = kRetryTimeoutMs;
    };

    // Until Initialize the configuration is disabled. Without calls the system's are used.
    explicit CProcessStartupPriorityMgr(CPrioritySystemCalls* pCalls = nullptr);
    ~CProcessStartupPriorityMgr() override;

    CConfiguration& GetConfiguration() { return m_cfg; }

    // Adds the setter of this kind with the normal value of its kind; true and nothing added
    // when disabled.
    bool AddPrioritySetter(DWORD dwType);
    // Starts on the process with the configured frequency and timeout; true when disabled.
    bool Start(HANDLE hProcess);
    // Asks the worker to end and waits for it without limit.
    void Stop();

    // The normal value of a setter kind; 0 (refused by the base) for an unknown kind.
    static DWORD getNormalValue(DWORD dwType);

private:
    CConfiguration m_cfg;
};

}  // namespace JX
