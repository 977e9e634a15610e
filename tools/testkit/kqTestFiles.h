// Temporary folders, file contents and registry trees that tests create and remove.
#pragma once
#include <windows.h>
#include <string>
#include <vector>

namespace kqtest {

// A fresh folder below the temporary folder, removed with everything in it on destruction.
class CTempDir
{
public:
    CTempDir();
    ~CTempDir();
    CTempDir(const CTempDir&) = delete;
    CTempDir& operator=(const CTempDir&) = delete;

    const std::wstring& Path() const { return m_strPath; }
    // Path joined with a relative name.
    std::wstring operator/(const std::wstring& strName) const { return m_strPath + L"\\" + strName; }
    std::wstring File(const std::wstring& strName) const { return *this / strName; }

private:
    std::wstring m_strPath;
};

bool FileExists(const std::wstring& strPath);
std::string ReadFileBytes(const std::wstring& strPath);
bool WriteFileBytes(const std::wstring& strPath, const std::string& bytes);
// The same as byte vectors; false when the file cannot be read or written whole.
bool ReadFileBytes(const std::wstring& strPath, std::vector<BYTE>& bytes);
bool WriteFileBytes(const std::wstring& strPath, const std::vector<BYTE>& bytes);
// Every file below the folder, at any depth, as a path relative to it ("sub\\name.txt"), sorted
// ordinally; with bFolders the folders too, each with a trailing backslash ("sub\\").
std::vector<std::wstring> ListFiles(const std::wstring& strFolder, bool bFolders = false);
// A UTC time as a FILETIME, for comparing file times.
FILETIME UtcTime(WORD wYear, WORD wMonth, WORD wDay, WORD wHour = 0, WORD wMinute = 0, WORD wSecond = 0);
// Removes a folder and everything below it.
void RemoveTree(const std::wstring& strPath);
// A new GUID in braces, for silo ids and private registry keys.
std::wstring NewGuidString();

// A key below HKEY_LOCAL_MACHINE in the machine's own view, created on construction and
// removed with all its subkeys on destruction.
class CScopedRegistryTree
{
public:
    explicit CScopedRegistryTree(const std::wstring& strSubKey);
    ~CScopedRegistryTree();
    CScopedRegistryTree(const CScopedRegistryTree&) = delete;
    CScopedRegistryTree& operator=(const CScopedRegistryTree&) = delete;

    const std::wstring& Path() const { return m_strSubKey; }
    // Values below the tree; strRelative may name a subkey ("" for the tree's own key).
    bool SetDWORD(const std::wstring& strRelative, const wchar_t* pszName, DWORD dwValue);
    bool SetString(const std::wstring& strRelative, const wchar_t* pszName, const std::wstring& strValue,
                   DWORD dwType = REG_SZ);
    bool SetBinary(const std::wstring& strRelative, const wchar_t* pszName, const void* pData, DWORD cbData,
                   DWORD dwType);

private:
    std::wstring m_strSubKey;
};

// KEY_WOW64_64KEY in a 32-bit process, so tests reach the machine's own registry view.
REGSAM MachineView();

}  // namespace kqtest
