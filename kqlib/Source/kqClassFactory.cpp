#include "kqClassFactory.h"
#include <new>
#include "kqObjectRoot.h"
#include "kqSmartPtr.h"

namespace {

class CClassFactory : public CObjectRoot, public IFactory
{
public:
    explicit CClassFactory(PFNCREATEOBJECT pfnCreate) : m_pfnCreate(pfnCreate) {}

    HRESULT QueryInterface(const GUID& riid, void** ppObject) override
    {
        if (!ppObject)
            return KQERR_INVALIDARG;
        if (riid == IObjectBase::kIid || riid == IFactory::kIid)
            return AnswerInterface(static_cast<IFactory*>(this), ppObject);
        return RefuseInterface(ppObject);
    }
    ULONG AddRef() override { return InternalAddRef(); }
    ULONG Release() override { return InternalRelease(); }

    HRESULT CreateInstance(const GUID& riid, void** ppObject) override
    {
        return CreateObjectAs(m_pfnCreate, riid, ppObject);
    }

private:
    const PFNCREATEOBJECT m_pfnCreate;
};

}  // namespace

HRESULT CreateObjectAs(PFNCREATEOBJECT pfnCreate, const GUID& riid, void** ppObject)
{
    if (!ppObject)
        return KQERR_INVALIDARG;
    *ppObject = nullptr;
    if (!pfnCreate)
        return KQERR_INVALIDARG;
    CSmartPtr<IObjectBase> spObject;
    spObject.Attach(pfnCreate());
    if (!spObject)
        return KQERR_OUTOFMEMORY;
    return spObject->QueryInterface(riid, ppObject);
}

HRESULT CreateClassFactory(PFNCREATEOBJECT pfnCreate, IFactory** ppFactory)
{
    if (!ppFactory)
        return KQERR_INVALIDARG;
    *ppFactory = nullptr;
    if (!pfnCreate)
        return KQERR_INVALIDARG;
    *ppFactory = new (std::nothrow) CClassFactory(pfnCreate);
    return *ppFactory ? KQ_OK : KQERR_OUTOFMEMORY;
}
