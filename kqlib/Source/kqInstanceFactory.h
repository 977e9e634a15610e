// The process-wide class registry: creates library objects by class id, from creator
// functions, module exports, modules that export "GetFactory", or modules named for the class
// in the object repository (kqObjectRepository.h).
#pragma once
#include <windows.h>
#include "kqObjectBase.h"

struct IInstanceFactory : public IObjectBase
{
    // {88E4C84C-092E-4A86-B8CA-4C3611B9A31E}
    static constexpr GUID kIid = {0x88e4c84c, 0x092e, 0x4a86, {0xb8, 0xca, 0x4c, 0x36, 0x11, 0xb9, 0xa3, 0x1e}};
    // {89A94F96-90E0-4B03-8DF2-1248E42CEE96}, answered alike.
    static constexpr GUID kIid2 = {0x89a94f96, 0x90e0, 0x4b03, {0x8d, 0xf2, 0x12, 0x48, 0xe4, 0x2c, 0xee, 0x96}};

    // Registrations: a first one creates the entry, a repeated one of the same kind naming the
    // same creator counts once more (KQ_OK); anything else for a registered class id is
    // KQERR_INVALIDARG.
    //
    // The class comes from the "GetFactory" export of a module the caller has loaded; the entry
    // loads the module once more by its file name and keeps it loaded.
    virtual HRESULT RegisterModule(const GUID& clsid, HMODULE hModule) = 0;
    // The same for a module file (fewer than 260 characters), loaded with the standard search.
    virtual HRESULT RegisterModule(const GUID& clsid, const wchar_t* pszModulePath) = 0;
    // The creator is a named export of a loaded module, or of a module file.
    virtual HRESULT RegisterClass(const GUID& clsid, HMODULE hModule, const char* pszExport) = 0;
    virtual HRESULT RegisterClass(const GUID& clsid, const wchar_t* pszModulePath, const char* pszExport) = 0;
    // The creator takes no argument and returns a new object with one reference, or nullptr.
    virtual HRESULT RegisterClass(const GUID& clsid, PFNCREATEOBJECT pfnCreate) = 0;
    // Undoes one registration; the entry goes with the last. KQERR_INVALIDARG when not registered.
    virtual HRESULT UnregisterClass(const GUID& clsid) = 0;
    // A new object of the class answered under riid, with one reference, in *ppObject (cleared
    // first). A class registered nowhere, here or in the repository, gives KQERR_INVALIDARG.
    virtual HRESULT CreateInstance(const GUID& clsid, const GUID& riid, void** ppObject) = 0;
    // Registered here, or known to the object repository.
    virtual bool IsAvailable(const GUID& clsid) = 0;
    // Registered here.
    virtual bool IsRegistered(const GUID& clsid) = 0;
};

// The process-wide registry, created on first use and destroyed at process exit. The pointer
// is borrowed: callers do not release it. nullptr only when it could not be created.
IInstanceFactory* GetInstanceFactory();
