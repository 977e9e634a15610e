#include "kqPathExpansion.h"

#include <windows.h>
#include <shlobj.h>

#include <algorithm>
#include <cwchar>
#include <iterator>
#include <vector>

#include "kqIsolation.h"
#include "kqShellFolder.h"
#include "kqRegistryKey.h"
#include "kqSystemInfo.h"

namespace {

const wchar_t kMapKey[] = L"\\Orvane\\PathExpansionMap";
const wchar_t kTokenMark = L'%';
// No Windows path is longer; a longer result means values that grow without end.
const size_t kMaxExpandedChars = 32767;
const DWORD kMaxValueBytes = (kMaxExpandedChars + 1) * sizeof(wchar_t);

// Private folder ids of the silo folders, outside the shell's CSIDL range.
const int kFolderCommonSiloData = 0x10000;
const int kFolderLocalSiloData = 0x10001;

struct FolderEntry
{
    const wchar_t* pszName;
    int nFolder;
};

#define KQ_WIDEN2(text) L##text
#define KQ_WIDEN(text) KQ_WIDEN2(text)
#define KQ_SHELL_FOLDER(csidl) {KQ_WIDEN(#csidl), csidl}

// Ordered as the lower-case names compare (an underscore sorts before letters): looked up by
// binary search without regard to case.
const FolderEntry kFolders[] = {
    {L"COMMON_SILO_DATA", kFolderCommonSiloData},
    KQ_SHELL_FOLDER(CSIDL_ADMINTOOLS),
    KQ_SHELL_FOLDER(CSIDL_ALTSTARTUP),
    KQ_SHELL_FOLDER(CSIDL_APPDATA),
    KQ_SHELL_FOLDER(CSIDL_BITBUCKET),
    KQ_SHELL_FOLDER(CSIDL_CDBURN_AREA),
    KQ_SHELL_FOLDER(CSIDL_COMMON_ADMINTOOLS),
    KQ_SHELL_FOLDER(CSIDL_COMMON_ALTSTARTUP),
    KQ_SHELL_FOLDER(CSIDL_COMMON_APPDATA),
    KQ_SHELL_FOLDER(CSIDL_COMMON_DESKTOPDIRECTORY),
    KQ_SHELL_FOLDER(CSIDL_COMMON_DOCUMENTS),
    KQ_SHELL_FOLDER(CSIDL_COMMON_FAVORITES),
    KQ_SHELL_FOLDER(CSIDL_COMMON_MUSIC),
    KQ_SHELL_FOLDER(CSIDL_COMMON_OEM_LINKS),
    KQ_SHELL_FOLDER(CSIDL_COMMON_PICTURES),
    KQ_SHELL_FOLDER(CSIDL_COMMON_PROGRAMS),
    KQ_SHELL_FOLDER(CSIDL_COMMON_STARTMENU),
    KQ_SHELL_FOLDER(CSIDL_COMMON_STARTUP),
    KQ_SHELL_FOLDER(CSIDL_COMMON_TEMPLATES),
    KQ_SHELL_FOLDER(CSIDL_COMMON_VIDEO),
    KQ_SHELL_FOLDER(CSIDL_COMPUTERSNEARME),
    KQ_SHELL_FOLDER(CSIDL_CONNECTIONS),
    KQ_SHELL_FOLDER(CSIDL_CONTROLS),
    KQ_SHELL_FOLDER(CSIDL_COOKIES),
    KQ_SHELL_FOLDER(CSIDL_DESKTOP),
    KQ_SHELL_FOLDER(CSIDL_DESKTOPDIRECTORY),
    KQ_SHELL_FOLDER(CSIDL_DRIVES),
    KQ_SHELL_FOLDER(CSIDL_FAVORITES),
    KQ_SHELL_FOLDER(CSIDL_FONTS),
    KQ_SHELL_FOLDER(CSIDL_HISTORY),
    KQ_SHELL_FOLDER(CSIDL_INTERNET),
    KQ_SHELL_FOLDER(CSIDL_INTERNET_CACHE),
    KQ_SHELL_FOLDER(CSIDL_LOCAL_APPDATA),
    KQ_SHELL_FOLDER(CSIDL_MYMUSIC),
    KQ_SHELL_FOLDER(CSIDL_MYPICTURES),
    KQ_SHELL_FOLDER(CSIDL_MYVIDEO),
    KQ_SHELL_FOLDER(CSIDL_NETHOOD),
    KQ_SHELL_FOLDER(CSIDL_NETWORK),
    KQ_SHELL_FOLDER(CSIDL_PERSONAL),
    KQ_SHELL_FOLDER(CSIDL_PRINTERS),
    KQ_SHELL_FOLDER(CSIDL_PRINTHOOD),
    KQ_SHELL_FOLDER(CSIDL_PROFILE),
    KQ_SHELL_FOLDER(CSIDL_PROGRAM_FILES),
    KQ_SHELL_FOLDER(CSIDL_PROGRAM_FILES_COMMON),
    KQ_SHELL_FOLDER(CSIDL_PROGRAM_FILES_COMMONX86),
    KQ_SHELL_FOLDER(CSIDL_PROGRAM_FILESX86),
    KQ_SHELL_FOLDER(CSIDL_PROGRAMS),
    KQ_SHELL_FOLDER(CSIDL_RECENT),
    KQ_SHELL_FOLDER(CSIDL_RESOURCES),
    KQ_SHELL_FOLDER(CSIDL_RESOURCES_LOCALIZED),
    KQ_SHELL_FOLDER(CSIDL_SENDTO),
    KQ_SHELL_FOLDER(CSIDL_STARTMENU),
    KQ_SHELL_FOLDER(CSIDL_STARTUP),
    KQ_SHELL_FOLDER(CSIDL_SYSTEM),
    KQ_SHELL_FOLDER(CSIDL_SYSTEMX86),
    KQ_SHELL_FOLDER(CSIDL_TEMPLATES),
    KQ_SHELL_FOLDER(CSIDL_WINDOWS),
    {L"LOCAL_SILO_DATA", kFolderLocalSiloData},
};

static_assert(sizeof(kFolders) / sizeof(kFolders[0]) == 58, "58 folder names");

bool FolderNameLess(const FolderEntry& entry, const wchar_t* pszName)
{
    return _wcsicmp(entry.pszName, pszName) < 0;
}

bool LookUpFolder(CIsolation& isolation, const std::wstring& strName, std::wstring& strValue)
{
    const FolderEntry* pEnd = std::end(kFolders);
    const FolderEntry* pEntry = std::lower_bound(std::begin(kFolders), pEnd, strName.c_str(), FolderNameLess);
    if (pEntry == pEnd || _wcsicmp(pEntry->pszName, strName.c_str()) != 0)
        return false;
    if (pEntry->nFolder == kFolderLocalSiloData)
        return isolation.GetLocalSiloDataPath(strValue);
    if (pEntry->nFolder == kFolderCommonSiloData)
        return isolation.GetCommonSiloDataPath(strValue);
    // A folder without a file-system path is no value either.
    return GetShellFolderPath(pEntry->nFolder, SHGFP_TYPE_DEFAULT, strValue);
}

// A string value (REG_SZ or REG_EXPAND_SZ, used as stored, up to its first zero) of the map;
// anything else is absent.
bool LookUpMap(CRegistryKey& map, const std::wstring& strName, std::wstring& strValue)
{
    if (!map.QueryString(strName.c_str(), strValue, kMaxValueBytes))
        return false;
    const size_t zero = strValue.find(L'\0');
    if (zero != std::wstring::npos)
        strValue.resize(zero);
    return true;
}

std::wstring UpperCase(std::wstring str)
{
    if (!str.empty())
        CharUpperBuffW(&str[0], static_cast<DWORD>(str.size()));
    return str;
}

// Replaces every occurrence of the token's exact text; false when the result grows too long.
bool ReplaceAll(std::wstring& strWork, const std::wstring& strToken, const std::wstring& strValue)
{
    std::wstring strResult;
    size_t pos = 0;
    for (;;) {
        size_t found = strWork.find(strToken, pos);
        if (found == std::wstring::npos)
            break;
        if (strResult.size() + (found - pos) + strValue.size() > kMaxExpandedChars)
            return false;
        strResult.append(strWork, pos, found - pos);
        strResult.append(strValue);
        pos = found + strToken.size();
    }
    if (strResult.size() + (strWork.size() - pos) > kMaxExpandedChars)
        return false;
    strResult.append(strWork, pos, std::wstring::npos);
    strWork.swap(strResult);
    return true;
}

bool Expand(CIsolation& isolation, CRegistryKey& map, const std::wstring& strInput, std::wstring& strOutput)
{
    std::wstring strWork = strInput;
    strOutput = strInput;
    if (strWork.size() <= 2)
        return true;
    std::vector<std::wstring> vecExpanded;
    for (;;) {
        const size_t open = strWork.find(kTokenMark);
        if (open == std::wstring::npos) {
            strOutput = strWork;
            return true;
        }
        if (open + 1 >= strWork.size())
            return false;
        const size_t close = strWork.find(kTokenMark, open + 1);
        if (close == std::wstring::npos)
            return false;
        const std::wstring strToken = strWork.substr(open, close + 1 - open);
        const std::wstring strName = UpperCase(strWork.substr(open + 1, close - open - 1));
        if (strName.empty())
            return false;
        std::wstring strValue;
        if (!LookUpMap(map, strName, strValue) && !LookUpFolder(isolation, strName, strValue))
            return false;
        // A name seen before means values that refer to themselves or to each other.
        if (std::find(vecExpanded.begin(), vecExpanded.end(), strName) != vecExpanded.end())
            return false;
        vecExpanded.push_back(strName);
        if (!ReplaceAll(strWork, strToken, strValue))
            return false;
    }
}

}  // namespace

bool ExpandPath(const wchar_t* pszInput, std::wstring& strOutput)
{
    return ExpandPath(CIsolation::Instance(), pszInput, strOutput);
}

bool ExpandPath(CIsolation& isolation, const wchar_t* pszInput, std::wstring& strOutput)
{
    if (!pszInput)
        return false;
    try {
        std::wstring strRoot;
        if (!isolation.GetSiloRegistryRoot(strRoot) || strRoot.empty())
            return false;
        CRegistryKey map;
        if (!map.Open(HKEY_LOCAL_MACHINE, (strRoot + kMapKey).c_str(), KEY_READ | Wow64RegistryView()))
            return false;
        std::wstring strExpanded;
        bool bResult = Expand(isolation, map, pszInput, strExpanded);
        strOutput.swap(strExpanded);
        return bResult;
    } catch (...) {
        return false;
    }
}
