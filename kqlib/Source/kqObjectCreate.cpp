// A process-wide table of creator functions by class id, guarded by one lock.
#include "kqObjectCreate.h"
#include <map>
#include <new>
#include <cstring>
#include "kqClassFactory.h"
#include "kqCriticalSection.h"

namespace {

struct GuidLess
{
    bool operator()(const GUID& left, const GUID& right) const { return memcmp(&left, &right, sizeof(GUID)) < 0; }
};

struct CClassTable
{
    CCriticalSection csLock;
    std::map<GUID, PFNCREATEOBJECT, GuidLess> mapCreators;
};

CClassTable& Table()
{
    // Built on first use; a function-local static is initialised once even across threads.
    static CClassTable s_Table;
    return s_Table;
}

}  // namespace

HRESULT CreateObjectByClassId(const GUID& clsid, const GUID& riid, void** ppObject)
{
    if (!ppObject)
        return KQERR_INVALIDARG;
    *ppObject = nullptr;
    PFNCREATEOBJECT pfnCreate = nullptr;
    {
        CAutoLock lock(Table().csLock);
        auto it = Table().mapCreators.find(clsid);
        if (it == Table().mapCreators.end())
            return KQERR_INVALIDARG;
        pfnCreate = it->second;
    }
    // Outside the lock: creators may create objects themselves.
    return CreateObjectAs(pfnCreate, riid, ppObject);
}

bool EnsureClassAvailable(const GUID& clsid, PFNCREATEOBJECT pfnCreate)
{
    CAutoLock lock(Table().csLock);
    try
    {
        if (Table().mapCreators.count(clsid))
            return true;
        if (!pfnCreate)
            return false;
        Table().mapCreators[clsid] = pfnCreate;
        return true;
    }
    catch (const std::bad_alloc&)
    {
        return false;
    }
}
