// Loads a DLL from the system folder by full path. Programs started from a download folder
// must never let a DLL of the same name beside them be loaded instead.
#pragma once
#include <windows.h>

HMODULE LoadSystemLibrary(const wchar_t* pszName);

// Owns a module loaded from the system folder.
class CSystemLibrary
{
public:
    explicit CSystemLibrary(const wchar_t* pszName) : m_hModule(LoadSystemLibrary(pszName)) {}
    ~CSystemLibrary()
    {
        if (m_hModule)
            FreeLibrary(m_hModule);
    }
    CSystemLibrary(const CSystemLibrary&) = delete;
    CSystemLibrary& operator=(const CSystemLibrary&) = delete;

    bool IsLoaded() const { return m_hModule != nullptr; }
    HMODULE Handle() const { return m_hModule; }

    template <typename TFunction>
    TFunction Get(const char* pszExport) const
    {
        if (!m_hModule)
            return nullptr;
        return reinterpret_cast<TFunction>(reinterpret_cast<void*>(GetProcAddress(m_hModule, pszExport)));
    }

private:
    HMODULE m_hModule;
};
