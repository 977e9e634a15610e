#include "kqObjectRoot.h"

namespace {
// One per module: every module that links the library has its own copy.
volatile LONG g_lModuleObjectCount = 0;
}  // namespace

LONG GetModuleObjectCount()
{
    return InterlockedCompareExchange(&g_lModuleObjectCount, 0, 0);
}

CObjectRoot::CObjectRoot()
{
    InterlockedIncrement(&g_lModuleObjectCount);
}

CObjectRoot::~CObjectRoot()
{
    InterlockedDecrement(&g_lModuleObjectCount);
}

ULONG CObjectRoot::InternalAddRef()
{
    return static_cast<ULONG>(InterlockedIncrement(&m_lRefCount));
}

ULONG CObjectRoot::InternalRelease()
{
    LONG lCount = InterlockedDecrement(&m_lRefCount);
    if (lCount == 0)
        delete this;
    return static_cast<ULONG>(lCount);
}

HRESULT CObjectRoot::RefuseInterface(void** ppObject)
{
    if (!ppObject)
        return KQERR_INVALIDARG;
    *ppObject = nullptr;
    return KQERR_NOINTERFACE;
}
