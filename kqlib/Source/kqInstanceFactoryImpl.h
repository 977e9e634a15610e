// The class registry behind GetInstanceFactory(): a map from class id to a shared entry,
// guarded by one lock. A registration holds the lock throughout (module load and "GetFactory"
// included); a creation releases it before the creator or module factory runs, so creators
// may create objects themselves.
#pragma once
#include <windows.h>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include "kqFactoryEntry.h"
#include "kqInstanceFactory.h"
#include "kqObjectRepository.h"
#include "kqObjectRoot.h"

class CIsolation;

class CInstanceFactoryImpl : public CObjectRoot, public IInstanceFactory
{
public:
    // An empty registry (one reference) whose repository reads below the process's silo, or
    // below the given one (which must outlive the registry).
    CInstanceFactoryImpl();
    explicit CInstanceFactoryImpl(CIsolation& isolation);

    HRESULT QueryInterface(const GUID& riid, void** ppObject) override;
    ULONG AddRef() override { return InternalAddRef(); }
    ULONG Release() override { return InternalRelease(); }

    HRESULT RegisterModule(const GUID& clsid, HMODULE hModule) override;
    HRESULT RegisterModule(const GUID& clsid, const wchar_t* pszModulePath) override;
    HRESULT RegisterClass(const GUID& clsid, HMODULE hModule, const char* pszExport) override;
    HRESULT RegisterClass(const GUID& clsid, const wchar_t* pszModulePath, const char* pszExport) override;
    HRESULT RegisterClass(const GUID& clsid, PFNCREATEOBJECT pfnCreate) override;
    HRESULT UnregisterClass(const GUID& clsid) override;
    HRESULT CreateInstance(const GUID& clsid, const GUID& riid, void** ppObject) override;
    bool IsAvailable(const GUID& clsid) override;
    bool IsRegistered(const GUID& clsid) override;

    // Registers the library's own classes, each only where the class id is not available yet.
    void RegisterLibraryClasses();

private:
    struct CGuidLess
    {
        bool operator()(const GUID& left, const GUID& right) const { return memcmp(&left, &right, sizeof(GUID)) < 0; }
    };
    typedef std::map<GUID, std::shared_ptr<CFactoryEntry>, CGuidLess> EntryMap;

    // One registration under the lock: a new entry initialised by init, or one more count on
    // an entry for which matches says that it names the same creator.
    template <class TInit, class TMatches>
    HRESULT Register(const GUID& clsid, const wchar_t* pszOperation, TInit init, TMatches matches);
    std::shared_ptr<CFactoryEntry> FindEntry(const GUID& clsid);

    std::recursive_mutex m_lock;
    EntryMap m_entries;
    CObjectRepository m_repository;
};
