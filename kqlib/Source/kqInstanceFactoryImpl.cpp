#include "kqInstanceFactoryImpl.h"
#include <new>
#include "kqGuidString.h"
#include "kqLibraryClasses.h"
#include "kqTrace.h"

namespace {

// The function a module export names, or nullptr.
PFNCREATEOBJECT ExportedCreator(HMODULE hModule, const char* pszExport)
{
    if (!hModule || !pszExport)
        return nullptr;
    return reinterpret_cast<PFNCREATEOBJECT>(reinterpret_cast<void*>(GetProcAddress(hModule, pszExport)));
}

// A module file that is loaded already, found without loading anything.
HMODULE LoadedModule(const wchar_t* pszModulePath)
{
    return (pszModulePath && *pszModulePath) ? GetModuleHandleW(pszModulePath) : nullptr;
}

}  // namespace

CInstanceFactoryImpl::CInstanceFactoryImpl() {}

CInstanceFactoryImpl::CInstanceFactoryImpl(CIsolation& isolation) : m_repository(isolation) {}

HRESULT CInstanceFactoryImpl::QueryInterface(const GUID& riid, void** ppObject)
{
    if (!ppObject)
        return KQERR_INVALIDARG;
    if (riid == IObjectBase::kIid || riid == IInstanceFactory::kIid || riid == IInstanceFactory::kIid2)
        return AnswerInterface(static_cast<IInstanceFactory*>(this), ppObject);
    return RefuseInterface(ppObject);
}

std::shared_ptr<CFactoryEntry> CInstanceFactoryImpl::FindEntry(const GUID& clsid)
{
    std::lock_guard<std::recursive_mutex> guard(m_lock);
    EntryMap::const_iterator it = m_entries.find(clsid);
    return it == m_entries.end() ? nullptr : it->second;
}

template <class TInit, class TMatches>
HRESULT CInstanceFactoryImpl::Register(const GUID& clsid, const wchar_t* pszOperation, TInit init, TMatches matches)
{
    try {
        std::lock_guard<std::recursive_mutex> guard(m_lock);
        EntryMap::iterator it = m_entries.find(clsid);
        if (it != m_entries.end())
        {
            CFactoryEntry& entry = *it->second;
            if (!matches(entry))
            {
                TraceError(L"CInstanceFactoryImpl::%s(%d) : %s is registered with another creator", pszOperation,
                           __LINE__, FormatGuid(clsid).c_str());
                return KQERR_INVALIDARG;
            }
            ++entry.m_dwRegistrations;
            return KQ_OK;
        }
        std::shared_ptr<CFactoryEntry> spEntry = std::make_shared<CFactoryEntry>(clsid);
        HRESULT hr = init(*spEntry);
        if (FAILED(hr))
            return hr;
        spEntry->m_dwRegistrations = 1;
        // A module's "GetFactory" may have registered the class meanwhile (the lock is recursive).
        if (!m_entries.emplace(clsid, std::move(spEntry)).second)
        {
            TraceError(L"CInstanceFactoryImpl::%s(%d) : %s was registered during its registration", pszOperation,
                       __LINE__, FormatGuid(clsid).c_str());
            return KQERR_INVALIDARG;
        }
        return KQ_OK;
    } catch (const std::bad_alloc&) {
        TraceError(L"CInstanceFactoryImpl::%s(%d) : out of memory", pszOperation, __LINE__);
        return KQERR_OUTOFMEMORY;
    }
}

HRESULT CInstanceFactoryImpl::RegisterModule(const GUID& clsid, HMODULE hModule)
{
    if (!hModule)
        return KQERR_INVALIDARG;
    return Register(
        clsid, L"RegisterModule", [&](CFactoryEntry& entry) { return entry.InitModule(hModule); },
        [&](const CFactoryEntry& entry) {
            return entry.Kind() == eRegistrationKind_Module && entry.FactoryModule() == hModule;
        });
}

HRESULT CInstanceFactoryImpl::RegisterModule(const GUID& clsid, const wchar_t* pszModulePath)
{
    if (!pszModulePath || !*pszModulePath)
        return KQERR_INVALIDARG;
    return Register(
        clsid, L"RegisterModule", [&](CFactoryEntry& entry) { return entry.InitModule(pszModulePath); },
        [&](const CFactoryEntry& entry) {
            return entry.Kind() == eRegistrationKind_Module && entry.FactoryModule() == LoadedModule(pszModulePath);
        });
}

HRESULT CInstanceFactoryImpl::RegisterClass(const GUID& clsid, HMODULE hModule, const char* pszExport)
{
    if (!hModule || !pszExport)
        return KQERR_INVALIDARG;
    return Register(
        clsid, L"RegisterClass", [&](CFactoryEntry& entry) { return entry.InitExport(hModule, pszExport); },
        [&](const CFactoryEntry& entry) {
            return entry.Kind() == eRegistrationKind_Creator && entry.Creator() == ExportedCreator(hModule, pszExport);
        });
}

HRESULT CInstanceFactoryImpl::RegisterClass(const GUID& clsid, const wchar_t* pszModulePath, const char* pszExport)
{
    if (!pszModulePath || !*pszModulePath || !pszExport)
        return KQERR_INVALIDARG;
    return Register(
        clsid, L"RegisterClass", [&](CFactoryEntry& entry) { return entry.InitExport(pszModulePath, pszExport); },
        [&](const CFactoryEntry& entry) {
            return entry.Kind() == eRegistrationKind_Creator &&
                   entry.Creator() == ExportedCreator(LoadedModule(pszModulePath), pszExport);
        });
}

HRESULT CInstanceFactoryImpl::RegisterClass(const GUID& clsid, PFNCREATEOBJECT pfnCreate)
{
    if (!pfnCreate)
        return KQERR_INVALIDARG;
    return Register(
        clsid, L"RegisterClass", [&](CFactoryEntry& entry) { return entry.InitCreator(pfnCreate); },
        [&](const CFactoryEntry& entry) {
            return entry.Kind() == eRegistrationKind_Creator && entry.Creator() == pfnCreate;
        });
}

HRESULT CInstanceFactoryImpl::UnregisterClass(const GUID& clsid)
{
    // The last entry reference may free a module: that happens after the lock is let go.
    std::shared_ptr<CFactoryEntry> spRemoved;
    {
        std::lock_guard<std::recursive_mutex> guard(m_lock);
        EntryMap::iterator it = m_entries.find(clsid);
        if (it == m_entries.end())
        {
            TraceError(L"CInstanceFactoryImpl::UnregisterClass(%d) : %s is not registered", __LINE__,
                       FormatGuid(clsid).c_str());
            return KQERR_INVALIDARG;
        }
        if (--it->second->m_dwRegistrations == 0)
        {
            spRemoved = std::move(it->second);
            m_entries.erase(it);
        }
    }
    return KQ_OK;
}

HRESULT CInstanceFactoryImpl::CreateInstance(const GUID& clsid, const GUID& riid, void** ppObject)
{
    if (!ppObject)
        return KQERR_INVALIDARG;
    *ppObject = nullptr;
    for (int nAttempt = 0; nAttempt < 2; ++nAttempt)
    {
        std::shared_ptr<CFactoryEntry> spEntry = FindEntry(clsid);
        if (spEntry)
            return spEntry->CreateInstance(riid, ppObject);
        if (nAttempt > 0)
            break;
        std::wstring strModulePath;
        if (!m_repository.GetModulePath(clsid, strModulePath))
            break;
        HRESULT hr = RegisterModule(clsid, strModulePath.c_str());
        if (FAILED(hr))
            return hr;
    }
    TraceError(L"CInstanceFactoryImpl::CreateInstance(%d) : class %s is not available", __LINE__,
               FormatGuid(clsid).c_str());
    return KQERR_INVALIDARG;
}

bool CInstanceFactoryImpl::IsAvailable(const GUID& clsid)
{
    return IsRegistered(clsid) || m_repository.IsRegistered(clsid);
}

bool CInstanceFactoryImpl::IsRegistered(const GUID& clsid)
{
    std::lock_guard<std::recursive_mutex> guard(m_lock);
    return m_entries.find(clsid) != m_entries.end();
}

void CInstanceFactoryImpl::RegisterLibraryClasses()
{
    size_t cClasses = 0;
    const CLibraryClass* pClasses = GetLibraryClasses(cClasses);
    for (size_t i = 0; i < cClasses; ++i)
    {
        if (pClasses[i].pfnCreate && !IsAvailable(pClasses[i].clsid))
            RegisterClass(pClasses[i].clsid, pClasses[i].pfnCreate);
    }
}
