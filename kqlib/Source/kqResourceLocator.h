// The resource module locator of the process: which language file to load from a base
// folder, and which languages the folder offers. These use the process's language state
// (CLanguageInfo::Instance(), on the process's silo); see kqLanguageInfo.h for the layout.
#pragma once
#include <windows.h>
#include <string>
#include <vector>

struct IIndexValueCollection;

// On success strPath is the full path of an existing file for pszFileName below the base
// folder and wLanguage its language; on failure strPath is empty and wLanguage 0.
bool LocateResourceModule(const wchar_t* pszBaseFolder, const wchar_t* pszFileName, std::wstring& strPath,
                          LANGID& wLanguage);

// The base folder's languages; false only for an absent base folder or an error.
bool GetAvailableLanguages(const wchar_t* pszBaseFolder, std::vector<WORD>& languages);

// A new index-value collection (one reference, the caller's) holding the languages of
// GetAvailableLanguages as Word values in the order found; null for an absent base folder,
// a failed listing or no memory.
IIndexValueCollection* CreateLanguageCollection(const wchar_t* pszBaseFolder);

bool HasLanguage(const wchar_t* pszBaseFolder, WORD wLanguage);
bool GetLanguageFolderName(WORD wLanguage, const wchar_t* pszBaseFolder, std::wstring& strName);
WORD MapLanguageId(WORD wLanguage, const wchar_t* pszBaseFolder);
WORD GetCurrentUILanguage();
WORD GetDefaultLanguage();

// True when the path finds a file: a last component without "." gets ".*" appended, and any
// found entry that is a file (read-only, hidden, archive, normal, temporary, compressed,
// not-indexed or encrypted) matches. A last component of "*.*" matches any entry, so it tests
// whether a folder exists. pstrFoundName receives the matching entry's name.
bool PathMatchExists(const wchar_t* pszPath, std::wstring* pstrFoundName = nullptr);
