#include "kqTestFiles.h"

#include <objbase.h>
#include <algorithm>
#include <vector>

namespace kqtest {

REGSAM MachineView()
{
    BOOL bWow64 = FALSE;
    IsWow64Process(GetCurrentProcess(), &bWow64);
    return bWow64 ? KEY_WOW64_64KEY : 0;
}

std::wstring NewGuidString()
{
    GUID guid;
    CoCreateGuid(&guid);
    wchar_t szGuid[64];
    StringFromGUID2(guid, szGuid, ARRAYSIZE(szGuid));
    return szGuid;
}

CTempDir::CTempDir()
{
    wchar_t szTemp[MAX_PATH];
    DWORD len = GetTempPathW(ARRAYSIZE(szTemp), szTemp);
    std::wstring strBase(szTemp, len);
    while (!strBase.empty() && strBase.back() == L'\\')
        strBase.pop_back();
    m_strPath = strBase + L"\\kqtest-" + NewGuidString().substr(1, 8);
    CreateDirectoryW(m_strPath.c_str(), nullptr);
}

CTempDir::~CTempDir()
{
    RemoveTree(m_strPath);
}

void RemoveTree(const std::wstring& strPath)
{
    WIN32_FIND_DATAW data;
    HANDLE hFind = FindFirstFileW((strPath + L"\\*").c_str(), &data);
    if (hFind != INVALID_HANDLE_VALUE) {
        do {
            std::wstring strName = data.cFileName;
            if (strName == L"." || strName == L"..")
                continue;
            std::wstring strChild = strPath + L"\\" + strName;
            SetFileAttributesW(strChild.c_str(), FILE_ATTRIBUTE_NORMAL);
            // A link is removed itself; its target is left alone.
            if ((data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) &&
                !(data.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT))
                RemoveTree(strChild);
            else if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
                RemoveDirectoryW(strChild.c_str());
            else
                DeleteFileW(strChild.c_str());
        } while (FindNextFileW(hFind, &data));
        FindClose(hFind);
    }
    RemoveDirectoryW(strPath.c_str());
}

namespace {

void AddFiles(const std::wstring& strFolder, const std::wstring& strRelative, bool bFolders,
              std::vector<std::wstring>& files)
{
    WIN32_FIND_DATAW data;
    HANDLE hFind = FindFirstFileW((strFolder + L"\\*").c_str(), &data);
    if (hFind == INVALID_HANDLE_VALUE)
        return;
    do {
        const std::wstring strName = data.cFileName;
        if (strName == L"." || strName == L"..")
            continue;
        if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
            if (bFolders)
                files.push_back(strRelative + strName + L"\\");
            AddFiles(strFolder + L"\\" + strName, strRelative + strName + L"\\", bFolders, files);
        } else {
            files.push_back(strRelative + strName);
        }
    } while (FindNextFileW(hFind, &data));
    FindClose(hFind);
}

}  // namespace

std::vector<std::wstring> ListFiles(const std::wstring& strFolder, bool bFolders)
{
    std::vector<std::wstring> files;
    AddFiles(strFolder, L"", bFolders, files);
    std::sort(files.begin(), files.end());
    return files;
}

FILETIME UtcTime(WORD wYear, WORD wMonth, WORD wDay, WORD wHour, WORD wMinute, WORD wSecond)
{
    SYSTEMTIME st = {};
    st.wYear = wYear;
    st.wMonth = wMonth;
    st.wDay = wDay;
    st.wHour = wHour;
    st.wMinute = wMinute;
    st.wSecond = wSecond;
    FILETIME ft = {};
    SystemTimeToFileTime(&st, &ft);
    return ft;
}

bool FileExists(const std::wstring& strPath)
{
    return GetFileAttributesW(strPath.c_str()) != INVALID_FILE_ATTRIBUTES;
}

std::string ReadFileBytes(const std::wstring& strPath)
{
    HANDLE hFile = CreateFileW(strPath.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                               nullptr, OPEN_EXISTING, 0, nullptr);
    if (hFile == INVALID_HANDLE_VALUE)
        return std::string();
    std::string bytes;
    char buffer[65536];
    DWORD read = 0;
    while (ReadFile(hFile, buffer, sizeof(buffer), &read, nullptr) && read > 0)
        bytes.append(buffer, read);
    CloseHandle(hFile);
    return bytes;
}

bool WriteFileBytes(const std::wstring& strPath, const std::string& bytes)
{
    HANDLE hFile = CreateFileW(strPath.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    if (hFile == INVALID_HANDLE_VALUE)
        return false;
    DWORD written = 0;
    bool bOk = WriteFile(hFile, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) &&
               written == bytes.size();
    CloseHandle(hFile);
    return bOk;
}

bool ReadFileBytes(const std::wstring& strPath, std::vector<BYTE>& bytes)
{
    if (!FileExists(strPath))
        return false;
    std::string content = ReadFileBytes(strPath);
    bytes.assign(content.begin(), content.end());
    return true;
}

bool WriteFileBytes(const std::wstring& strPath, const std::vector<BYTE>& bytes)
{
    return WriteFileBytes(strPath, std::string(bytes.begin(), bytes.end()));
}

CScopedRegistryTree::CScopedRegistryTree(const std::wstring& strSubKey) : m_strSubKey(strSubKey)
{
    HKEY hKey = nullptr;
    if (RegCreateKeyExW(HKEY_LOCAL_MACHINE, m_strSubKey.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS | MachineView(),
                        nullptr, &hKey, nullptr) == ERROR_SUCCESS)
        RegCloseKey(hKey);
}

CScopedRegistryTree::~CScopedRegistryTree()
{
    HKEY hKey = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, m_strSubKey.c_str(), 0, KEY_ALL_ACCESS | MachineView(), &hKey) ==
        ERROR_SUCCESS) {
        RegDeleteTreeW(hKey, nullptr);
        RegCloseKey(hKey);
    }
    RegDeleteKeyExW(HKEY_LOCAL_MACHINE, m_strSubKey.c_str(), MachineView(), 0);
}

bool CScopedRegistryTree::SetBinary(const std::wstring& strRelative, const wchar_t* pszName, const void* pData,
                                    DWORD cbData, DWORD dwType)
{
    std::wstring strPath = strRelative.empty() ? m_strSubKey : m_strSubKey + L"\\" + strRelative;
    HKEY hKey = nullptr;
    if (RegCreateKeyExW(HKEY_LOCAL_MACHINE, strPath.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS | MachineView(), nullptr,
                        &hKey, nullptr) != ERROR_SUCCESS)
        return false;
    bool bOk = RegSetValueExW(hKey, pszName, 0, dwType, static_cast<const BYTE*>(pData), cbData) == ERROR_SUCCESS;
    RegCloseKey(hKey);
    return bOk;
}

bool CScopedRegistryTree::SetDWORD(const std::wstring& strRelative, const wchar_t* pszName, DWORD dwValue)
{
    return SetBinary(strRelative, pszName, &dwValue, sizeof(dwValue), REG_DWORD);
}

bool CScopedRegistryTree::SetString(const std::wstring& strRelative, const wchar_t* pszName,
                                    const std::wstring& strValue, DWORD dwType)
{
    return SetBinary(strRelative, pszName, strValue.c_str(),
                     static_cast<DWORD>((strValue.size() + 1) * sizeof(wchar_t)), dwType);
}

}  // namespace kqtest
