#include "kqTestFiles.h"

namespace kqtest {

CTempFolder::CTempFolder()
{
    wchar_t szTemp[MAX_PATH];
    DWORD len = GetTempPathW(ARRAYSIZE(szTemp), szTemp);
    if (len == 0 || len >= ARRAYSIZE(szTemp))
        return;
    std::wstring strBase(szTemp, len);
    if (strBase.back() != L'\\')
        strBase += L'\\';
    for (DWORD attempt = 0; attempt < 100; ++attempt) {
        std::wstring strPath = strBase + L"kqtest_" + std::to_wstring(GetCurrentProcessId()) + L"_" +
                               std::to_wstring(GetTickCount()) + L"_" + std::to_wstring(attempt);
        if (CreateDirectoryW(strPath.c_str(), nullptr)) {
            m_strPath = strPath + L"\\";
            return;
        }
    }
}

CTempFolder::~CTempFolder()
{
    if (!m_strPath.empty())
        RemoveFolderTree(m_strPath.substr(0, m_strPath.size() - 1));
}

void RemoveFolderTree(const std::wstring& strFolder)
{
    WIN32_FIND_DATAW data;
    HANDLE hFind = FindFirstFileW((strFolder + L"\\*").c_str(), &data);
    if (hFind != INVALID_HANDLE_VALUE) {
        do {
            std::wstring strName = data.cFileName;
            if (strName == L"." || strName == L"..")
                continue;
            std::wstring strPath = strFolder + L"\\" + strName;
            // A link is removed itself, never followed.
            if ((data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) &&
                !(data.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
                RemoveFolderTree(strPath);
            } else {
                SetFileAttributesW(strPath.c_str(), FILE_ATTRIBUTE_NORMAL);
                DeleteFileW(strPath.c_str());
            }
        } while (FindNextFileW(hFind, &data));
        FindClose(hFind);
    }
    RemoveDirectoryW(strFolder.c_str());
}

bool ReadFileBytes(const std::wstring& strPath, std::vector<BYTE>& bytes)
{
    HANDLE hFile = CreateFileW(strPath.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                               OPEN_EXISTING, 0, nullptr);
    if (hFile == INVALID_HANDLE_VALUE)
        return false;
    LARGE_INTEGER size;
    bool bOk = GetFileSizeEx(hFile, &size) && size.QuadPart < 0x40000000;
    if (bOk) {
        bytes.resize(static_cast<size_t>(size.QuadPart));
        DWORD dwRead = 0;
        bOk = bytes.empty() ||
              (ReadFile(hFile, bytes.data(), static_cast<DWORD>(bytes.size()), &dwRead, nullptr) &&
               dwRead == bytes.size());
    }
    CloseHandle(hFile);
    return bOk;
}

bool WriteFileBytes(const std::wstring& strPath, const std::vector<BYTE>& bytes)
{
    HANDLE hFile = CreateFileW(strPath.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    if (hFile == INVALID_HANDLE_VALUE)
        return false;
    DWORD dwWritten = 0;
    bool bOk = bytes.empty() ||
               (WriteFile(hFile, bytes.data(), static_cast<DWORD>(bytes.size()), &dwWritten, nullptr) &&
                dwWritten == bytes.size());
    CloseHandle(hFile);
    return bOk;
}

}  // namespace kqtest
