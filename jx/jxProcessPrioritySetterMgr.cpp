#include "jxProcessPrioritySetterMgr.h"

#include <new>
#include <stdexcept>

#include "jxPrioritySetterFactory.h"
#include "jxPrioritySystemCalls.h"
#include "kqTrace.h"

namespace JX {


CProcessPrioritySetterMgr::CProcessPrioritySetterMgr(CPrioritySystemCalls* pCalls)
    : m_pCalls(pCalls ? pCalls : &CPrioritySystemCalls::System())
{
}

CProcessPrioritySetterMgr::~CProcessPrioritySetterMgr()
{
    // The worker uses this object's members: it must have ended before they go.
    if (IsRunning()) {
        Stop();
        TraceInformation(L"JX::CProcessPrioritySetterMgr::~CProcessPrioritySetterMgr(1019) : WaitForExit(INFINITE) "
                         L"BEGIN");
        Wait(INFINITE);
        TraceInformation(L"JX::CProcessPrioritySetterMgr::~CProcessPrioritySetterMgr(1021) : WaitForExit(INFINITE) "
                         L"END");
    }
    m_hProcess.Close();
}

bool CProcessPrioritySetterMgr::IsValidPair(DWORD dwValueType, DWORD dwType)
{
    switch (dwType) {
    case eType_CPU:
    case eType_CPU_NativeBackground:
    case eType_CPU_NativeForeground:
        return dwValueType >= eValueType_CPU_Idle && dwValueType <= eValueType_CPU_Realtime;
    case eType_IO:
        return dwValueType >= eValueType_IO_VeryLow && dwValueType <= eValueType_IO_Critical;
    case eType_Page:
        return dwValueType == eValueType_Page_Normal;
    default:
        return false;
    }
}

bool CProcessPrioritySetterMgr::AddPrioritySetter(DWORD dwValueType, DWORD dwType)
{
    if (!IsValidPair(dwValueType, dwType)) {
        TraceError(L"JX::CProcessPrioritySetterMgr::AddPrioritySetter(678) : Invalid args");
        return false;
    }
    CAutoLock lock(m_lock);
    if (IsRunning()) {
        TraceError(L"JX::CProcessPrioritySetterMgr::AddPrioritySetter(688) : Already started!");
        return false;
    }
    try {
        m_vecInfos.push_back(PrioritySetterInfo{dwType, dwValueType});
    } catch (const std::bad_alloc&) {
        TraceError(L"JX::CProcessPrioritySetterMgr::AddPrioritySetter(%d) : Out of memory", __LINE__);
        return false;
    }
    return true;
}

bool CProcessPrioritySetterMgr::Start(HANDLE hProcess, DWORD dwRetryFrequencyMs, DWORD dwRetryTimeoutMs)
{
    // The pass count divides by the frequency.
    if (dwRetryFrequencyMs == 0) {
        TraceError(L"JX::CProcessPrioritySetterMgr::Start(%d) : Invalid args, retry frequency 0", __LINE__);
        return false;
    }
    HANDLE hDuplicate = nullptr;
    if (!DuplicateHandle(GetCurrentProcess(), hProcess, GetCurrentProcess(), &hDuplicate,
                         PROCESS_QUERY_INFORMATION | PROCESS_SET_INFORMATION, FALSE, 0)) {
        TraceError(L"JX::CProcessPrioritySetterMgr::Start(763) : DuplicateHandle(...) == FALSE, last error 0x%08x",
                   GetLastError());
        return false;
    }
    return start(hDuplicate, dwRetryFrequencyMs, dwRetryTimeoutMs);
}

bool CProcessPrioritySetterMgr::start(HANDLE hDuplicate, DWORD dwRetryFrequencyMs, DWORD dwRetryTimeoutMs)
{
    CAutoLock lock(m_lock);
    if (IsRunning()) {
        TraceError(L"JX::CProcessPrioritySetterMgr::start(1068) : Already started!");
        CloseHandle(hDuplicate);
        return false;
    }
    m_hProcess.Attach(hDuplicate);
    m_dwRetryFrequencyMs = dwRetryFrequencyMs;
    m_dwRetryTimeoutMs = dwRetryTimeoutMs;
    // Seen as running from here on, also before the worker's first line.
    const DWORD dwPreviousResult = m_dwResult;
    m_dwResult = eResult_Running;
    if (!Create(nullptr, 0, 0)) {
        const DWORD dwError = GetLastError();
        TraceError(L"JX::CProcessPrioritySetterMgr::start(1086) : Create(NULL, 0, 0) == FALSE, last error 0x%08x",
                   dwError);
        m_hProcess.Close();
        m_dwResult = dwPreviousResult;
        return false;
    }
    TraceInformation(L"JX::CProcessPrioritySetterMgr::start(1092) : Successfully started!");
    return true;
}

void CProcessPrioritySetterMgr::Stop()
{
    TraceInformation(L"JX::CProcessPrioritySetterMgr::Stop(791) : Entered");
    {
        CAutoLock lock(m_lock);
        if (!IsRunning()) {
            TraceWarning(L"JX::CProcessPrioritySetterMgr::Stop(800) : No running thread to stop");
        } else if (!IsStopRequested()) {
            RequestStop();
            TraceInformation(L"JX::CProcessPrioritySetterMgr::Stop(809) : Requested thread termination");
        }
    }
    TraceInformation(L"JX::CProcessPrioritySetterMgr::Stop(814) : Exiting");
}

bool CProcessPrioritySetterMgr::IsRunning()
{
    CAutoLock lock(m_lock);
    return CThread::IsRunning();
}

DWORD CProcessPrioritySetterMgr::Lock(DWORD dwTimeoutMs)
{
    if (GetHandle() == nullptr) {
        TraceError(L"JX::CProcessPrioritySetterMgr::Lock(971) : GetHandle() == NULL");
        return WAIT_FAILED;
    }
    return Wait(dwTimeoutMs);
}

DWORD CProcessPrioritySetterMgr::GetResult()
{
    CAutoLock lock(m_lock);
    return m_dwResult;
}

bool CProcessPrioritySetterMgr::BuildSetters(std::vector<CPrioritySetterRef>& vecSetters)
{
    try {
        CPrioritySetterFactory factory;
        vecSetters.reserve(m_vecInfos.size());
        for (const PrioritySetterInfo& info : m_vecInfos)
            vecSetters.push_back(factory(info));
        return true;
    } catch (const std::bad_alloc&) {
        TraceError(L"JX::CProcessPrioritySetterMgr::Run(%d) : Out of memory building priority setters", __LINE__);
    } catch (const std::invalid_argument& e) {
        TraceError(L"JX::CProcessPrioritySetterMgr::Run(%d) : Invalid argument building priority setters: %hs",
                   __LINE__, e.what());
    }
    vecSetters.clear();
    return false;
}

DWORD CProcessPrioritySetterMgr::RunPasses(std::vector<CPrioritySetterRef>& vecSetters)
{
    // 64 bits: a timeout of 0xFFFFFFFF with a frequency of 1 gives 2^32 passes.
    const ULONGLONG ullPasses = static_cast<ULONGLONG>(m_dwRetryTimeoutMs / m_dwRetryFrequencyMs) + 1;
    const HANDLE hStop = GetStopEvent();
    for (ULONGLONG ullPass = 0;; ++ullPass) {
        for (auto it = vecSetters.begin(); it != vecSetters.end() && !IsStopRequested();) {
            if ((*it)->Apply(*this)) {
                TraceInformation(L"JX::CProcessPrioritySetterMgr::Run(898) : Priority setter succeeded.");
                it = vecSetters.erase(it);
            } else {
                TraceWarning(L"JX::CProcessPrioritySetterMgr::Run(904) : Priority setter needs to be retried.  Move "
                             L"on to next setter.");
                ++it;
            }
        }
        if (vecSetters.empty()) {
            TraceInformation(L"JX::CProcessPrioritySetterMgr::Run(914) : All priority setters succeeded.");
            return eResult_Succeeded;
        }
        TraceInformation(L"JX::CProcessPrioritySetterMgr::Run(919) : Waiting on stop signal for %lu milliseconds, "
                         L"%lu of %lu",
                         static_cast<unsigned long>(m_dwRetryFrequencyMs), static_cast<unsigned long>(ullPass),
                         static_cast<unsigned long>(ullPasses));
        if (m_pCalls->WaitForStop(hStop, m_dwRetryFrequencyMs)) {
            TraceWarning(L"JX::CProcessPrioritySetterMgr::Run(924) : Terminate signalled received prior to "
                         L"successfully applying all priority setters!");
            return eResult_Incomplete;
        }
        if (ullPass + 1 >= ullPasses)
            return eResult_Incomplete;
    }
}

DWORD CProcessPrioritySetterMgr::Run()
{
    TraceInformation(L"JX::CProcessPrioritySetterMgr::Run(832) : Entered");
    std::vector<CPrioritySetterRef> vecSetters;
    DWORD dwResult = eResult_Incomplete;
    bool bBuilt = false;
    {
        CAutoLock lock(m_lock);
        m_dwResult = eResult_Running;
        if (!m_hProcess.IsHandle()) {
            TraceError(L"JX::CProcessPrioritySetterMgr::Run(857) : !m_hProcess.IsHandle()");
        } else {
            bBuilt = BuildSetters(vecSetters);
            if (bBuilt)
                TraceInformation(L"JX::CProcessPrioritySetterMgr::Run(864) : Filled priority setters collection...");
        }
    }
    if (bBuilt)
        dwResult = RunPasses(vecSetters);

    vecSetters.clear();
    CAutoLock lock(m_lock);
    m_dwResult = dwResult;
    TraceInformation(L"JX::CProcessPrioritySetterMgr::Run(952) : Result updated to 0x%08x", dwResult);
    TraceInformation(L"JX::CProcessPrioritySetterMgr::Run(955) : Closing process handle 0x%08x",
                     HandleToULong(m_hProcess.Get()));
    m_hProcess.Close();
    TraceInformation(L"JX::CProcessPrioritySetterMgr::Run(959) : Exiting");
    return dwResult;
}

}  // namespace JX
