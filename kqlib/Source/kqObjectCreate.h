// Creation of library objects by class id through the process-wide class registry.
#pragma once
#include <windows.h>
#include "kqObjectBase.h"

// A new object of that class answered under riid, one reference, in *ppObject (cleared first).
// KQERR_INVALIDARG for a class id nobody can create or without ppObject.
HRESULT CreateObjectByClassId(const GUID& clsid, const GUID& riid, void** ppObject);

// Makes sure the class can be created by id: registers the creator unless the class is
// already available. True when the class is available afterwards.
bool EnsureClassAvailable(const GUID& clsid, PFNCREATEOBJECT pfnCreate);
