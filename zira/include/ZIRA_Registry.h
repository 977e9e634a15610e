// Registry keys for the installer: a key object that remembers its hive and path, and opens
// that repair the access control lists along a path when a key refuses access.
#pragma once
#include <windows.h>
#include <string>
#include <vector>

#include "kqRegistryKey.h"

namespace ZIRA {

class CRegistry : public CRegistryKey
{
public:
    CRegistry() = default;

    // Opens (or, with bCreate, creates with the options, e.g. REG_OPTION_VOLATILE) the key.
    // A refused open is repaired along the path and tried once more; a key that does not
    // exist is not repaired when bCreate is not set. GetLastError() tells why it failed.
    bool OpenWithRepair(const wchar_t* pszPath, HKEY hHive, REGSAM samDesired, bool bCreate,
                        DWORD dwOptions = REG_OPTION_NON_VOLATILE);

    // Opens every level of the path with full access, repairing each level that refuses it.
    static HRESULT ForceOpenKey(const wchar_t* pszPath, HKEY hHive, bool bCreate);
    // Opens one key with full access, repairing its own DACL once when access is denied.
    static HRESULT EnsureOpen(HKEY hHive, const wchar_t* pszPath, bool bCreate);

    // The path's components: "/" and "\" separate, empty components are skipped, and a
    // component that starts with a double quote runs to the next one (quotes dropped).
    static bool SplitKeyPath(const std::wstring& strPath, std::vector<std::wstring>& components);

    // The system error of the last open or create made by OpenWithRepair.
    LONG OpenError() const { return m_lOpenError; }
    const std::wstring& Path() const { return m_strPath; }
    HKEY Hive() const { return m_hHive; }

private:
    std::wstring m_strPath;
    HKEY m_hHive = nullptr;
    LONG m_lOpenError = ERROR_SUCCESS;
};

}  // namespace ZIRA
