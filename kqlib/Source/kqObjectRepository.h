// Maps a class id to the module that implements it, from the registry:
//   HKEY_LOCAL_MACHINE\<library registry root>\OBJID\{CLASS-ID}   "InProc32" = module path
// The registry root is the silo's (CIsolation); the key is read in the machine's own view.
// Nothing is kept in memory: every call reads the registry again.
#pragma once
#include <windows.h>
#include <string>

class CIsolation;

class CObjectRepository
{
public:
    // Expands the path tokens of a module path; true only when the expansion succeeds.
    typedef bool (*PFNEXPANDPATH)(const wchar_t* pszInput, std::wstring& strOutput);

    static constexpr DWORD kMaxModulePathChars = 260;

    // Reads below the process's silo.
    CObjectRepository();
    // Reads below the given silo (which must outlive the repository).
    explicit CObjectRepository(CIsolation& isolation);

    // The class key opens for reading and holds an "InProc32" value of type REG_SZ.
    bool IsRegistered(const GUID& clsid);
    // "InProc32" (REG_SZ or REG_EXPAND_SZ, at most 260 characters with its terminating zero)
    // with its path tokens expanded. False for a missing key or value, a value of another type,
    // an odd byte length, an unterminated or empty string, or a failed expansion.
    bool GetModulePath(const GUID& clsid, std::wstring& strPath);

    // Replaces the expansion of module paths process-wide; returns the previous one. nullptr
    // restores the silo's own path expansion.
    static PFNEXPANDPATH SetPathExpander(PFNEXPANDPATH pfnExpand);

private:
    bool OpenClassKey(const GUID& clsid, HKEY& hKey);

    CIsolation& m_isolation;
};
