#include "kqLanguageText.h"

#include <cwchar>
#include <new>

#include "kqArchiveItemPath.h"
#include "kqStringConvert.h"

namespace {

bool IsBlank(wchar_t ch)
{
    return ch == L' ' || ch == L'\t' || ch == L'\r' || ch == L'\n' || ch == L'\v' || ch == L'\f';
}

int HexDigit(wchar_t ch)
{
    if (ch >= L'0' && ch <= L'9')
        return ch - L'0';
    if (ch >= L'a' && ch <= L'f')
        return ch - L'a' + 10;
    if (ch >= L'A' && ch <= L'F')
        return ch - L'A' + 10;
    return -1;
}

std::wstring Trim(const std::wstring& strText)
{
    size_t first = 0;
    size_t last = strText.size();
    while (first < last && IsBlank(strText[first]))
        ++first;
    while (last > first && IsBlank(strText[last - 1]))
        --last;
    return strText.substr(first, last - first);
}

// A name that stays one folder below the base: one component that the archive check would let
// into a target folder (no dots-only names, no trailing dot, no device, no colon, no control
// characters), or none at all for the base folder itself.
bool IsSingleFolderName(const std::wstring& strName)
{
    return strName.empty() ||
           (IsContainedItemPath(strName) && strName.find_first_of(L"\\/") == std::wstring::npos);
}

// The longest field maplngid.dat may hold; a longer one ends the reading.
const size_t kMaxSubstitutionField = 4;

}  // namespace

bool ReadHexLanguage(const wchar_t* pchText, size_t cchText, WORD& wValue)
{
    if (!pchText)
        return false;
    size_t pos = 0;
    while (pos < cchText && IsBlank(pchText[pos]))
        ++pos;
    if (pos + 2 < cchText && pchText[pos] == L'0' && (pchText[pos + 1] == L'x' || pchText[pos + 1] == L'X') &&
        HexDigit(pchText[pos + 2]) >= 0)
        pos += 2;
    DWORD dwValue = 0;
    size_t cDigits = 0;
    for (; pos < cchText; ++pos) {
        int nDigit = HexDigit(pchText[pos]);
        if (nDigit < 0)
            break;
        dwValue = (dwValue << 4) | static_cast<DWORD>(nDigit);
        if (dwValue > 0xFFFF)
            return false;
        ++cDigits;
    }
    if (cDigits == 0)
        return false;
    wValue = static_cast<WORD>(dwValue);
    return true;
}

bool ReadHexLanguage(const std::wstring& strText, WORD& wValue)
{
    return ReadHexLanguage(strText.c_str(), strText.size(), wValue);
}

bool DecodeLanguageFileText(const BYTE* pData, size_t cbData, std::wstring& strText)
{
    try {
        strText.clear();
        if (!pData || cbData == 0)
            return true;
        if (cbData >= 2 && pData[0] == 0xFF && pData[1] == 0xFE) {
            size_t cch = (cbData - 2) / sizeof(wchar_t);
            strText.reserve(cch);
            for (size_t i = 0; i < cch; ++i) {
                wchar_t ch = static_cast<wchar_t>(pData[2 + 2 * i] | (pData[3 + 2 * i] << 8));
                if (ch == L'\0')
                    break;
                strText.push_back(ch);
            }
            return true;
        }
        size_t cb = 0;
        while (cb < cbData && pData[cb] != 0)
            ++cb;
        return ConvertToWide(reinterpret_cast<const char*>(pData), cb, strText, CP_THREAD_ACP);
    } catch (const std::bad_alloc&) {
        return false;
    }
}

bool ParseLanguageFolderMap(const std::wstring& strText, std::vector<CLanguageFolderEntry>& entries)
{
    try {
        size_t start = 0;
        while (start <= strText.size()) {
            size_t end = strText.find(L'\n', start);
            if (end == std::wstring::npos)
                end = strText.size();
            std::wstring strLine = strText.substr(start, end - start);
            start = end + 1;
            size_t equals = strLine.find(L'=');
            WORD wLanguage = 0;
            if (equals == std::wstring::npos || !ReadHexLanguage(strLine.c_str(), equals, wLanguage))
                continue;
            CLanguageFolderEntry entry;
            entry.wLanguage = wLanguage;
            entry.strName = Trim(strLine.substr(equals + 1));
            if (!IsSingleFolderName(entry.strName))
                continue;
            entries.push_back(std::move(entry));
        }
        return true;
    } catch (const std::bad_alloc&) {
        return false;
    }
}

bool ParseLanguageSubstitutions(const std::wstring& strText, std::map<WORD, WORD>& substitutions)
{
    try {
        std::wstring strSource;
        std::wstring strField;
        bool bInSubstitute = false;
        for (size_t pos = 0; pos <= strText.size(); ++pos) {
            bool bEnd = pos == strText.size();
            wchar_t ch = bEnd ? L'\0' : strText[pos];
            if (!bInSubstitute && ch == L' ') {
                strSource.swap(strField);
                strField.clear();
                bInSubstitute = true;
                continue;
            }
            if (bEnd || ch == L',') {
                WORD wSource = 0;
                WORD wSubstitute = 0;
                if (bInSubstitute && ReadHexLanguage(strSource, wSource) && ReadHexLanguage(strField, wSubstitute))
                    substitutions[wSource] = wSubstitute;
                strSource.clear();
                strField.clear();
                bInSubstitute = false;
                continue;
            }
            strField.push_back(ch);
            if (strField.size() > kMaxSubstitutionField)
                break;
        }
        return true;
    } catch (const std::bad_alloc&) {
        return false;
    }
}

bool GetLanguageSubFolder(WORD wLanguage, std::wstring& strFolder)
{
    unsigned nPrimary = wLanguage & 0x3FF;
    unsigned nSub = wLanguage >> 10;
    if (nPrimary == 0)
        return false;
    wchar_t szFolder[16];
    if (nSub == 0)
        swprintf(szFolder, ARRAYSIZE(szFolder), nPrimary < 0x100 ? L"%02x" : L"%03x", nPrimary);
    else
        swprintf(szFolder, ARRAYSIZE(szFolder), nPrimary < 0x100 ? L"%02x\\%02x" : L"%03x\\%02x", nPrimary, nSub);
    try {
        strFolder = szFolder;
        return true;
    } catch (const std::bad_alloc&) {
        return false;
    }
}
