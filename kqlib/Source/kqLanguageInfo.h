// Language settings of a silo and the language folders below resource base folders: which
// language file a process should load, and which languages a base folder offers.
//
// Layout below a base folder B for a file F and language L: B\pp\F when L has no sublanguage,
// else B\pp\ss\F (see GetLanguageSubFolder); a Langver.map in B may name a folder N for L,
// which then comes first: B\N\pp\ss\F. maplngid.dat (in the silo's common data folder, else
// in the first base folder asked) substitutes one language for another; fallback.dat in B
// names the language of last resort.
//
// Nothing here traces or throws: failures come back as false, 0 or null.
#pragma once
#include <windows.h>
#include <map>
#include <mutex>
#include <string>
#include <vector>
#include "kqLanguageText.h"

class CIsolation;

// The system's language settings; a test replaces them.
class CLanguageSystem
{
public:
    virtual ~CLanguageSystem() = default;
    virtual LANGID UserDefaultUILanguage() const;
    virtual LANGID SystemDefaultUILanguage() const;
};

// The state the locator keeps: the substitution map (loaded once), the Langver.map entries
// (each base folder read once, folders compared without regard to case) and the current UI
// language (kept once read as non-zero). Every member locks for its operation.
class CLanguageInfo
{
public:
    // The process's own, on CIsolation::Instance() and the real system settings.
    static CLanguageInfo& Instance();

    // Both must outlive this object.
    CLanguageInfo(CIsolation& isolation, const CLanguageSystem& system);
    CLanguageInfo(const CLanguageInfo&) = delete;
    CLanguageInfo& operator=(const CLanguageInfo&) = delete;

    // The existing file for pszFileName in the best language below the base folder; on
    // failure strPath is empty and wLanguage 0. Order: the current UI language, then the
    // user's and the system's default UI language, the silo's default language (each followed
    // by its substitute), then fallback.dat.
    bool LocateResourceModule(const wchar_t* pszBaseFolder, const wchar_t* pszFileName, std::wstring& strPath,
                              LANGID& wLanguage);
    // The languages of a base folder: those of its Langver.map if it names any, else those of
    // its language folders (in enumeration order, possibly twice). False only for an absent
    // base folder or an error.
    bool GetAvailableLanguages(const wchar_t* pszBaseFolder, std::vector<WORD>& languages);
    // Langver.map names the language, or its folder exists.
    bool HasLanguage(const wchar_t* pszBaseFolder, WORD wLanguage);
    // The Langver.map folder name of the language.
    bool GetLanguageFolderName(WORD wLanguage, const wchar_t* pszBaseFolder, std::wstring& strName);
    // The substitute from maplngid.dat, or 0.
    WORD MapLanguageId(WORD wLanguage, const wchar_t* pszBaseFolder);
    // "Current UI Language" below HKEY_CURRENT_USER\<silo root>\ResourceConfig, or 0.
    WORD GetCurrentUILanguage();
    // "Default Language" below HKEY_LOCAL_MACHINE\<silo root>\LanguageConfig, or 0.
    WORD GetDefaultLanguage();
    // The language in fallback.dat of the base folder, or 0.
    static WORD ReadFallbackLanguage(const wchar_t* pszBaseFolder);

private:
    struct CFolderEntry
    {
        std::wstring strBaseFolder;
        CLanguageFolderEntry entry;
    };

    WORD ReadLanguageValue(HKEY hRoot, const wchar_t* pszKeySuffix, const wchar_t* pszValueName);
    WORD CachedCurrentUILanguage();
    bool TryLanguage(const std::wstring& strBase, const wchar_t* pszFileName, WORD wLanguage,
                     std::wstring& strPath);
    bool FindLanguageBySettings(const std::wstring& strBase, const wchar_t* pszFileName, std::wstring& strPath,
                                WORD& wLanguage);
    void LoadSubstitutions(const wchar_t* pszBaseFolder);
    bool EnsureFolderMap(const std::wstring& strBase);
    bool LanguageFolder(const std::wstring& strBase, WORD wLanguage, std::wstring& strFolder);

    CIsolation& m_isolation;
    const CLanguageSystem& m_system;

    std::mutex m_substitutionLock;
    bool m_bSubstitutionsLoaded = false;
    std::map<WORD, WORD> m_mapSubstitutions;

    std::recursive_mutex m_folderMapLock;
    std::vector<std::wstring> m_vecReadFolders;
    std::vector<CFolderEntry> m_vecFolderEntries;

    std::mutex m_uiLanguageLock;
    WORD m_wCurrentUILanguage = 0;
};
