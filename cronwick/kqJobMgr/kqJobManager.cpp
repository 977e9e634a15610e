#include "kqJobManager.h"

#include <new>
#include <vector>
#include "kqJobStore.h"

IObjectBase* CJobManager::Create()
{
    return static_cast<IJobManager*>(new (std::nothrow) CJobManager);
}

HRESULT CJobManager::QueryInterface(const GUID& riid, void** ppObject)
{
    if (!ppObject)
        return KQERR_INVALIDARG;
    if (riid == IObjectBase::kIid || riid == IJobManager::kIid)
        return AnswerInterface(static_cast<IJobManager*>(this), ppObject);
    return RefuseInterface(ppObject);
}

DWORD CJobManager::GetJobCount()
{
    try
    {
        std::vector<StoredJob> jobs;
        return SUCCEEDED(ReadJobStore(jobs)) ? static_cast<DWORD>(jobs.size()) : 0;
    }
    catch (const std::bad_alloc&)
    {
        return 0;
    }
}
