// The root of every library interface: interfaces are identified by GUIDs, reached through
// QueryInterface and kept alive by reference counts. An object starts with one reference and
// destroys itself when Release brings the count to 0.
#pragma once
#include <windows.h>
#include "kqResult.h"

struct IObjectBase
{
    // {00000000-0000-0000-0000-000000000000}
    static constexpr GUID kIid = {0x00000000, 0x0000, 0x0000, {0, 0, 0, 0, 0, 0, 0, 0}};

    // KQ_OK with one added reference in *ppObject; KQERR_NOINTERFACE with *ppObject cleared for
    // an id the object does not answer; KQERR_INVALIDARG without ppObject.
    virtual HRESULT QueryInterface(const GUID& riid, void** ppObject) = 0;
    // The new count.
    virtual ULONG AddRef() = 0;
    // The new count; at 0 the object is gone.
    virtual ULONG Release() = 0;

protected:
    // Objects are destroyed by their last Release, never through an interface pointer.
    ~IObjectBase() = default;
};

// A function that creates one object and returns it with one reference, or nullptr.
typedef IObjectBase* (*PFNCREATEOBJECT)();
