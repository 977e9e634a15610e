// One class of the class registry: how its objects are made and the module that must stay
// loaded for that. Shared between the registry and the creations in progress.
#pragma once
#include <windows.h>
#include "kqModuleExports.h"
#include "kqModuleHandle.h"
#include "kqSmartPtr.h"

enum RegistrationKind
{
    eRegistrationKind_Creator = 1,  // a creator function, given directly or as a named export
    eRegistrationKind_Module = 2,   // a module whose "GetFactory" export supplies an IFactory
};

class CFactoryEntry
{
public:
    explicit CFactoryEntry(const GUID& clsid) : m_clsid(clsid) {}
    // Frees the module unless it still reports live objects through "GetObjectCount":
    // those objects run the module's code until their last Release.
    ~CFactoryEntry();
    CFactoryEntry(const CFactoryEntry&) = delete;
    CFactoryEntry& operator=(const CFactoryEntry&) = delete;

    // Initialisation, once, by kind. Each failure is logged here and returned.
    HRESULT InitCreator(PFNCREATEOBJECT pfnCreate);
    HRESULT InitExport(HMODULE hModule, const char* pszExport);
    HRESULT InitExport(const wchar_t* pszModulePath, const char* pszExport);
    HRESULT InitModule(HMODULE hModule);
    HRESULT InitModule(const wchar_t* pszModulePath);

    RegistrationKind Kind() const { return m_eKind; }
    PFNCREATEOBJECT Creator() const { return m_pfnCreate; }
    // The module whose factory the entry holds (module kind).
    HMODULE FactoryModule() const { return m_module.Get(); }

    HRESULT CreateInstance(const GUID& riid, void** ppObject);

    // Registrations counted so far; guarded by the registry's lock.
    DWORD m_dwRegistrations = 0;

private:
    HRESULT HoldModuleOf(HMODULE hModule);
    HRESULT BindFactory(const wchar_t* pszModulePath);

    // Declared first, so it is freed last: after the factory and with nothing left to call.
    CModuleHandle m_module;
    const GUID m_clsid;
    RegistrationKind m_eKind = eRegistrationKind_Creator;
    PFNCREATEOBJECT m_pfnCreate = nullptr;
    CSmartPtr<IFactory> m_spFactory;
};
