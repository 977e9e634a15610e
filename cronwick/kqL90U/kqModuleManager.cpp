#include "kqModuleManager.h"

#include <new>
#include "kqTrace.h"

HRESULT CModuleManager::QueryInterface(const GUID& riid, void** ppObject)
{
    if (!ppObject)
        return KQERR_INVALIDARG;
    if (riid == IObjectBase::kIid || riid == IModuleManager::kIid)
        return AnswerInterface(static_cast<IModuleManager*>(this), ppObject);
    return RefuseInterface(ppObject);
}

CModuleLoader* CModuleManager::FindOrLoad(const wchar_t* pszModulePath, HRESULT& hr)
{
    try
    {
        for (LoadedModule& module : m_vecModules)
            if (lstrcmpiW(module.strPath.c_str(), pszModulePath) == 0)
                return module.spLoader.get();
        LoadedModule module;
        module.strPath = pszModulePath;
        module.spLoader.reset(new CModuleLoader);
        hr = module.spLoader->Load(pszModulePath);
        if (FAILED(hr))
        {
            TraceError(L"CModuleManager::CreateObject(%d) : loading %s failed (0x%08x)", __LINE__, pszModulePath,
                       static_cast<unsigned>(hr));
            return nullptr;
        }
        m_vecModules.push_back(std::move(module));
        return m_vecModules.back().spLoader.get();
    }
    catch (const std::bad_alloc&)
    {
        TraceError(L"CModuleManager::CreateObject(%d) : out of memory", __LINE__);
        hr = KQERR_OUTOFMEMORY;
        return nullptr;
    }
}

HRESULT CModuleManager::CreateObject(const wchar_t* pszModulePath, const GUID& clsid, const GUID& riid,
                                     DWORD /*dwFlags*/, void** ppObject)
{
    if (!ppObject)
        return KQERR_INVALIDARG;
    *ppObject = nullptr;
    if (!pszModulePath || !*pszModulePath)
        return KQERR_INVALIDARG;
    std::lock_guard<std::mutex> guard(m_lock);
    HRESULT hr = KQ_OK;
    CModuleLoader* pLoader = FindOrLoad(pszModulePath, hr);
    if (!pLoader)
        return hr;
    hr = pLoader->CreateObject(clsid, riid, ppObject);
    if (FAILED(hr))
        TraceError(L"CModuleManager::CreateObject(%d) : creating an object of %s failed (0x%08x)", __LINE__,
                   pszModulePath, static_cast<unsigned>(hr));
    return hr;
}
