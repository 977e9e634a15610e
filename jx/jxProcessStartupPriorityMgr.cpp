#include "jxProcessStartupPriorityMgr.h"

#include "kqSystemInfo.h"
#include "kqTrace.h"

namespace JX {

void CProcessStartupPriorityMgr::CConfiguration::Initialize()
{
    Initialize(IsWindowsVistaOrLater(), kRetryFrequencyMs, kRetryTimeoutMs);
}

void CProcessStartupPriorityMgr::CConfiguration::Initialize(bool bEnabled, DWORD dwRetryFrequencyMs,
                                                            DWORD dwRetryTimeoutMs)
{
    m_bEnabled = bEnabled;
    m_dwRetryFrequencyMs = dwRetryFrequencyMs;
    m_dwRetryTimeoutMs = dwRetryTimeoutMs;
    TraceInformation(L"JX::CProcessStartupPriorityMgr::CConfiguration::Initialize(1285) : CConfiguration: Enabled - "
                     L"%i , Retry frequency - %lu, Retry timeout - %lu",
                     m_bEnabled ? 1 : 0, static_cast<unsigned long>(m_dwRetryFrequencyMs),
                     static_cast<unsigned long>(m_dwRetryTimeoutMs));
}

CProcessStartupPriorityMgr::CProcessStartupPriorityMgr(CPrioritySystemCalls* pCalls)
    : CProcessPrioritySetterMgr(pCalls)
{
}

CProcessStartupPriorityMgr::~CProcessStartupPriorityMgr()
{
    Stop();
}

DWORD CProcessStartupPriorityMgr::getNormalValue(DWORD dwType)
{
    switch (dwType) {
    case eType_CPU:
    case eType_CPU_NativeBackground:
    case eType_CPU_NativeForeground:
        return eValueType_CPU_Normal;
    case eType_IO:
        return eValueType_IO_Normal;
    case eType_Page:
        return eValueType_Page_Normal;
    default:
        TraceError(L"JX::CProcessStartupPriorityMgr::getNormalValue(1268) : Unrecognized priority setter!");
        return 0;
    }
}

bool CProcessStartupPriorityMgr::AddPrioritySetter(DWORD dwType)
{
    if (!m_cfg.GetEnabled()) {
        TraceInformation(L"JX::CProcessStartupPriorityMgr::AddPrioritySetter(1142) : !m_cfg.GetEnabled()");
        return true;
    }
    return CProcessPrioritySetterMgr::AddPrioritySetter(getNormalValue(dwType), dwType);
}

bool CProcessStartupPriorityMgr::Start(HANDLE hProcess)
{
    if (!m_cfg.GetEnabled()) {
        TraceInformation(L"JX::CProcessStartupPriorityMgr::Start(1161) : !m_cfg.GetEnabled()");
        return true;
    }
    return CProcessPrioritySetterMgr::Start(hProcess, m_cfg.GetRetryFrequency(), m_cfg.GetRetryTimeout());
}

void CProcessStartupPriorityMgr::Stop()
{
    if (!m_cfg.GetEnabled()) {
        TraceInformation(L"JX::CProcessStartupPriorityMgr::Stop(1209) : !m_cfg.GetEnabled()");
        return;
    }
    CProcessPrioritySetterMgr::Stop();
    TraceInformation(L"JX::CProcessStartupPriorityMgr::Stop(1219) : WaitForExit(INFINITE) BEGIN");
    WaitForWorker();
    TraceInformation(L"JX::CProcessStartupPriorityMgr::Stop(1221) : WaitForExit(INFINITE) END");
}

}  // namespace JX
