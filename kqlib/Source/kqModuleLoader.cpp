#include "kqModuleLoader.h"
#include "kqSmartPtr.h"

CModuleLoader::~CModuleLoader()
{
    Unload();
}

HRESULT CModuleLoader::CheckModule(const wchar_t* /*pszPath*/)
{
    return KQ_OK;
}

HRESULT CModuleLoader::Load(const wchar_t* pszPath)
{
    if (m_pfnGetFactory && m_pfnGetObjectCount)
        return KQ_OK;
    if (!pszPath || !*pszPath)
        return KQERR_INVALIDARG;
    Unload();
    HRESULT hr = CheckModule(pszPath);
    if (FAILED(hr))
        return hr;
    HMODULE hModule = LoadLibraryExW(pszPath, nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
    if (!hModule)
        return KQERR_LOADFAILED;
    PFNGETFACTORY pfnGetFactory =
        reinterpret_cast<PFNGETFACTORY>(reinterpret_cast<void*>(GetProcAddress(hModule, kszGetFactoryExport)));
    PFNGETOBJECTCOUNT pfnGetObjectCount =
        reinterpret_cast<PFNGETOBJECTCOUNT>(reinterpret_cast<void*>(GetProcAddress(hModule, kszGetObjectCountExport)));
    if (!pfnGetFactory || !pfnGetObjectCount)
    {
        FreeLibrary(hModule);
        return KQERR_NOEXPORTS;
    }
    m_hModule = hModule;
    m_pfnGetFactory = pfnGetFactory;
    m_pfnGetObjectCount = pfnGetObjectCount;
    return KQ_OK;
}

void CModuleLoader::Unload()
{
    m_pfnGetFactory = nullptr;
    m_pfnGetObjectCount = nullptr;
    HMODULE hModule = m_hModule;
    m_hModule = nullptr;
    if (hModule)
        FreeLibrary(hModule);
}

HRESULT CModuleLoader::CreateObject(const GUID& clsid, const GUID& riid, void** ppObject)
{
    if (!ppObject || !m_pfnGetFactory)
        return KQERR_INVALIDARG;
    *ppObject = nullptr;
    CSmartPtr<IFactory> spFactory;
    HRESULT hr = m_pfnGetFactory(clsid, spFactory.Receive());
    if (FAILED(hr))
        return hr;
    if (!spFactory)
        return KQERR_FAIL;  // success without a factory is no factory
    return spFactory->CreateInstance(riid, ppObject);
}

FARPROC CModuleLoader::GetExport(const char* pszName) const
{
    if (!m_hModule || !pszName)
        return nullptr;
    return GetProcAddress(m_hModule, pszName);
}

CDebugOutput* CModuleLoader::GetModuleDebugOutput(const char* pszExport) const
{
    PFNGETDEBUGOUTPUT pfnGetDebugOutput = reinterpret_cast<PFNGETDEBUGOUTPUT>(reinterpret_cast<void*>(GetExport(pszExport)));
    return pfnGetDebugOutput ? pfnGetDebugOutput() : nullptr;
}
