#include "kqPathUtils.h"

#include <windows.h>
#include <cwchar>
#include <exception>

#include "kqFormatString.h"
#include "kqTrace.h"

namespace {

void TrimTrailingBackslashes(std::wstring& str)
{
    size_t end = str.find_last_not_of(L'\\');
    str.resize(end == std::wstring::npos ? 0 : end + 1);
}

const wchar_t* SkipLeadingBackslashes(const wchar_t* psz)
{
    while (*psz == L'\\')
        ++psz;
    return psz;
}

bool StartsWith(const std::wstring& str, const wchar_t* pszPrefix)
{
    return str.compare(0, wcslen(pszPrefix), pszPrefix) == 0;
}

bool StartsWithNoCase(const std::wstring& str, const wchar_t* pszPrefix)
{
    size_t cch = wcslen(pszPrefix);
    return str.size() >= cch && _wcsnicmp(str.c_str(), pszPrefix, cch) == 0;
}

// Position of the backslash that ends "\\server\share", searching from the server's first
// character; npos when the path has no backslash after the share.
size_t EndOfUncRoot(const std::wstring& strPath, size_t posServer)
{
    size_t posShare = strPath.find(L'\\', posServer);
    if (posShare == std::wstring::npos)
        return std::wstring::npos;
    return strPath.find(L'\\', posShare + 1);
}

// The first separator whose left side names a folder to check or create. The root itself
// (drive, UNC share, device prefix) is never created.
size_t FirstSeparator(const std::wstring& strPath)
{
    if (StartsWithNoCase(strPath, L"\\\\?\\UNC\\"))
        return EndOfUncRoot(strPath, 8);
    if (StartsWith(strPath, L"\\\\?\\") || StartsWith(strPath, L"\\\\.\\")) {
        // "\\?\C:\": the volume behind the prefix is no folder to query; start below it.
        size_t posVolumeEnd = strPath.find(L'\\', 4);
        if (posVolumeEnd == std::wstring::npos)
            return std::wstring::npos;
        return strPath.find(L'\\', posVolumeEnd + 1);
    }
    if (StartsWith(strPath, L"\\\\"))
        return EndOfUncRoot(strPath, 2);
    // A path from the root of the current drive starts with its separator: nothing to create
    // before it.
    return strPath.find(L'\\', strPath[0] == L'\\' ? 1 : 0);
}

// Makes sure the folder named by pszFolder exists; creates it when it is missing.
bool EnsureFolder(const wchar_t* pszFolder)
{
    DWORD dwAttributes = GetFileAttributesW(pszFolder);
    if (dwAttributes == INVALID_FILE_ATTRIBUTES) {
        DWORD dwError = GetLastError();
        if (dwError == ERROR_ACCESS_DENIED)
            return true;  // a folder we may not look at, but may still be able to go through
        if (dwError != ERROR_FILE_NOT_FOUND && dwError != ERROR_PATH_NOT_FOUND) {
            TraceError(L"CreateDirectoryTree(%d) : GetFileAttributes failed for %ls (0x%08x)", __LINE__, pszFolder,
                       HRESULT_FROM_WIN32(dwError));
            return false;
        }
        if (CreateDirectoryW(pszFolder, nullptr))
            return true;
        dwError = GetLastError();
        // Another process may have created it in the meantime.
        dwAttributes = GetFileAttributesW(pszFolder);
        if (dwError == ERROR_ALREADY_EXISTS && dwAttributes != INVALID_FILE_ATTRIBUTES &&
            (dwAttributes & FILE_ATTRIBUTE_DIRECTORY))
            return true;
        TraceError(L"CreateDirectoryTree(%d) : CreateDirectory failed for %ls (0x%08x)", __LINE__, pszFolder,
                   HRESULT_FROM_WIN32(dwError));
        return false;
    }
    if (!(dwAttributes & FILE_ATTRIBUTE_DIRECTORY)) {
        TraceError(L"CreateDirectoryTree(%d) : %ls exists and is not a folder", __LINE__, pszFolder);
        return false;
    }
    return true;
}

}  // namespace

bool AppendPath(std::wstring& strPath, const wchar_t* pszPart)
{
    try {
        std::wstring strResult = strPath;
        TrimTrailingBackslashes(strResult);
        strResult += L'\\';
        if (pszPart)
            strResult += SkipLeadingBackslashes(pszPart);
        strPath.swap(strResult);
        return true;
    } catch (const std::exception&) {
        return false;
    }
}

bool CombinePathFormatV(std::wstring& strOut, const wchar_t* pszFolder, const wchar_t* pszFormat, va_list args)
{
    try {
        std::wstring strRelative;
        if (!FormatStringV(strRelative, pszFormat, args))
            return false;
        std::wstring strResult = pszFolder ? pszFolder : L"";
        bool bRootOnly = !strResult.empty() && strResult.find_first_not_of(L'\\') == std::wstring::npos;
        TrimTrailingBackslashes(strResult);
        if (!strResult.empty() || bRootOnly)
            strResult += L'\\';
        else
            strResult = L".\\";
        strResult += SkipLeadingBackslashes(strRelative.c_str());
        strOut.swap(strResult);
        return true;
    } catch (const std::exception&) {
        return false;
    }
}

bool CombinePathFormat(std::wstring& strOut, const wchar_t* pszFolder, const wchar_t* pszFormat, ...)
{
    va_list args;
    va_start(args, pszFormat);
    bool bOk = CombinePathFormatV(strOut, pszFolder, pszFormat, args);
    va_end(args);
    return bOk;
}

bool CreateDirectoryTree(const wchar_t* pszPath)
{
    try {
        if (!pszPath || !*pszPath)
            return false;
        std::wstring strPath = pszPath;
        TrimTrailingBackslashes(strPath);
        if (strPath.empty()) {
            // Only backslashes: the root of the current drive, nothing to create.
            DWORD dwAttributes = GetFileAttributesW(L"\\");
            return dwAttributes != INVALID_FILE_ATTRIBUTES && (dwAttributes & FILE_ATTRIBUTE_DIRECTORY);
        }
        strPath += L'\\';

        for (size_t pos = FirstSeparator(strPath); pos != std::wstring::npos; pos = strPath.find(L'\\', pos + 1)) {
            strPath[pos] = L'\0';
            bool bOk = EnsureFolder(strPath.c_str());
            strPath[pos] = L'\\';
            if (!bOk)
                return false;
        }

        strPath.pop_back();
        DWORD dwAttributes = GetFileAttributesW(strPath.c_str());
        return dwAttributes != INVALID_FILE_ATTRIBUTES && (dwAttributes & FILE_ATTRIBUTE_DIRECTORY);
    } catch (const std::exception&) {
        return false;
    }
}
