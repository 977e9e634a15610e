// The library's module manager: one module loader per module path, kept until the manager is
// destroyed, so that objects created from a module can run its code while the manager lives.
#pragma once
#include <memory>
#include <mutex>
#include <string>
#include <vector>
#include "kqL90U.h"
#include "kqModuleLoader.h"
#include "kqObjectRoot.h"

class CModuleManager : public CObjectRoot, public IModuleManager
{
public:
    HRESULT QueryInterface(const GUID& riid, void** ppObject) override;
    ULONG AddRef() override { return InternalAddRef(); }
    ULONG Release() override { return InternalRelease(); }

    HRESULT CreateObject(const wchar_t* pszModulePath, const GUID& clsid, const GUID& riid, DWORD dwFlags,
                         void** ppObject) override;

private:
    struct LoadedModule
    {
        std::wstring strPath;  // as the first caller gave it
        std::unique_ptr<CModuleLoader> spLoader;
    };

    // The loader of the path, loading it on first use; nullptr with hr set on failure.
    CModuleLoader* FindOrLoad(const wchar_t* pszModulePath, HRESULT& hr);

    std::mutex m_lock;
    std::vector<LoadedModule> m_vecModules;
};
