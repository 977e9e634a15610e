// A ready-made IFactory around a creator function, for modules that export "GetFactory".
#pragma once
#include "kqModuleExports.h"

// Calls the creator (nothing back: KQERR_OUTOFMEMORY), asks the new object for riid and drops
// the creator's reference, so an object without that interface is destroyed again and the
// query's result (KQERR_NOINTERFACE) is returned. KQERR_INVALIDARG without ppObject or creator.
HRESULT CreateObjectAs(PFNCREATEOBJECT pfnCreate, const GUID& riid, void** ppObject);

// A new factory (one reference) whose CreateInstance is CreateObjectAs with that creator.
HRESULT CreateClassFactory(PFNCREATEOBJECT pfnCreate, IFactory** ppFactory);
