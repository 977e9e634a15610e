// Shared implementation of the object model for library classes: an interlocked reference
// count that starts at 1 and deletes the object at 0, and the module-wide live-object count
// that a module's "GetObjectCount" export reports.
//
// A class derives from CObjectRoot and from its interfaces, and forwards:
//     ULONG AddRef() override { return InternalAddRef(); }
//     ULONG Release() override { return InternalRelease(); }
//     HRESULT QueryInterface(const GUID& riid, void** ppObject) override
//     {
//         if (!ppObject)
//             return KQERR_INVALIDARG;
//         if (riid == IObjectBase::kIid || riid == IMine::kIid)
//             return AnswerInterface(static_cast<IMine*>(this), ppObject);
//         return RefuseInterface(ppObject);
//     }
#pragma once
#include <windows.h>
#include "kqObjectBase.h"

// Live library objects of the module this code is linked into.
LONG GetModuleObjectCount();

class CObjectRoot
{
public:
    CObjectRoot(const CObjectRoot&) = delete;
    CObjectRoot& operator=(const CObjectRoot&) = delete;

protected:
    CObjectRoot();
    virtual ~CObjectRoot();

    ULONG InternalAddRef();
    // Deletes the object when the count reaches 0.
    ULONG InternalRelease();

    // Hands out the interface with one added reference.
    template <class TInterface>
    static HRESULT AnswerInterface(TInterface* pInterface, void** ppObject)
    {
        *ppObject = pInterface;
        pInterface->AddRef();
        return KQ_OK;
    }
    // The answer for an id the object does not know.
    static HRESULT RefuseInterface(void** ppObject);

private:
    volatile LONG m_lRefCount = 1;
};
