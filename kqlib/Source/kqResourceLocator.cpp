#include "kqResourceLocator.h"

#include <cwchar>
#include <new>

#include "kqFindHandle.h"
#include "kqIndexValueCollectionImpl.h"
#include "kqLanguageInfo.h"
#include "kqSmartPtr.h"
#include "kqValueCollection.h"

bool LocateResourceModule(const wchar_t* pszBaseFolder, const wchar_t* pszFileName, std::wstring& strPath,
                          LANGID& wLanguage)
{
    return CLanguageInfo::Instance().LocateResourceModule(pszBaseFolder, pszFileName, strPath, wLanguage);
}

bool GetAvailableLanguages(const wchar_t* pszBaseFolder, std::vector<WORD>& languages)
{
    return CLanguageInfo::Instance().GetAvailableLanguages(pszBaseFolder, languages);
}

IIndexValueCollection* CreateLanguageCollection(const wchar_t* pszBaseFolder)
{
    try {
        std::vector<WORD> languages;
        if (!pszBaseFolder || !GetAvailableLanguages(pszBaseFolder, languages))
            return nullptr;
        CSmartPtr<IObjectBase> spObject;
        spObject.Attach(CreateIndexValueCollectionImpl());
        IIndexValueCollection* pCollection = nullptr;
        if (!spObject || FAILED(spObject->QueryInterface(IIndexValueCollection::kIid,
                                                         reinterpret_cast<void**>(&pCollection))))
            return nullptr;
        CSmartPtr<IIndexValueCollection> spCollection;
        spCollection.Attach(pCollection);
        for (WORD wLanguage : languages) {
            if (!spCollection->AddWord(wLanguage))
                return nullptr;
        }
        return spCollection.Detach();
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
}

bool HasLanguage(const wchar_t* pszBaseFolder, WORD wLanguage)
{
    return CLanguageInfo::Instance().HasLanguage(pszBaseFolder, wLanguage);
}

bool GetLanguageFolderName(WORD wLanguage, const wchar_t* pszBaseFolder, std::wstring& strName)
{
    return CLanguageInfo::Instance().GetLanguageFolderName(wLanguage, pszBaseFolder, strName);
}

WORD MapLanguageId(WORD wLanguage, const wchar_t* pszBaseFolder)
{
    return CLanguageInfo::Instance().MapLanguageId(wLanguage, pszBaseFolder);
}

WORD GetCurrentUILanguage()
{
    return CLanguageInfo::Instance().GetCurrentUILanguage();
}

WORD GetDefaultLanguage()
{
    return CLanguageInfo::Instance().GetDefaultLanguage();
}

bool PathMatchExists(const wchar_t* pszPath, std::wstring* pstrFoundName)
{
    const DWORD kFileAttributes = FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_ARCHIVE |
                                  FILE_ATTRIBUTE_NORMAL | FILE_ATTRIBUTE_TEMPORARY | FILE_ATTRIBUTE_COMPRESSED |
                                  FILE_ATTRIBUTE_NOT_CONTENT_INDEXED | FILE_ATTRIBUTE_ENCRYPTED;
    if (!pszPath || !*pszPath)
        return false;
    try {
        std::wstring strPattern = pszPath;
        size_t lastSlash = strPattern.find_last_of(L"\\/");
        std::wstring strLast = lastSlash == std::wstring::npos ? strPattern : strPattern.substr(lastSlash + 1);
        bool bAnyEntry = strLast == L"*.*";
        if (!bAnyEntry && strLast.find(L'.') == std::wstring::npos)
            strPattern += L".*";
        WIN32_FIND_DATAW data = {};
        CFindHandle find(strPattern, data);
        if (!find.IsValid())
            return false;
        bool bMatch = false;
        do {
            bMatch = bAnyEntry ||
                     (!(data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) && (data.dwFileAttributes & kFileAttributes));
        } while (!bMatch && find.Next(data));
        if (bMatch && pstrFoundName)
            *pstrFoundName = data.cFileName;
        return bMatch;
    } catch (const std::bad_alloc&) {
        return false;
    }
}
