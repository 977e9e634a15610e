// The library's own creatable classes, registered in the process-wide class registry when it
// is created.
#pragma once
#include <windows.h>
#include <cstddef>
#include "kqObjectBase.h"

struct CLibraryClass
{
    GUID clsid;
    // nullptr while the class is not part of the build; such rows are skipped.
    PFNCREATEOBJECT pfnCreate;
};

const CLibraryClass* GetLibraryClasses(size_t& cClasses);
