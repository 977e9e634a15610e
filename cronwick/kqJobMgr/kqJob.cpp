#include "kqJob.h"

#include <new>
#include "kqJobSchedule.h"
#include "kqTrace.h"

IObjectBase* CJob::Create()
{
    try
    {
        return static_cast<IJob*>(new CJob(std::make_shared<CJobRecord>()));
    }
    catch (const std::bad_alloc&)
    {
        TraceError(L"CJob::Create(%d) : out of memory", __LINE__);
        return nullptr;
    }
}

HRESULT CJob::QueryInterface(const GUID& riid, void** ppObject)
{
    if (!ppObject)
        return KQERR_INVALIDARG;
    if (riid == IObjectBase::kIid || riid == IJob::kIid)
        return AnswerInterface(static_cast<IJob*>(this), ppObject);
    return RefuseInterface(ppObject);
}

HRESULT CJob::GetSchedule(ISchedule** ppSchedule)
{
    if (!ppSchedule)
        return KQERR_INVALIDARG;
    *ppSchedule = nullptr;
    std::lock_guard<std::mutex> guard(m_lock);
    if (!m_spSchedule)
    {
        ISchedule* pSchedule = new (std::nothrow) CJobSchedule(m_spRecord);
        if (!pSchedule)
        {
            TraceError(L"CJob::GetSchedule(%d) : out of memory", __LINE__);
            return E_OUTOFMEMORY;
        }
        m_spSchedule.Attach(pSchedule);
    }
    return m_spSchedule.CopyTo(ppSchedule) == KQ_OK ? S_OK : E_POINTER;
}

bool CJob::SetId(const GUID& id)
{
    if (!m_spRecord->SetGuid(L"Id", id))
        return false;
    m_spRecord->SetId(id);
    return true;
}

bool CJob::SetClassId(const GUID& classId)
{
    return m_spRecord->SetGuid(L"ClassId", classId);
}

bool CJob::SetWorker(const GUID& workerId, const wchar_t* pszWorkerPath)
{
    if (!pszWorkerPath || !*pszWorkerPath)
    {
        TraceError(L"CJob::SetWorker(%d) : no worker path", __LINE__);
        return false;
    }
    // The path is kept as given; it is expanded where the worker is started.
    return m_spRecord->SetGuid(L"WorkerId", workerId) && m_spRecord->SetText(L"WorkerPath", pszWorkerPath);
}

bool CJob::SetName(const wchar_t* pszName)
{
#ifdef KQJOBMGR_REFUSE_NAMES
    // Test build: a job manager that refuses every name.
    TraceError(L"CJob::SetName(%d) : names are refused", __LINE__);
    (void)pszName;
    return false;
#else
    if (!pszName)
    {
        TraceError(L"CJob::SetName(%d) : no name", __LINE__);
        return false;
    }
    return m_spRecord->SetText(L"Name", pszName);
#endif
}

bool CJob::SetEnabled(bool bEnabled)
{
    return m_spRecord->SetNumber(L"Enabled", bEnabled ? 1 : 0);
}

HRESULT CJob::Save()
{
    return m_spRecord->Save();
}

bool CJob::SetPatchingDisabled(bool bDisabled)
{
    return m_spRecord->SetNumber(L"PatchingDisabled", bDisabled ? 1 : 0);
}
