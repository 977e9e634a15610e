// Loads one module that offers library classes by its full path, checks that it follows the
// export protocol ("GetFactory" and "GetObjectCount") and creates its objects. The base of the
// host's wrappers around outside modules. Reports results only; the callers log.
#pragma once
#include <windows.h>
#include "kqModuleExports.h"

class CModuleLoader
{
public:
    CModuleLoader() = default;
    virtual ~CModuleLoader();

    CModuleLoader(const CModuleLoader&) = delete;
    CModuleLoader& operator=(const CModuleLoader&) = delete;

    // KQ_OK at once when a module is loaded already. Otherwise: KQERR_INVALIDARG without a
    // path; the check hook's failure; KQERR_LOADFAILED when the system does not load the
    // module; KQERR_NOEXPORTS (with the module freed again) when it lacks either export.
    // The module's own dependencies are searched in its folder.
    HRESULT Load(const wchar_t* pszPath);
    void Unload();
    bool IsLoaded() const { return m_hModule != nullptr; }
    HMODULE Handle() const { return m_hModule; }

    // Asks the module's "GetFactory" for the object id's factory and that factory for a new
    // object answered under riid. KQERR_INVALIDARG without ppObject or before Load.
    HRESULT CreateObject(const GUID& clsid, const GUID& riid, void** ppObject);

    // An optional export of the loaded module, or nullptr.
    FARPROC GetExport(const char* pszName) const;
    // Calls a trace export ("GetDebugOutput" or "GetDebugOutput2") when the module has it;
    // the module's trace object, or nullptr.
    CDebugOutput* GetModuleDebugOutput(const char* pszExport) const;

protected:
    // Runs before every load; a failure stops the load and is returned. Accepts every path.
    virtual HRESULT CheckModule(const wchar_t* pszPath);

private:
    HMODULE m_hModule = nullptr;
    PFNGETFACTORY m_pfnGetFactory = nullptr;
    PFNGETOBJECTCOUNT m_pfnGetObjectCount = nullptr;
};
