// Creation by class id goes through the process-wide class registry, which knows the
// library's own classes from its start.
#include "kqObjectCreate.h"

#include "kqInstanceFactory.h"

HRESULT CreateObjectByClassId(const GUID& clsid, const GUID& riid, void** ppObject)
{
    if (!ppObject)
        return KQERR_INVALIDARG;
    *ppObject = nullptr;
    IInstanceFactory* pFactory = GetInstanceFactory();
    if (!pFactory)
        return KQERR_OUTOFMEMORY;
    return pFactory->CreateInstance(clsid, riid, ppObject);
}

bool EnsureClassAvailable(const GUID& clsid, PFNCREATEOBJECT pfnCreate)
{
    IInstanceFactory* pFactory = GetInstanceFactory();
    if (!pFactory)
        return false;
    if (pFactory->IsAvailable(clsid))
        return true;
    return pfnCreate && SUCCEEDED(pFactory->RegisterClass(clsid, pfnCreate)) && pFactory->IsAvailable(clsid);
}
