// The module's exports: the library's module protocol ("GetFactory", "GetObjectCount") and
// its trace object.
#include "kqClassFactory.h"
#include "kqJob.h"
#include "kqJobManager.h"
#include "kqModuleExports.h"
#include "kqModuleTrace.h"
#include "kqObjectRoot.h"

extern "C" __declspec(dllexport) HRESULT GetFactory(const GUID& clsid, IFactory** ppFactory)
{
    if (!ppFactory)
        return KQERR_INVALIDARG;
    *ppFactory = nullptr;
    if (clsid == kqJobMgr_IJobManagerMgd)
        return CreateClassFactory(&CJobManager::Create, ppFactory);
    if (clsid == kqJobMgr_IJobMgd)
        return CreateClassFactory(&CJob::Create, ppFactory);
    return KQERR_NOTFOUND;
}

extern "C" __declspec(dllexport) LONG GetObjectCount()
{
    return GetModuleObjectCount();
}

extern "C" __declspec(dllexport) CDebugOutput* GetDebugOutput()
{
    return &GetModuleDebugOutput();
}
