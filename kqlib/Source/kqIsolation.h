// The process's silo: its id, the registry root below HKEY_LOCAL_MACHINE where the library
// keeps its settings, and the silo's data folders. Set from code, or found in an isolate.ini
// beside the module or in a folder above it.
#pragma once
#include <windows.h>
#include <atomic>
#include <mutex>
#include <string>

class CIsolation
{
public:
    static const wchar_t kDefaultHive[];

    // The process-wide silo, searched for from the module that contains the library.
    static CIsolation& Instance();

    // A silo whose isolate.ini search starts at the given module path.
    explicit CIsolation(const std::wstring& strModulePath);

    CIsolation(const CIsolation&) = delete;
    CIsolation& operator=(const CIsolation&) = delete;

    // With no id, the id comes from isolate.ini. Once set, later calls change nothing.
    bool SetSiloID(const wchar_t* pszSiloId);
    // With no hive, the hive comes from isolate.ini (or the default). Set at most once.
    bool SetSiloRegistryRoot(const wchar_t* pszHive);

    bool GetSiloID(std::wstring& strSiloId);
    bool GetSiloRegistryRoot(std::wstring& strRoot);
    bool GetLocalSiloDataPath(std::wstring& strPath);
    bool GetCommonSiloDataPath(std::wstring& strPath);

    // Folder name below the application data folders (at most 49 characters): the process
    // silo's expansion of "%APPDATAEXTENSION%", else "Quillane".
    static std::wstring GetAppDataExtension();

    // Windows error code, 0 on success. The buffer must hold at least 100 characters.
    static DWORD GetRegistryHive(const wchar_t* pszModulePath, wchar_t* pszBuffer, DWORD cchBuffer);
    // Finds isolate.ini in the module's folder or a folder above it; Windows error code.
    static DWORD FindIsolateIni(const std::wstring& strModulePath, std::wstring& strIniPath);
    // Number of characters written to the buffer (the default when nothing is found).
    static DWORD ReadIniValue(const wchar_t* pszSection, const wchar_t* pszKey, const wchar_t* pszDefault,
                              wchar_t* pszBuffer, DWORD cchBuffer, const wchar_t* pszFile);
    static bool IsGuidString(const wchar_t* pszText);

private:
    bool SetSiloIDLocked(const wchar_t* pszSiloId);
    // GetAppDataExtension for this silo's own path expansion map.
    std::wstring AppDataExtension();
    bool GetDataPath(int nFolder, std::wstring& strKept, std::wstring& strPath);

    const std::wstring m_strModulePath;
    std::recursive_mutex m_lock;
    std::atomic<bool> m_bInitialized{false};
    std::atomic<bool> m_bRootSet{false};
    std::wstring m_strSiloId;
    std::wstring m_strRegistryRoot;
    std::wstring m_strLocalDataPath;
    std::wstring m_strCommonDataPath;
};
