#include "kqLanguageInfo.h"

#include <cwchar>
#include <new>

#include "kqFile.h"
#include "kqFindHandle.h"
#include "kqIsolation.h"
#include "kqPathUtils.h"
#include "kqRegistryKey.h"
#include "kqResourceLocator.h"
#include "kqSystemInfo.h"

namespace {

const wchar_t kFolderMapFile[] = L"Langver.map";
const wchar_t kSubstitutionFile[] = L"maplngid.dat";
const wchar_t kFallbackFile[] = L"fallback.dat";

// Langver.map: a UTF-16 file is read up to this many bytes after its mark, an 8-bit file into
// a buffer of kFolderMapBuffer bytes that keeps room for its terminator.
const DWORD kFolderMapUnicodeBytes = 3998;
const DWORD kFolderMapBuffer = 4000;
// maplngid.dat must be larger than the first and at most the second.
const ULONGLONG kSubstitutionMinExclusive = 8;
const ULONGLONG kSubstitutionMax = 900;
const ULONGLONG kFallbackMax = 14;
// The registry reads accept a string value of at most this many bytes.
const DWORD kLanguageValueBytes = 260;

enum FileRead
{
    eFileRead_NotOpened,
    eFileRead_Refused,
    eFileRead_Done,
};

// Reads the file when its size lies in (cbMinExclusive, cbMax]; otherwise it is refused.
FileRead ReadWholeFile(const std::wstring& strPath, ULONGLONG cbMinExclusive, ULONGLONG cbMax,
                       std::vector<BYTE>& bytes)
{
    CFile file;
    if (!file.Open(strPath.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL))
        return eFileRead_NotOpened;
    ULONGLONG ullSize = 0;
    if (!file.GetSize(&ullSize) || ullSize <= cbMinExclusive || ullSize > cbMax)
        return eFileRead_Refused;
    bytes.resize(static_cast<size_t>(ullSize));
    if (ullSize > 0 && !file.Read(bytes.data(), static_cast<DWORD>(ullSize)))
        return eFileRead_Refused;
    return eFileRead_Done;
}

// The text of a Langver.map, at most its buffer's worth. A file cut at the limit loses its
// last, partial line: half a folder name would send lookups to the wrong folder.
bool ReadFolderMapText(const std::wstring& strPath, std::wstring& strText)
{
    strText.clear();
    CFile file;
    if (!file.Open(strPath.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL))
        return false;
    ULONGLONG ullSize = 0;
    if (!file.GetSize(&ullSize))
        return false;
    BYTE mark[2] = {};
    bool bUnicode = ullSize >= 2 && file.Read(mark, 2) && mark[0] == 0xFF && mark[1] == 0xFE;
    ULONGLONG cbLimit = bUnicode ? 2 + kFolderMapUnicodeBytes : kFolderMapBuffer - 1;
    DWORD cbRead = static_cast<DWORD>(ullSize < cbLimit ? ullSize : cbLimit);
    std::vector<BYTE> bytes(cbRead);
    if (cbRead > 0 && !file.ReadAt(0, bytes.data(), cbRead))
        return false;
    if (!DecodeLanguageFileText(bytes.data(), bytes.size(), strText))
        return false;
    if (ullSize > cbLimit) {
        size_t lastBreak = strText.rfind(L'\n');
        strText.resize(lastBreak == std::wstring::npos ? 0 : lastBreak);
    }
    return true;
}

// Base folders are compared without their trailing separators.
std::wstring NormalizeBase(const wchar_t* pszBaseFolder)
{
    std::wstring strBase = pszBaseFolder;
    while (strBase.size() > 1 && (strBase.back() == L'\\' || strBase.back() == L'/'))
        strBase.pop_back();
    return strBase;
}

bool SameFolder(const std::wstring& strLeft, const std::wstring& strRight)
{
    return _wcsicmp(strLeft.c_str(), strRight.c_str()) == 0;
}

bool IsHexName(const wchar_t* pszName, size_t cchMax)
{
    size_t cch = wcslen(pszName);
    if (cch == 0 || cch > cchMax)
        return false;
    for (size_t i = 0; i < cch; ++i) {
        if (!iswxdigit(pszName[i]))
            return false;
    }
    return true;
}

// A sub-folder entry of a find, not "." or "..".
bool IsSubFolder(const WIN32_FIND_DATAW& data)
{
    if (!(data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
        return false;
    return wcscmp(data.cFileName, L".") != 0 && wcscmp(data.cFileName, L"..") != 0;
}

}  // namespace

LANGID CLanguageSystem::UserDefaultUILanguage() const
{
    return GetUserDefaultUILanguage();
}

LANGID CLanguageSystem::SystemDefaultUILanguage() const
{
    return GetSystemDefaultUILanguage();
}

CLanguageInfo& CLanguageInfo::Instance()
{
    static const CLanguageSystem s_system;
    static CLanguageInfo s_info(CIsolation::Instance(), s_system);
    return s_info;
}

CLanguageInfo::CLanguageInfo(CIsolation& isolation, const CLanguageSystem& system)
    : m_isolation(isolation), m_system(system)
{
}

WORD CLanguageInfo::ReadLanguageValue(HKEY hRoot, const wchar_t* pszKeySuffix, const wchar_t* pszValueName)
{
    try {
        std::wstring strRoot;
        if (!m_isolation.GetSiloRegistryRoot(strRoot) || strRoot.empty())
            return 0;
        CRegistryKey key;
        if (!key.Open(hRoot, (strRoot + pszKeySuffix).c_str(), KEY_READ | Wow64RegistryView()))
            return 0;
        wchar_t szText[kLanguageValueBytes / sizeof(wchar_t)] = {};
        DWORD cbText = sizeof(szText);
        if (!key.QueryValue(pszValueName, szText, &cbText))
            return 0;
        WORD wLanguage = 0;
        if (!ReadHexLanguage(szText, wcsnlen(szText, ARRAYSIZE(szText)), wLanguage))
            return 0;
        return wLanguage;
    } catch (const std::bad_alloc&) {
        return 0;
    }
}

WORD CLanguageInfo::GetCurrentUILanguage()
{
    return ReadLanguageValue(HKEY_CURRENT_USER, L"\\ResourceConfig", L"Current UI Language");
}

WORD CLanguageInfo::GetDefaultLanguage()
{
    return ReadLanguageValue(HKEY_LOCAL_MACHINE, L"\\LanguageConfig", L"Default Language");
}

WORD CLanguageInfo::CachedCurrentUILanguage()
{
    {
        std::lock_guard<std::mutex> guard(m_uiLanguageLock);
        if (m_wCurrentUILanguage != 0)
            return m_wCurrentUILanguage;
    }
    WORD wLanguage = GetCurrentUILanguage();
    std::lock_guard<std::mutex> guard(m_uiLanguageLock);
    if (m_wCurrentUILanguage == 0)
        m_wCurrentUILanguage = wLanguage;
    return m_wCurrentUILanguage;
}

WORD CLanguageInfo::ReadFallbackLanguage(const wchar_t* pszBaseFolder)
{
    try {
        if (!pszBaseFolder)
            return 0;
        std::wstring strPath = NormalizeBase(pszBaseFolder);
        std::vector<BYTE> bytes;
        std::wstring strText;
        WORD wLanguage = 0;
        if (!AppendPath(strPath, kFallbackFile) || ReadWholeFile(strPath, 0, kFallbackMax, bytes) != eFileRead_Done ||
            !DecodeLanguageFileText(bytes.data(), bytes.size(), strText) || !ReadHexLanguage(strText, wLanguage))
            return 0;
        return wLanguage;
    } catch (const std::bad_alloc&) {
        return 0;
    }
}

void CLanguageInfo::LoadSubstitutions(const wchar_t* pszBaseFolder)
{
    // Called with m_substitutionLock held. Whatever happens, the file is not looked for again.
    if (m_bSubstitutionsLoaded)
        return;
    m_bSubstitutionsLoaded = true;
    try {
        std::vector<BYTE> bytes;
        FileRead eRead = eFileRead_NotOpened;
        std::wstring strPath;
        if (m_isolation.GetCommonSiloDataPath(strPath) && AppendPath(strPath, kSubstitutionFile))
            eRead = ReadWholeFile(strPath, kSubstitutionMinExclusive, kSubstitutionMax, bytes);
        if (eRead == eFileRead_NotOpened && pszBaseFolder) {
            strPath = NormalizeBase(pszBaseFolder);
            if (AppendPath(strPath, kSubstitutionFile))
                eRead = ReadWholeFile(strPath, kSubstitutionMinExclusive, kSubstitutionMax, bytes);
        }
        std::wstring strText;
        std::map<WORD, WORD> substitutions;
        if (eRead == eFileRead_Done && DecodeLanguageFileText(bytes.data(), bytes.size(), strText) &&
            ParseLanguageSubstitutions(strText, substitutions))
            m_mapSubstitutions.swap(substitutions);
    } catch (const std::bad_alloc&) {
        m_mapSubstitutions.clear();
    }
}

WORD CLanguageInfo::MapLanguageId(WORD wLanguage, const wchar_t* pszBaseFolder)
{
    std::lock_guard<std::mutex> guard(m_substitutionLock);
    LoadSubstitutions(pszBaseFolder);
    auto it = m_mapSubstitutions.find(wLanguage);
    return it == m_mapSubstitutions.end() ? 0 : it->second;
}

bool CLanguageInfo::EnsureFolderMap(const std::wstring& strBase)
{
    // Called with m_folderMapLock held.
    try {
        for (const std::wstring& strRead : m_vecReadFolders) {
            if (SameFolder(strRead, strBase))
                return true;
        }
        std::wstring strPath = strBase;
        std::wstring strText;
        std::vector<CLanguageFolderEntry> entries;
        if (!AppendPath(strPath, kFolderMapFile))
            return false;
        if (ReadFolderMapText(strPath, strText) && !ParseLanguageFolderMap(strText, entries))
            return false;
        std::vector<CFolderEntry> added;
        added.reserve(entries.size());
        for (CLanguageFolderEntry& entry : entries)
            added.push_back(CFolderEntry{strBase, std::move(entry)});
        m_vecFolderEntries.reserve(m_vecFolderEntries.size() + added.size());
        m_vecReadFolders.push_back(strBase);
        for (CFolderEntry& entry : added)
            m_vecFolderEntries.push_back(std::move(entry));
        return true;
    } catch (const std::bad_alloc&) {
        return false;
    }
}

bool CLanguageInfo::GetLanguageFolderName(WORD wLanguage, const wchar_t* pszBaseFolder, std::wstring& strName)
{
    if (!pszBaseFolder)
        return false;
    try {
        std::wstring strBase = NormalizeBase(pszBaseFolder);
        std::lock_guard<std::recursive_mutex> guard(m_folderMapLock);
        if (!EnsureFolderMap(strBase))
            return false;
        for (const CFolderEntry& entry : m_vecFolderEntries) {
            if (entry.entry.wLanguage == wLanguage && SameFolder(entry.strBaseFolder, strBase)) {
                strName = entry.entry.strName;
                return true;
            }
        }
        return false;
    } catch (const std::bad_alloc&) {
        return false;
    }
}

bool CLanguageInfo::LanguageFolder(const std::wstring& strBase, WORD wLanguage, std::wstring& strFolder)
{
    std::wstring strSub;
    if (!GetLanguageSubFolder(wLanguage, strSub))
        return false;
    strFolder = strBase;
    return AppendPath(strFolder, strSub.c_str());
}

bool CLanguageInfo::HasLanguage(const wchar_t* pszBaseFolder, WORD wLanguage)
{
    if (!pszBaseFolder)
        return false;
    try {
        std::wstring strName;
        if (GetLanguageFolderName(wLanguage, pszBaseFolder, strName))
            return true;
        std::wstring strFolder;
        return LanguageFolder(NormalizeBase(pszBaseFolder), wLanguage, strFolder) &&
               AppendPath(strFolder, L"*.*") && PathMatchExists(strFolder.c_str());
    } catch (const std::bad_alloc&) {
        return false;
    }
}

bool CLanguageInfo::TryLanguage(const std::wstring& strBase, const wchar_t* pszFileName, WORD wLanguage,
                                std::wstring& strPath)
{
    std::wstring strFolder = strBase;
    std::wstring strName;
    if (GetLanguageFolderName(wLanguage, strBase.c_str(), strName) && !strName.empty() &&
        !AppendPath(strFolder, strName.c_str()))
        return false;
    std::wstring strLanguageFolder;
    std::wstring strFound;
    if (!LanguageFolder(strFolder, wLanguage, strLanguageFolder))
        return false;
    std::wstring strPattern = strLanguageFolder;
    if (!AppendPath(strPattern, pszFileName) || !PathMatchExists(strPattern.c_str(), &strFound))
        return false;
    strPath = strLanguageFolder;
    return AppendPath(strPath, strFound.c_str());
}

bool CLanguageInfo::FindLanguageBySettings(const std::wstring& strBase, const wchar_t* pszFileName,
                                           std::wstring& strPath, WORD& wLanguage)
{
    const WORD settings[] = {m_system.UserDefaultUILanguage(), m_system.SystemDefaultUILanguage(),
                             GetDefaultLanguage()};
    for (WORD wSetting : settings) {
        if (wSetting == 0)
            continue;
        const WORD candidates[] = {wSetting, MapLanguageId(wSetting, strBase.c_str())};
        for (WORD wCandidate : candidates) {
            if (wCandidate != 0 && TryLanguage(strBase, pszFileName, wCandidate, strPath)) {
                wLanguage = wCandidate;
                return true;
            }
        }
    }
    WORD wFallback = ReadFallbackLanguage(strBase.c_str());
    if (wFallback != 0 && TryLanguage(strBase, pszFileName, wFallback, strPath)) {
        wLanguage = wFallback;
        return true;
    }
    return false;
}

bool CLanguageInfo::LocateResourceModule(const wchar_t* pszBaseFolder, const wchar_t* pszFileName,
                                         std::wstring& strPath, LANGID& wLanguage)
{
    wLanguage = 0;
    try {
        strPath.clear();
        if (!pszBaseFolder || !pszFileName || !*pszBaseFolder || !*pszFileName)
            return false;
        std::wstring strBase = NormalizeBase(pszBaseFolder);
        std::wstring strFound;
        WORD wFound = CachedCurrentUILanguage();
        bool bFound = (wFound != 0 && TryLanguage(strBase, pszFileName, wFound, strFound)) ||
                      FindLanguageBySettings(strBase, pszFileName, strFound, wFound);
        if (!bFound)
            return false;
        strPath.swap(strFound);
        wLanguage = wFound;
        return true;
    } catch (const std::bad_alloc&) {
        strPath.clear();
        return false;
    }
}

bool CLanguageInfo::GetAvailableLanguages(const wchar_t* pszBaseFolder, std::vector<WORD>& languages)
{
    if (!pszBaseFolder || !*pszBaseFolder)
        return false;
    try {
        std::wstring strBase = NormalizeBase(pszBaseFolder);
        {
            std::lock_guard<std::recursive_mutex> guard(m_folderMapLock);
            if (!EnsureFolderMap(strBase))
                return false;
            std::vector<WORD> mapped;
            for (const CFolderEntry& entry : m_vecFolderEntries) {
                if (SameFolder(entry.strBaseFolder, strBase))
                    mapped.push_back(entry.entry.wLanguage);
            }
            if (!mapped.empty()) {
                languages.swap(mapped);
                return true;
            }
        }
        std::wstring strPattern = strBase;
        if (!AppendPath(strPattern, L"*"))
            return false;
        WIN32_FIND_DATAW data = {};
        CFindHandle find(strPattern, data);
        if (!find.IsValid())
            return false;
        // The base folder's own name is not one of its languages (a base folder "...\09").
        size_t lastSlash = strBase.find_last_of(L"\\/");
        std::wstring strOwnName = lastSlash == std::wstring::npos ? strBase : strBase.substr(lastSlash + 1);
        std::vector<WORD> found;
        do {
            WORD wPrimary = 0;
            if (!IsSubFolder(data) || !IsHexName(data.cFileName, 3) || SameFolder(data.cFileName, strOwnName) ||
                !ReadHexLanguage(data.cFileName, wcslen(data.cFileName), wPrimary) || wPrimary == 0 ||
                wPrimary > 0x3FF)
                continue;
            std::wstring strPrimaryFolder = strBase;
            std::wstring strSubPattern;
            if (!AppendPath(strPrimaryFolder, data.cFileName))
                return false;
            strSubPattern = strPrimaryFolder;
            if (!AppendPath(strSubPattern, L"*"))
                return false;
            WIN32_FIND_DATAW subData = {};
            CFindHandle subFind(strSubPattern, subData);
            if (subFind.IsValid()) {
                do {
                    WORD wSub = 0;
                    std::wstring strContent = strPrimaryFolder;
                    if (!IsSubFolder(subData) || !IsHexName(subData.cFileName, 2) ||
                        !ReadHexLanguage(subData.cFileName, wcslen(subData.cFileName), wSub) || wSub == 0 ||
                        wSub > 0x3F || !AppendPath(strContent, subData.cFileName) ||
                        !AppendPath(strContent, L"*.*") || !PathMatchExists(strContent.c_str()))
                        continue;
                    found.push_back(static_cast<WORD>((wSub << 10) | wPrimary));
                } while (subFind.Next(subData));
            }
            if (HasLanguage(strBase.c_str(), wPrimary))
                found.push_back(wPrimary);
        } while (find.Next(data));
        languages.swap(found);
        return true;
    } catch (const std::bad_alloc&) {
        return false;
    }
}
