#include "kqFactoryEntry.h"
#include <cwchar>
#include <string>
#include "kqClassFactory.h"
#include "kqGuidString.h"
#include "kqModuleFileName.h"
#include "kqModuleOfAddress.h"
#include "kqTrace.h"

namespace {

constexpr size_t kMaxModulePathChars = 260;

// The full file name of a loaded module; empty on failure.
std::wstring ModuleFileName(HMODULE hModule)
{
    std::wstring strName;
    return GetModuleFileNameString(hModule, strName) ? strName : std::wstring();
}

}  // namespace

CFactoryEntry::~CFactoryEntry()
{
    m_spFactory.Reset();
    if (!m_module)
        return;
    PFNGETOBJECTCOUNT pfnGetObjectCount = reinterpret_cast<PFNGETOBJECTCOUNT>(
        reinterpret_cast<void*>(GetProcAddress(m_module.Get(), kszGetObjectCountExport)));
    if (pfnGetObjectCount && pfnGetObjectCount() > 0)
    {
        TraceWarning(L"CFactoryEntry::~CFactoryEntry(%d) : module of %s keeps live objects and stays loaded",
                     __LINE__, FormatGuid(m_clsid).c_str());
        m_module.Detach();
    }
}

HRESULT CFactoryEntry::HoldModuleOf(HMODULE hModule)
{
    // The program and the library's own module outlive every entry.
    if (!hModule || hModule == GetModuleHandleW(nullptr) || hModule == GetLibraryModule())
        return KQ_OK;
    std::wstring strName = ModuleFileName(hModule);
    if (strName.empty())
    {
        TraceError(L"CFactoryEntry::HoldModuleOf(%d) : no file name for module %p of %s (%lu)", __LINE__,
                   static_cast<void*>(hModule), FormatGuid(m_clsid).c_str(), GetLastError());
        return KQERR_FAIL;
    }
    CModuleHandle module(LoadLibraryW(strName.c_str()));
    if (module.Get() != hModule)
    {
        TraceError(L"CFactoryEntry::HoldModuleOf(%d) : cannot keep %s loaded (%lu)", __LINE__, strName.c_str(),
                   GetLastError());
        return KQERR_FAIL;
    }
    m_module = std::move(module);
    return KQ_OK;
}

HRESULT CFactoryEntry::InitCreator(PFNCREATEOBJECT pfnCreate)
{
    if (!pfnCreate)
        return KQERR_INVALIDARG;
    m_eKind = eRegistrationKind_Creator;
    // A creator that lies in no module (generated code) has nothing to keep loaded.
    HRESULT hr = HoldModuleOf(FindModuleOfAddress(reinterpret_cast<const void*>(pfnCreate)));
    if (FAILED(hr))
        return hr;
    m_pfnCreate = pfnCreate;
    return KQ_OK;
}

HRESULT CFactoryEntry::InitExport(HMODULE hModule, const char* pszExport)
{
    if (!hModule || !pszExport)
        return KQERR_INVALIDARG;
    m_eKind = eRegistrationKind_Creator;
    PFNCREATEOBJECT pfnCreate = reinterpret_cast<PFNCREATEOBJECT>(reinterpret_cast<void*>(GetProcAddress(hModule, pszExport)));
    if (!pfnCreate)
    {
        TraceError(L"CFactoryEntry::InitExport(%d) : export %hs not found for %s", __LINE__, pszExport,
                   FormatGuid(m_clsid).c_str());
        return KQERR_NOEXPORTS;
    }
    HRESULT hr = HoldModuleOf(hModule);
    if (FAILED(hr))
        return hr;
    m_pfnCreate = pfnCreate;
    return KQ_OK;
}

HRESULT CFactoryEntry::InitExport(const wchar_t* pszModulePath, const char* pszExport)
{
    if (!pszModulePath || !*pszModulePath || !pszExport)
        return KQERR_INVALIDARG;
    m_eKind = eRegistrationKind_Creator;
    CModuleHandle module(LoadLibraryW(pszModulePath));
    if (!module)
    {
        TraceError(L"CFactoryEntry::InitExport(%d) : cannot load %s (%lu)", __LINE__, pszModulePath, GetLastError());
        return KQERR_FAIL;
    }
    PFNCREATEOBJECT pfnCreate =
        reinterpret_cast<PFNCREATEOBJECT>(reinterpret_cast<void*>(GetProcAddress(module.Get(), pszExport)));
    if (!pfnCreate)
    {
        TraceError(L"CFactoryEntry::InitExport(%d) : export %hs not found in %s", __LINE__, pszExport, pszModulePath);
        return KQERR_NOEXPORTS;
    }
    m_module = std::move(module);
    m_pfnCreate = pfnCreate;
    return KQ_OK;
}

HRESULT CFactoryEntry::InitModule(HMODULE hModule)
{
    if (!hModule)
        return KQERR_INVALIDARG;
    m_eKind = eRegistrationKind_Module;
    std::wstring strName = ModuleFileName(hModule);
    if (strName.empty())
    {
        TraceError(L"CFactoryEntry::InitModule(%d) : no file name for module %p of %s (%lu)", __LINE__,
                   static_cast<void*>(hModule), FormatGuid(m_clsid).c_str(), GetLastError());
        return KQERR_FAIL;
    }
    return BindFactory(strName.c_str());
}

HRESULT CFactoryEntry::InitModule(const wchar_t* pszModulePath)
{
    if (!pszModulePath || !*pszModulePath)
        return KQERR_INVALIDARG;
    m_eKind = eRegistrationKind_Module;
    if (wcslen(pszModulePath) >= kMaxModulePathChars)
    {
        TraceError(L"CFactoryEntry::InitModule(%d) : module path too long for %s", __LINE__,
                   FormatGuid(m_clsid).c_str());
        return KQERR_INVALIDARG;
    }
    return BindFactory(pszModulePath);
}

HRESULT CFactoryEntry::BindFactory(const wchar_t* pszModulePath)
{
    // A load reference of the entry's own, whoever else holds the module.
    CModuleHandle module(LoadLibraryW(pszModulePath));
    if (!module)
    {
        TraceError(L"CFactoryEntry::BindFactory(%d) : cannot load %s (%lu)", __LINE__, pszModulePath, GetLastError());
        return KQERR_FAIL;
    }
    PFNGETFACTORY pfnGetFactory =
        reinterpret_cast<PFNGETFACTORY>(reinterpret_cast<void*>(GetProcAddress(module.Get(), kszGetFactoryExport)));
    if (!pfnGetFactory)
    {
        TraceError(L"CFactoryEntry::BindFactory(%d) : %s does not export GetFactory", __LINE__, pszModulePath);
        return KQERR_NOEXPORTS;
    }
    CSmartPtr<IFactory> spFactory;
    HRESULT hr = pfnGetFactory(m_clsid, spFactory.Receive());
    if (SUCCEEDED(hr) && !spFactory)
        hr = KQERR_FAIL;  // success without a factory is no factory
    if (FAILED(hr))
    {
        TraceError(L"CFactoryEntry::BindFactory(%d) : GetFactory of %s failed for %s (0x%08x)", __LINE__,
                   pszModulePath, FormatGuid(m_clsid).c_str(), static_cast<unsigned>(hr));
        // The factory (if any) goes before the module that holds its code.
        spFactory.Reset();
        return hr;
    }
    m_spFactory = std::move(spFactory);
    m_module = std::move(module);
    return KQ_OK;
}

HRESULT CFactoryEntry::CreateInstance(const GUID& riid, void** ppObject)
{
    if (m_eKind == eRegistrationKind_Module)
        return m_spFactory->CreateInstance(riid, ppObject);
    return CreateObjectAs(m_pfnCreate, riid, ppObject);
}
