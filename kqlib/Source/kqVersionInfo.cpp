#include "kqVersionInfo.h"

#include <cwchar>
#include <vector>

#include "kqSystemLibrary.h"

namespace {

// A value the version functions point at lies in the block read from the file only if the
// block's own lengths say so, and those come from the file: every value is checked against
// the block before it is read.
bool LiesInBlock(const void* pValue, size_t cbValue, const std::vector<BYTE>& block)
{
    const BYTE* pb = static_cast<const BYTE*>(pValue);
    const BYTE* pbBegin = block.data();
    const BYTE* pbEnd = pbBegin + block.size();
    return pb && pb >= pbBegin && pb <= pbEnd && cbValue <= static_cast<size_t>(pbEnd - pb);
}

}  // namespace

const wchar_t* const CVersionInfo::s_apszStringNames[CVersionInfo::eString_Count] = {
    L"Comments",        L"CompanyName",     L"FileDescription",  L"FileVersion",
    L"InternalName",    L"LegalCopyright",  L"LegalTrademarks",  L"OriginalFilename",
    L"PrivateBuild",    L"ProductName",     L"ProductVersion",   L"SpecialBuild",
};

const std::wstring& CVersionInfo::GetString(const wchar_t* pszName) const
{
    static const std::wstring s_empty;
    for (int i = 0; i < eString_Count; ++i) {
        if (pszName && _wcsicmp(pszName, s_apszStringNames[i]) == 0)
            return m_astrStrings[i];
    }
    return s_empty;
}

bool CVersionInfo::Read(const wchar_t* pszPath)
{
    typedef DWORD(WINAPI * PFN_SIZE)(LPCWSTR, LPDWORD);
    typedef BOOL(WINAPI * PFN_INFO)(LPCWSTR, DWORD, DWORD, LPVOID);
    typedef BOOL(WINAPI * PFN_QUERY)(LPCVOID, LPCWSTR, LPVOID*, PUINT);

    if (!pszPath)
        return false;
    CSystemLibrary version(L"version.dll");
    auto pfnSize = version.Get<PFN_SIZE>("GetFileVersionInfoSizeW");
    auto pfnInfo = version.Get<PFN_INFO>("GetFileVersionInfoW");
    auto pfnQuery = version.Get<PFN_QUERY>("VerQueryValueW");
    if (!pfnSize || !pfnInfo || !pfnQuery)
        return false;
    try {
        DWORD dwHandle = 0;
        DWORD cbInfo = pfnSize(pszPath, &dwHandle);
        if (cbInfo == 0)
            return false;
        std::vector<BYTE> data(cbInfo);
        if (!pfnInfo(pszPath, 0, cbInfo, data.data()))
            return false;

        void* pFixed = nullptr;
        UINT cbFixed = 0;
        if (!pfnQuery(data.data(), L"\\", &pFixed, &cbFixed) || cbFixed != sizeof(VS_FIXEDFILEINFO) ||
            !LiesInBlock(pFixed, sizeof(VS_FIXEDFILEINFO), data))
            return false;
        m_fixed = *static_cast<VS_FIXEDFILEINFO*>(pFixed);
        for (auto& str : m_astrStrings)
            str.clear();

        WORD* pTranslation = nullptr;
        UINT cbTranslation = 0;
        if (!pfnQuery(data.data(), L"\\VarFileInfo\\Translation", reinterpret_cast<void**>(&pTranslation),
                      &cbTranslation) ||
            cbTranslation < 2 * sizeof(WORD) || !LiesInBlock(pTranslation, 2 * sizeof(WORD), data))
            return true;
        for (int i = 0; i < eString_Count; ++i) {
            wchar_t szQuery[128];
            _snwprintf(szQuery, ARRAYSIZE(szQuery) - 1, L"\\StringFileInfo\\%04x%04x\\%ls", pTranslation[0],
                       pTranslation[1], s_apszStringNames[i]);
            szQuery[ARRAYSIZE(szQuery) - 1] = L'\0';
            wchar_t* pText = nullptr;
            UINT cchText = 0;
            if (!pfnQuery(data.data(), szQuery, reinterpret_cast<void**>(&pText), &cchText) || !pText)
                continue;
            // The text lies in the block read from the file, whose terminator is not to be
            // trusted: it ends at its stated length, its first zero or the block's end.
            const BYTE* pbText = reinterpret_cast<const BYTE*>(pText);
            if (!LiesInBlock(pText, sizeof(wchar_t), data))
                continue;
            const size_t cchLeft = static_cast<size_t>(data.data() + data.size() - pbText) / sizeof(wchar_t);
            m_astrStrings[i].assign(pText, wcsnlen(pText, cchText < cchLeft ? cchText : cchLeft));
        }
        return true;
    } catch (...) {
        return false;
    }
}
